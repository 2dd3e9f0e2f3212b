// What inspect shows of each kind of input, read and not judged: sections of named values.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "prepare/outcome.h"
#include "prepare/verifier.h"

namespace orv::prepare {

// A value is text, a number or a list of texts.
struct Shown {
  struct Section {
    std::string name;
    verifier::JsonMembers items;
  };
  std::string kind;  // "collateral snapshot", "key receipt", ...
  std::vector<Section> sections;
};

// The kind is told by the document's schema; `now` is the local clock, for days left.
Usable<Shown> show_input(const std::string& text, uint64_t now);

}  // namespace orv::prepare
