# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the bytes of a binary file as a C++ array definition.
#   cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSIZE=<bytes> -DNAME=<variable>
#         -DHEADER=<include> -P embedbytes.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR bytes "${digits} / 2")
if(NOT bytes EQUAL SIZE)
  message(FATAL_ERROR "${INPUT} holds ${bytes} bytes, ${SIZE} expected")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," list "${hex}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} at build time.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace vokta {\n\n"
  "const std::array<uint8_t, ${SIZE}> ${NAME} = {\n    ${list}\n};\n\n"
  "}  // namespace vokta\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
