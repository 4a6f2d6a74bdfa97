# The Format page and the volume label dialog it opens.
vokta_layer(format_pages FOLDER format PAGES DEPENDS format appkit)
target_sources(vokta_format_pages PRIVATE
  ${PROJECT_SOURCE_DIR}/format/formatpage.cpp
  ${PROJECT_SOURCE_DIR}/format/labeledit.cpp
  ${PROJECT_SOURCE_DIR}/format/volumelabeldialog.cpp
)
