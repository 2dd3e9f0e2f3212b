// DER for timestamp tests: writers for the elements tokens are made of, and a tree that reads a
// token, lets a test change any element (its length form, its contents, its members) and writes
// the token again with every enclosing length recomputed. Byte strings are std::string.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace orv::test::der {

std::string bytes(std::initializer_list<int> octets);

// Definite length in its shortest form.
std::string length(size_t value);
std::string tlv(uint8_t tag, std::string_view contents);
std::string seq(std::initializer_list<std::string_view> members);
std::string seq(const std::vector<std::string>& members);
// A SET written in the order given (DER needs sorted order; see sorted()).
std::string set(const std::vector<std::string>& members);
std::vector<std::string> sorted(std::vector<std::string> members);

std::string integer(int64_t value);
// An INTEGER from its content octets, written as given (so non-minimal forms can be made).
std::string integer_octets(std::string_view octets);
std::string oid(std::string_view dotted);
std::string null();
std::string boolean(bool value);
std::string octets(std::string_view contents);
std::string utf8(std::string_view text);
std::string generalized_time(std::string_view text);  // e.g. "20250601120000Z"
std::string context(int number, std::string_view contents, bool constructed = true);
// AlgorithmIdentifier with the given parameters element (empty: absent).
std::string algorithm(std::string_view dotted, std::string_view parameters = {});

// One element with its members (constructed) or its contents (primitive).
struct Node {
  uint8_t tag = 0;
  std::string contents;            // primitive elements only
  std::vector<Node> children;      // constructed elements only
  size_t extra_length_octets = 0;  // written with this many more length octets than needed
  bool long_form = false;          // a length below 128 written as 0x81 nn

  bool constructed() const { return (tag & 0x20) != 0; }
  Node& at(std::initializer_list<size_t> path);
};

// Reads every element of the constructed tree; primitive contents are kept whole.
Node parse(std::string_view der);
std::string write(const Node& node);

// The constructed tree's elements in pre-order, as paths from the root.
std::vector<std::vector<size_t>> all_paths(const Node& root);
Node& at(Node& root, const std::vector<size_t>& path);

}  // namespace orv::test::der
