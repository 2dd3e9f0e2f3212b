// The program's only file access: inputs read whole under a byte limit, and the one output
// written atomically beside its final name.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "prepare/outcome.h"

namespace orv::prepare {

// Reads at most limit + 1 bytes and never asks the file system for the size, so a growing or
// endless file costs at most that much. `label` names the input's role in messages.
Usable<std::string> read_input(const std::string& path, std::string_view label, size_t limit);

// The same, but a file that does not exist is no mistake: nullopt.
Usable<std::optional<std::string>> read_input_if_present(const std::string& path, std::string_view label, size_t limit);

// Whether `path` may be written: nothing is there, or force is given and it is not a folder.
// Asked before the work, so that a refusal comes first; the write itself asks again.
std::optional<Mistake> check_output(const std::string& path, bool force);

// Writes into a new temporary file in the same folder, flushes it to disk, then renames it
// onto `path`; without force, never over a file that exists (also one that appeared since
// check_output). An interrupted run leaves `path` untouched.
std::optional<Mistake> write_output(const std::string& path, std::string_view bytes, bool force);

}  // namespace orv::prepare
