# SPDX-License-Identifier: GPL-3.0-or-later
# Each subsystem folder is one static library, a layer that may use only the layers below
# it. The compiler enforces that: a layer's include root is a folder of its own in the
# build tree holding links to its source folder and to those of the layers below, so an
# include of a higher layer is "file not found" rather than a habit to be reviewed.

# Every layer, and an interface library linking them all (the tests use it).
add_library(vokta_layers INTERFACE)

# vokta_layer(<name> [FOLDER <folder>] [QT] [DEPENDS <layer>...]): the library
# vokta_<name> of the sources in <folder> (<name> when not given, relative to the project's
# root), linked to the libraries
# of the layers it depends on. It sees its own folder and every folder those see; whoever
# links it sees the same. A QT layer holds Qt widgets (the kit, the pages, the program)
# and links Qt Widgets; every other layer is plain C++.
function(vokta_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "QT" "FOLDER" "DEPENDS")
  if(NOT arg_FOLDER)
    set(arg_FOLDER ${name})
  endif()
  set(visible ${arg_FOLDER})
  foreach(below IN LISTS arg_DEPENDS)
    get_property(folders GLOBAL PROPERTY VOKTA_LAYER_SEES_${below})
    if(NOT folders)
      message(FATAL_ERROR "layer ${name} depends on ${below}, which is no layer declared before it")
    endif()
    list(APPEND visible ${folders})
  endforeach()
  list(REMOVE_DUPLICATES visible)
  set_property(GLOBAL PROPERTY VOKTA_LAYER_SEES_${name} ${visible})
  if(NOT arg_QT)
    set_property(GLOBAL APPEND PROPERTY VOKTA_LAYERS ${name})
    target_link_libraries(vokta_layers INTERFACE vokta_${name})
  endif()

  # A folder's files are linked one by one, not the folder itself: a layer nested in another's
  # folder (drive/backend/emulated in drive/) stays out of sight of the outer one.
  set(root ${PROJECT_BINARY_DIR}/include-roots/${name})
  file(REMOVE_RECURSE ${root})
  foreach(folder IN LISTS visible)
    file(GLOB sources LIST_DIRECTORIES false CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*)
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(source IN LISTS sources)
      get_filename_component(leaf ${source} NAME)
      file(CREATE_LINK ${source} ${root}/${folder}/${leaf} SYMBOLIC)
    endforeach()
  endforeach()

  add_library(vokta_${name} STATIC)
  vokta_warnings(vokta_${name})
  target_include_directories(vokta_${name} PUBLIC ${root})
  list(TRANSFORM arg_DEPENDS PREPEND vokta_)
  target_link_libraries(vokta_${name} PUBLIC ${arg_DEPENDS})
  if(arg_QT)
    set_target_properties(vokta_${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(vokta_${name} PUBLIC Qt6::Widgets)
  endif()
endfunction()

# Everything below the Qt kit is plain C++: a layer that links Qt stops the configuration.
function(vokta_refuse_qt_below_the_pages)
  get_property(layers GLOBAL PROPERTY VOKTA_LAYERS)
  foreach(layer IN LISTS layers)
    get_target_property(libraries vokta_${layer} LINK_LIBRARIES)
    if(libraries MATCHES "(^|;)Qt[0-9]*::")
      message(FATAL_ERROR "vokta_${layer} links Qt (${libraries}): only ui, app/pages and app may")
    endif()
  endforeach()
endfunction()
