// How a run of orvelant-prepare ends, and the two kinds of "no" it can say.
#pragma once

#include <string>

#include "core/result.h"

namespace orv::prepare {

// The exit status: what was asked was done; the material is wrong (and the user was told
// what to do); the command line itself is wrong.
enum class Status { Done = 0, WrongMaterial = 1, Usage = 2 };

// Why a value could not be read from an input, in words the user sees as they stand.
struct Reason {
  std::string text;
};

// Material that cannot be used: what is wrong with it, and what the user can do about it.
struct Mistake {
  std::string what;
  std::string todo;
};

template <class T>
using Usable = Expected<T, Mistake>;

}  // namespace orv::prepare
