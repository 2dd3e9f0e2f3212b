# Writes a C++ source that holds each named file of `dir` as a byte array, so the program
# carries its trust material inside the binary and reads no file for it at run time.
function(orv_embed_files output dir)
  set(entries "")
  set(arrays "")
  set(index 0)
  foreach(name ${ARGN})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${dir}/${name})
    file(READ ${dir}/${name} hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    file(SIZE ${dir}/${name} size)
    string(APPEND arrays "const unsigned char kFile${index}[${size}] = {${bytes}};\n")
    string(APPEND entries "    {\"${name}\", {kFile${index}, ${size}}},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  file(WRITE ${output}.tmp "// Generated from trust/ by cmake/EmbedFiles.cmake; do not edit.
#include \"trust/embedded.h\"

namespace orv::trust {
namespace {
${arrays}}  // namespace

std::span<const EmbeddedFile> embedded_files() {
  static const EmbeddedFile files[] = {
${entries}  };
  return files;
}

}  // namespace orv::trust
")
  file(COPY_FILE ${output}.tmp ${output} ONLY_IF_DIFFERENT)
endfunction()
