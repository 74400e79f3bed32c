# Turns a compiled resource file into a C source file that defines it as a
# byte array, so the program carries its resources inside the executable.
#   cmake -DINPUT=<file.res> -DOUTPUT=<file.c> [-DNAME=<symbol prefix>] -P embed_res.cmake
# defines <NAME>_data[] and <NAME>_size (NAME defaults to module_resource).
if(NOT NAME)
  set(NAME module_resource)
endif()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes per line keeps the generated file readable.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}"
  "/* Generated from a resource script; do not edit. */\n"
  "const unsigned char ${NAME}_data[] = {\n    ${bytes}\n};\n"
  "const unsigned long ${NAME}_size = ${size};\n")
