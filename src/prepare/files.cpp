#include "prepare/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/text.h"

namespace orv::prepare {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { close(); }
  int get() const { return fd_; }
  // Closing reports the last write error on some file systems, so a writer asks.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string shown(const std::string& path) { return is_valid_utf8(path) ? terminal_safe(path) : "(a path that is not UTF-8)"; }

std::string os_error(int error) { return std::string(std::strerror(error)) + " (os error " + decimal(error) + ")"; }

Mistake cannot_read(std::string_view label, const std::string& path, int error) {
  return {"cannot read " + std::string(label) + " " + shown(path) + ": " + os_error(error), "check the path", Status::Usage};
}

Mistake cannot_write(const std::string& path, int error) {
  return {"cannot write " + shown(path) + ": " + os_error(error), "choose an --out path in a folder you can write to"};
}

Mistake exists(const std::string& path) {
  return {shown(path) + " already exists", "choose another --out path, or add --force to replace it"};
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(wrote));
  }
  return true;
}

// Moves the finished temporary file onto its name; without force only where nothing is.
int place(const std::string& temporary, const std::string& path, bool force) {
  if (force) return ::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
  if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace rename still makes hard links, which never replace.
  if (::link(temporary.c_str(), path.c_str()) != 0) return errno;
  ::unlink(temporary.c_str());
  return 0;
}

}  // namespace

Usable<std::optional<std::string>> read_input_if_present(const std::string& path, std::string_view label, size_t limit) {
  // O_NOCTTY: a path naming a terminal must not become our controlling terminal.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::optional<std::string>();
    return cannot_read(label, path, errno);
  }
  std::string data(std::min<size_t>(limit + 1, 65536), '\0');
  size_t filled = 0;
  while (filled <= limit) {
    if (filled == data.size()) data.resize(std::min(data.size() * 2, limit + 1));
    const ssize_t got = ::read(fd.get(), data.data() + filled, data.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return cannot_read(label, path, errno);
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  data.resize(filled);
  if (filled > limit) {
    return Mistake{std::string(label) + " " + shown(path) + " is larger than " + decimal(limit) + " bytes",
                   "check that this is the file meant; no genuine one is this large", Status::Usage};
  }
  return std::optional<std::string>(std::move(data));
}

Usable<std::string> read_input(const std::string& path, std::string_view label, size_t limit) {
  Usable<std::optional<std::string>> read = read_input_if_present(path, label, limit);
  if (!read) return std::move(read).error();
  if (!*read) return cannot_read(label, path, ENOENT);
  return std::move(**read);
}

std::optional<Mistake> check_output(const std::string& path, bool force) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;
  if (status.type() == std::filesystem::file_type::directory) {
    return Mistake{shown(path) + " is a folder", "give --out the path of the file to write"};
  }
  if (!force) return exists(path);
  return std::nullopt;
}

std::optional<Mistake> write_output(const std::string& path, std::string_view bytes, bool force) {
  const std::filesystem::path target(path);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  Fd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0) return cannot_write(path, errno);
  // Readable by others as any file the user writes; mkostemp starts with the owner alone.
  const bool written = ::fchmod(fd.get(), 0644) == 0 && write_all(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  const int write_error = errno;
  if (!fd.close() || !written) {
    ::unlink(temporary.c_str());
    return cannot_write(path, written ? errno : write_error);
  }
  if (const int error = place(temporary, path, force)) {
    ::unlink(temporary.c_str());
    if (error == EEXIST) return exists(path);
    return cannot_write(path, error);
  }
  return std::nullopt;
}

}  // namespace orv::prepare
