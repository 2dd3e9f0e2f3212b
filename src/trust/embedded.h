// The files of trust/, embedded into the binary at build time.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace orv::trust {

struct EmbeddedFile {
  std::string_view name;  // the file name under trust/
  std::span<const unsigned char> bytes;
};

std::span<const EmbeddedFile> embedded_files();

}  // namespace orv::trust
