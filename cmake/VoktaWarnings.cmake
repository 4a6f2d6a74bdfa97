# SPDX-License-Identifier: GPL-3.0-or-later
# The project's warnings are set on each target of ours rather than on the whole tree, so
# that a target carries its own flags wherever it is built, and code that is not ours
# (generated or found) is never compiled under them.
set(VOKTA_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    -Wno-missing-field-initializers)
if(VOKTA_TSAN AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC's ThreadSanitizer instrumentation hides from its flow analysis that a std::optional
  # was engaged; the other builds still carry this warning.
  list(APPEND VOKTA_WARNING_FLAGS -Wno-maybe-uninitialized)
endif()
if(VOKTA_WERROR)
  list(APPEND VOKTA_WARNING_FLAGS -Werror)
endif()

# vokta_warnings(<target>...): the project's warning flags, errors under VOKTA_WERROR, on
# the sources of each target (not passed on to those linking it: they carry their own).
function(vokta_warnings)
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE ${VOKTA_WARNING_FLAGS})
  endforeach()
endfunction()

# Code whose loops run over whole diskettes of flux in the tests (the MFM codec, the flux
# streams, the emulated flux device): the sanitizer builds, unoptimised otherwise, build it
# at -O1, which the sanitizers support, so that such a test stays short.
function(vokta_optimise_under_sanitizers target)
  if(VOKTA_SANITIZE OR VOKTA_TSAN)
    target_compile_options(${target} PRIVATE -O1)
  endif()
endfunction()
