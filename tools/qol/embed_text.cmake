# cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=kName -P embed_text.cmake
# Writes a C++ file that defines `extern const char NAME[]` (the bytes of
# INPUT, unchanged, zero-terminated) and `extern const unsigned long NAME_size`.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(('[^']*',){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by embed_text.cmake; do not edit.\n"
  "extern const char ${NAME}[] = {\n${bytes}0};\n"
  "extern const unsigned long ${NAME}_size = ${size};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
