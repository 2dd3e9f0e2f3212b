#include "support/shared_data.h"

#include <fstream>
#include <sstream>

namespace orv::test {

std::optional<std::filesystem::path> shared_dir() {
  std::filesystem::path dir = ORV_SHARED_DIR;
  std::error_code ec;
  if (!std::filesystem::is_directory(dir / "testdata", ec)) return std::nullopt;
  return dir;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace orv::test
