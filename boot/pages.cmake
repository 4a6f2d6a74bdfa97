# The Boot page: the boot sector checked test by test, or a good one written over it.
vokta_layer(boot_pages FOLDER boot PAGES DEPENDS boot appkit)
target_sources(vokta_boot_pages PRIVATE ${PROJECT_SOURCE_DIR}/boot/bootpage.cpp)
