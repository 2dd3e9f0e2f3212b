// The verdicts of a chain's entries, kept compactly for the report that lists them: a chain of
// a hundred thousand receipts keeps a few hundred bytes per entry instead of a few kilobytes of
// maps and strings. Entries come back in order, one decoded verdict at a time.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "sig/verdict.h"

namespace orv::sig {

class ChainEntries {
 public:
  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = ReceiptVerdict;
    using difference_type = std::ptrdiff_t;
    using pointer = const ReceiptVerdict*;
    using reference = const ReceiptVerdict&;

    reference operator*() const { return verdict_; }
    pointer operator->() const { return &verdict_; }
    const_iterator& operator++();
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }

   private:
    friend class ChainEntries;
    const_iterator(const ChainEntries& entries, size_t index);
    void decode();

    const ChainEntries* entries_;
    size_t index_;
    size_t block_ = 0;
    size_t offset_ = 0;
    ReceiptVerdict verdict_;
  };

  ChainEntries() = default;
  ChainEntries(std::initializer_list<ReceiptVerdict> verdicts);

  void push_back(const ReceiptVerdict& verdict);
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  const_iterator begin() const { return const_iterator(*this, 0); }
  const_iterator end() const { return const_iterator(*this, count_); }

 private:
  // Fixed-size blocks, never reallocated: a growing single buffer would hold two copies of
  // itself while it moves.
  std::vector<std::string> blocks_;
  // Map keys, scopes and problem codes: the few the checks write, each stored once.
  std::vector<std::string> names_;
  std::vector<ProblemCode> codes_;
  std::string scratch_;
  size_t count_ = 0;
};

}  // namespace orv::sig
