#include "sig/chain_entries.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace orv::sig {
namespace {

// Blocks this large cost little against the chain they describe and keep the block list short.
constexpr size_t kBlockSize = size_t{1} << 20;

// An entry's layout: format, outcome and valid as one byte each; the problem count, then each
// problem's code id, line and message; each map as its size, then key (a name id) and value;
// the scope's name id. Numbers are base-128 varints, texts a varint length and their bytes.
void put_number(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7f) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

void put_text(std::string& out, std::string_view text) {
  put_number(out, text.size());
  out += text;
}

// Reads back what the writer above put into one block; a read past the block fails instead.
class EntryReader {
 public:
  EntryReader(std::string_view block, size_t offset) : block_(block), offset_(offset) {}

  bool byte(uint8_t& value) {
    if (offset_ == block_.size()) return false;
    value = static_cast<uint8_t>(block_[offset_++]);
    return true;
  }
  bool number(uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && offset_ < block_.size(); shift += 7) {
      const auto byte = static_cast<uint8_t>(block_[offset_++]);
      value |= uint64_t{byte & 0x7fu} << shift;
      if ((byte & 0x80) == 0) return true;
    }
    return false;
  }
  bool text(std::string& out) {
    uint64_t size = 0;
    if (!number(size) || size > block_.size() - offset_) return false;
    out.assign(block_.substr(offset_, size));
    offset_ += size;
    return true;
  }
  size_t offset() const { return offset_; }

 private:
  std::string_view block_;
  size_t offset_;
};

// The value's place in `seen`, added at the end when it is new. The checks write few distinct
// keys, scopes and codes, so a linear search stays short.
template <class T>
size_t intern(std::vector<T>& seen, const T& value) {
  const auto found = std::find(seen.begin(), seen.end(), value);
  if (found != seen.end()) return static_cast<size_t>(found - seen.begin());
  seen.push_back(value);
  return seen.size() - 1;
}

}  // namespace

ChainEntries::ChainEntries(std::initializer_list<ReceiptVerdict> verdicts) {
  for (const ReceiptVerdict& verdict : verdicts) push_back(verdict);
}

void ChainEntries::push_back(const ReceiptVerdict& verdict) {
  std::string& out = scratch_;
  out.clear();
  out += static_cast<char>(verdict.format);
  out += static_cast<char>(verdict.outcome);
  out += static_cast<char>(verdict.valid);
  put_number(out, verdict.problems.size());
  for (const Problem& problem : verdict.problems) {
    put_number(out, intern(codes_, problem.code));
    put_number(out, problem.line);
    put_text(out, problem.message);
  }
  for (const TextMap* map : {&verdict.facts, &verdict.intermediate}) {
    put_number(out, map->size());
    for (const auto& [key, value] : *map) {
      put_number(out, intern(names_, key));
      put_text(out, value);
    }
  }
  put_number(out, intern(names_, verdict.scope));

  if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < out.size()) {
    blocks_.emplace_back().reserve(std::max(kBlockSize, out.size()));
  }
  blocks_.back() += out;
  ++count_;
}

ChainEntries::const_iterator::const_iterator(const ChainEntries& entries, size_t index) : entries_(&entries), index_(index) {
  decode();
}

ChainEntries::const_iterator& ChainEntries::const_iterator::operator++() {
  ++index_;
  decode();
  return *this;
}

void ChainEntries::const_iterator::decode() {
  if (index_ >= entries_->count_) return;
  const std::vector<std::string>& blocks = entries_->blocks_;
  if (offset_ == blocks[block_].size()) {
    ++block_;
    offset_ = 0;
  }
  // Only this file writes the blocks; a read that fails all the same leaves a REFUSED verdict
  // rather than a made-up VALID one.
  verdict_ = ReceiptVerdict{};
  EntryReader body(blocks[block_], offset_);
  ReceiptVerdict verdict;
  uint8_t format = 0, outcome = 0, valid = 0;
  if (!body.byte(format) || !body.byte(outcome) || !body.byte(valid)) return;
  verdict.format = static_cast<ReceiptFormat>(format);
  verdict.outcome = static_cast<Outcome>(outcome);
  verdict.valid = valid != 0;
  uint64_t count = 0;
  if (!body.number(count)) return;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t code = 0;
    Problem problem{"PARSE", {}, 0};
    if (!body.number(code) || code >= entries_->codes_.size()) return;
    if (!body.number(problem.line) || !body.text(problem.message)) return;
    problem.code = entries_->codes_[code];
    verdict.problems.push_back(std::move(problem));
  }
  for (TextMap* map : {&verdict.facts, &verdict.intermediate}) {
    if (!body.number(count)) return;
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t key = 0;
      std::string value;
      if (!body.number(key) || key >= entries_->names_.size() || !body.text(value)) return;
      map->emplace_hint(map->end(), entries_->names_[key], std::move(value));
    }
  }
  uint64_t scope = 0;
  if (!body.number(scope) || scope >= entries_->names_.size()) return;
  verdict.scope = entries_->names_[scope];
  verdict_ = std::move(verdict);
  offset_ = body.offset();
}

}  // namespace orv::sig
