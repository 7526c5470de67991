// The addresses one peer file leaves in its set, its statements applied in
// order: an address added, then deleted, is out; a flush empties what came
// before it. Removals are rare, so additions stay a plain vector and only
// removals cost a lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/addresses.h"

namespace adrvet_list {

class PeerStatements {
 public:
  void add(std::uint64_t value) { added_.push_back(value); }
  // Takes `value` out of what was added so far (a later add brings it back).
  void remove(std::uint64_t value) { removed_.emplace_back(value, added_.size()); }
  void flush() {
    added_.clear();
    removed_.clear();
    sorted_ = 0;
  }
  [[nodiscard]] std::size_t removals() const { return removed_.size(); }
  [[nodiscard]] std::size_t size() const { return added_.size(); }
  // Sorts the additions and drops duplicates, so that memory follows the
  // distinct addresses, not the lines read; returns how many were dropped.
  // Only before any removal, whose place among the additions must hold.
  // What an earlier compaction sorted is merged with, not sorted again.
  std::size_t compact();
  // After the last line: compacts once more if a compaction has already
  // given up the order of input, so that the addresses come out sorted.
  std::size_t finish_compaction() { return sorted_ > 0 ? compact() : 0; }
  // Appends what stays to `values`, in the order added, and forgets it.
  void move_into(Addresses& values);

 private:
  Addresses added_;
  std::size_t sorted_ = 0;  // added_[0, sorted_) ascending and distinct
  // (address, how many additions came before the removal)
  std::vector<std::pair<std::uint64_t, std::size_t>> removed_;
};

}  // namespace adrvet_list
