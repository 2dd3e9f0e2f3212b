// Reading input files whole under a byte limit, and the same-file checks that stop one file
// from playing two roles.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace orv::cli {

// Reads at most limit + 1 bytes and never asks the file system for the size, so an endless
// or growing file costs at most that much. `label` names the input's role in messages.
Expected<std::string, std::string> read_bytes(const std::string& path, std::string_view label, uint64_t limit);

// read_bytes, then the content must be UTF-8; it is returned unchanged (BOM, CRs and all).
Expected<std::string, std::string> read_text(const std::string& path, std::string_view label, uint64_t limit);

// True when both paths resolve (symbolic links, "." and "..") to the same canonical path.
// A path that cannot be resolved is never the same file: its read reports the problem.
bool same_file(const std::string& a, const std::string& b);

// Index of the earlier input of the first pair, in the order (0,1), (0,2), ..., (1,2), ...,
// whose paths name the same file; nullopt when every input is a different file.
std::optional<size_t> first_shared_file(const std::vector<std::string>& paths);

}  // namespace orv::cli
