# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package of both programs: `cpack -G DEB` in the build folder. Its changelog's
# latest entry names the project's version, and the configuration stops when they differ.

set(VOKTA_MAINTAINER "The Vokta developers <vokta@example.org>")
set(VOKTA_PACKAGING ${PROJECT_SOURCE_DIR}/packaging/debian)
set(VOKTA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/vokta)

file(STRINGS ${VOKTA_PACKAGING}/changelog changelog_heading LIMIT_COUNT 1)
string(REGEX MATCH "^vokta \\(([^)]+)\\)" _ "${changelog_heading}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/debian/changelog begins with version '${CMAKE_MATCH_1}', "
                      "the project is ${PROJECT_VERSION}: add an entry for it")
endif()
set(VOKTA_RELEASE_VERSION ${PROJECT_VERSION})
file(STRINGS ${VOKTA_PACKAGING}/changelog changelog_signature REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX MATCH "  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9])" _ "${changelog_signature}")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months "${CMAKE_MATCH_2}" month)
math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
string(LENGTH "${month}" month_digits)
if(month_digits EQUAL 1)
  set(month "0${month}")
endif()
set(VOKTA_RELEASE_DATE "${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1}")

# vokta_configure_package_file(<in> <out>): fills in the @VARIABLES@ of a file whose
# format has no comments, leaving out the licence lines at its head that start with '#'.
function(vokta_configure_package_file in out)
  file(READ ${in} text)
  string(REGEX REPLACE "^(#[^\n]*\n)+" "" text "${text}")
  file(CONFIGURE OUTPUT ${out} CONTENT "${text}" @ONLY)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${in})
endfunction()

vokta_configure_package_file(${VOKTA_PACKAGING}/copyright.in ${PROJECT_BINARY_DIR}/package/copyright)

# Native packages keep their changelog compressed, with no name or time in the gzip header.
set(changelog_gz ${PROJECT_BINARY_DIR}/package/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND gzip -9 -n -c ${VOKTA_PACKAGING}/changelog > ${changelog_gz}
  DEPENDS ${VOKTA_PACKAGING}/changelog
  VERBATIM)
add_custom_target(vokta_changelog ALL DEPENDS ${changelog_gz})

install(FILES ${PROJECT_BINARY_DIR}/package/copyright ${changelog_gz} DESTINATION ${VOKTA_DOC_DIR})
install(FILES ${VOKTA_PACKAGING}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME vokta)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  # udev reads its rules from /usr/lib whatever the library folder of the architecture.
  install(FILES ${PROJECT_SOURCE_DIR}/res/udev/70-vokta-floppy.rules DESTINATION lib/udev/rules.d)
endif()

set(CPACK_PACKAGE_NAME vokta)
set(CPACK_PACKAGE_VENDOR "The Vokta developers")
set(CPACK_PACKAGE_CONTACT "${VOKTA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "diskette utility: duplicate, format, repair and inspect diskettes")
set(CPACK_PACKAGE_DESCRIPTION
"Vokta works on diskettes below the file system, on their sectors and tracks,
and never makes a diskette worse than it found it: what it cannot do safely,
it refuses and says why.

It duplicates a diskette through an image of the whole diskette held in
memory, formats diskettes as 720K, 1.2M, 1.44M, 1.68M or 1.72M with a
standard or an optimized sector layout, checks and rewrites boot sectors,
repairs damaged FAT diskettes, and reports the medium's layout.

It drives floppy drives through the Linux floppy driver, USB floppy drives,
and diskette files (raw images and ImageDisk files). The package holds the
desktop program vokta, in English and Italian, and vokta-cli for the same
operations from a terminal.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VOKTA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
