# Writes a C++ source that holds a file's bytes, for what a library must carry without a
# resource system of its own.
#   cmake -DINPUT=<file> -DOUTPUT=<source> -DNAME=<function> -P embed_file.cmake
# The source defines `std::string_view quillnet::NAME()`.
cmake_minimum_required(VERSION 3.25)
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(([^,]*,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT}.new
  "// Generated from ${INPUT} by cmake/embed_file.cmake.\n"
  "#include <string_view>\n\nnamespace quillnet {\nnamespace {\n\n"
  "constexpr char kBytes[] = {\n    ${bytes}};\n\n}  // namespace\n\n"
  "std::string_view ${NAME}() { return {kBytes, sizeof kBytes}; }\n\n}  // namespace quillnet\n")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
