#include "cli/inputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/text.h"

namespace orv::cli {
namespace {

std::string cannot_read(std::string_view label, const std::string& path, int error) {
  return "cannot read " + std::string(label) + " " + terminal_safe(path) + ": " + std::strerror(error) + " (os error " +
         std::to_string(error) + ")";
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::optional<std::filesystem::path> canonical(const std::string& path) {
  std::error_code ec;
  std::filesystem::path resolved = std::filesystem::canonical(path, ec);
  if (ec) return std::nullopt;
  return resolved;
}

}  // namespace

Expected<std::string, std::string> read_bytes(const std::string& path, std::string_view label, uint64_t limit) {
  // O_NOCTTY: a path naming a terminal must not become our controlling terminal.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) return fail(cannot_read(label, path, errno));

  // Reserve the whole limit up front: an allocation this large is address space only until
  // written, so a small file costs little, and a large one is never copied while it grows
  // (growing by doubling would hold two copies of a 256 MiB input at once).
  // Limits are the fixed per-input constants (256 MiB at most), so limit + 1 cannot overflow.
  const uint64_t cap = limit + 1;
  constexpr size_t kChunk = 1024 * 1024;
  std::string data;
  data.reserve(static_cast<size_t>(cap));
  size_t filled = 0;
  while (filled < cap) {
    if (filled == data.size()) data.resize(static_cast<size_t>(std::min<uint64_t>(filled + kChunk, cap)));
    const ssize_t got = ::read(fd.get(), data.data() + filled, data.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail(cannot_read(label, path, errno));
    }
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  data.resize(filled);
  if (filled > limit) {
    return fail(std::string(label) + " " + terminal_safe(path) + " is larger than the " + decimal(limit) +
                "-byte limit; refusing to read it");
  }
  return data;
}

Expected<std::string, std::string> read_text(const std::string& path, std::string_view label, uint64_t limit) {
  Expected<std::string, std::string> bytes = read_bytes(path, label, limit);
  if (!bytes) return bytes;
  if (!is_valid_utf8(*bytes)) return fail(std::string(label) + " " + terminal_safe(path) + " is not UTF-8 text");
  return bytes;
}

bool same_file(const std::string& a, const std::string& b) {
  const auto ca = canonical(a);
  if (!ca) return false;
  const auto cb = canonical(b);
  return cb && ca->native() == cb->native();
}

std::optional<size_t> first_shared_file(const std::vector<std::string>& paths) {
  std::vector<std::optional<std::filesystem::path>> resolved;
  resolved.reserve(paths.size());
  for (const std::string& path : paths) resolved.push_back(canonical(path));
  for (size_t i = 0; i < resolved.size(); ++i) {
    if (!resolved[i]) continue;
    for (size_t j = i + 1; j < resolved.size(); ++j) {
      if (resolved[j] && resolved[i]->native() == resolved[j]->native()) return i;
    }
  }
  return std::nullopt;
}

}  // namespace orv::cli
