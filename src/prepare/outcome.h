// How a run of orvelant-prepare ends, and the two kinds of "no" it can say.
#pragma once

#include <string>

#include "core/result.h"

namespace orv::prepare {

// The exit status: what was asked was done; the material is wrong (and the user was told
// what to do); the command line is wrong or names an input that cannot be read, as
// orvelant-verify treats its input errors.
enum class Status { Done = 0, WrongMaterial = 1, Usage = 2 };

// Why a value could not be read from an input, in words the user sees as they stand.
struct Reason {
  std::string text;
};

// Material that cannot be used: what is wrong with it, and what the user can do about it.
// An input that cannot be read at all is a mistake on the command line, not in the material.
struct Mistake {
  std::string what;
  std::string todo;
  Status status = Status::WrongMaterial;
};

template <class T>
using Usable = Expected<T, Mistake>;

}  // namespace orv::prepare
