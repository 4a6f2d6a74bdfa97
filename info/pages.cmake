# The Info page: the drive information report shown in a list and saved as a text file.
vokta_layer(info_pages FOLDER info PAGES DEPENDS info appkit)
target_sources(vokta_info_pages PRIVATE ${PROJECT_SOURCE_DIR}/info/infopage.cpp)
