# The DupDisk page: the memory image read, written, compared, loaded and saved.
vokta_layer(image_pages FOLDER image PAGES DEPENDS image appkit)
target_sources(vokta_image_pages PRIVATE ${PROJECT_SOURCE_DIR}/image/dupdiskpage.cpp)
