# The Repair page and the window that shows the disk checker's report.
vokta_layer(fat_pages FOLDER fat PAGES DEPENDS fat appkit)
target_sources(vokta_fat_pages PRIVATE
  ${PROJECT_SOURCE_DIR}/fat/repairpage.cpp
  ${PROJECT_SOURCE_DIR}/fat/diskcheckerwindow.cpp
)
