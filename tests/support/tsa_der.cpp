#include "support/tsa_der.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <algorithm>
#include <stdexcept>

namespace orv::test::der {

std::string bytes(std::initializer_list<int> octets) {
  std::string out;
  for (const int octet : octets) out += static_cast<char>(octet);
  return out;
}

std::string length(size_t value) {
  if (value < 0x80) return std::string(1, static_cast<char>(value));
  std::string octets;
  for (size_t rest = value; rest > 0; rest >>= 8) octets.insert(octets.begin(), static_cast<char>(rest & 0xFF));
  return static_cast<char>(0x80 | octets.size()) + octets;
}

std::string tlv(uint8_t tag, std::string_view contents) {
  return static_cast<char>(tag) + length(contents.size()) + std::string(contents);
}

std::string seq(std::initializer_list<std::string_view> members) {
  std::string contents;
  for (const std::string_view member : members) contents += member;
  return tlv(0x30, contents);
}

std::string seq(const std::vector<std::string>& members) {
  std::string contents;
  for (const std::string& member : members) contents += member;
  return tlv(0x30, contents);
}

std::string set(const std::vector<std::string>& members) {
  std::string contents;
  for (const std::string& member : members) contents += member;
  return tlv(0x31, contents);
}

std::vector<std::string> sorted(std::vector<std::string> members) {
  // DER orders SET OF members by their encodings, as unsigned octet strings padded with zeros.
  std::sort(members.begin(), members.end(), [](const std::string& a, const std::string& b) {
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      const auto x = i < a.size() ? static_cast<uint8_t>(a[i]) : 0;
      const auto y = i < b.size() ? static_cast<uint8_t>(b[i]) : 0;
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  });
  return members;
}

std::string integer(int64_t value) {
  std::string octets;
  uint64_t bits = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) octets.insert(octets.begin(), static_cast<char>((bits >> (8 * i)) & 0xFF));
  // Shortest two's complement: drop a leading octet while the next keeps the sign.
  while (octets.size() > 1) {
    const auto first = static_cast<uint8_t>(octets[0]);
    const auto second = static_cast<uint8_t>(octets[1]);
    if ((first == 0x00 && second < 0x80) || (first == 0xFF && second >= 0x80)) {
      octets.erase(octets.begin());
    } else {
      break;
    }
  }
  return tlv(0x02, octets);
}

std::string integer_octets(std::string_view octets) { return tlv(0x02, octets); }

std::string oid(std::string_view dotted) {
  ASN1_OBJECT* object = OBJ_txt2obj(std::string(dotted).c_str(), 1);
  if (object == nullptr) throw std::invalid_argument("bad OID " + std::string(dotted));
  unsigned char* der = nullptr;
  const int len = i2d_ASN1_OBJECT(object, &der);
  std::string out(reinterpret_cast<const char*>(der), static_cast<size_t>(len));
  OPENSSL_free(der);
  ASN1_OBJECT_free(object);
  return out;
}

std::string null() { return bytes({0x05, 0x00}); }
std::string boolean(bool value) { return bytes({0x01, 0x01, value ? 0xFF : 0x00}); }
std::string octets(std::string_view contents) { return tlv(0x04, contents); }
std::string utf8(std::string_view text) { return tlv(0x0C, text); }
std::string generalized_time(std::string_view text) { return tlv(0x18, text); }

std::string context(int number, std::string_view contents, bool constructed) {
  return tlv(static_cast<uint8_t>(0x80 | (constructed ? 0x20 : 0x00) | number), contents);
}

std::string algorithm(std::string_view dotted, std::string_view parameters) { return seq({oid(dotted), parameters}); }

namespace {

struct Reader {
  std::string_view rest;

  Node element() {
    if (rest.size() < 2) throw std::invalid_argument("truncated element");
    Node node;
    node.tag = static_cast<uint8_t>(rest[0]);
    size_t len = static_cast<uint8_t>(rest[1]);
    size_t header = 2;
    if (len >= 0x80) {
      const size_t count = len - 0x80;
      len = 0;
      for (size_t i = 0; i < count; ++i) len = (len << 8) | static_cast<uint8_t>(rest[2 + i]);
      header += count;
    }
    if (rest.size() < header + len) throw std::invalid_argument("element past its parent");
    const std::string_view contents = rest.substr(header, len);
    rest.remove_prefix(header + len);
    if (node.constructed()) {
      Reader inner{contents};
      while (!inner.rest.empty()) node.children.push_back(inner.element());
    } else {
      node.contents = std::string(contents);
    }
    return node;
  }
};

void collect(const Node& node, std::vector<size_t>& path, std::vector<std::vector<size_t>>& out) {
  out.push_back(path);
  for (size_t i = 0; i < node.children.size(); ++i) {
    path.push_back(i);
    collect(node.children[i], path, out);
    path.pop_back();
  }
}

}  // namespace

Node& Node::at(std::initializer_list<size_t> path) {
  Node* node = this;
  for (const size_t index : path) node = &node->children.at(index);
  return *node;
}

Node parse(std::string_view der) {
  Reader reader{der};
  Node node = reader.element();
  if (!reader.rest.empty()) throw std::invalid_argument("trailing data");
  return node;
}

std::string write(const Node& node) {
  std::string contents;
  if (node.constructed()) {
    for (const Node& child : node.children) contents += write(child);
  } else {
    contents = node.contents;
  }
  std::string len = length(contents.size());
  if (node.long_form && contents.size() < 0x80) len = bytes({0x81, static_cast<int>(contents.size())});
  if (node.extra_length_octets > 0) {
    std::string octets = len.size() == 1 ? len : len.substr(1);
    octets.insert(0, node.extra_length_octets, '\0');
    len = static_cast<char>(0x80 | octets.size()) + octets;
  }
  return static_cast<char>(node.tag) + len + contents;
}

std::vector<std::vector<size_t>> all_paths(const Node& root) {
  std::vector<std::vector<size_t>> out;
  std::vector<size_t> path;
  collect(root, path, out);
  return out;
}

Node& at(Node& root, const std::vector<size_t>& path) {
  Node* node = &root;
  for (const size_t index : path) node = &node->children.at(index);
  return *node;
}

}  // namespace orv::test::der
