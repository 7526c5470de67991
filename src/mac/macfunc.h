// Lookup of a MAC value in a list of MAC values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbitforge::mac {

// The one search every lookup uses: a lower bound over entries 0..count-1,
// read through `value_at(k)`, then one equality test.
template <typename ValueAt>
bool lower_bound_contains(std::size_t count, std::uint64_t value, ValueAt value_at) {
  std::size_t first = 0;
  const std::size_t end = count;
  while (count > 0) {
    const std::size_t step = count / 2;
    const std::size_t mid = first + step;
    if (value_at(mid) < value) {
      first = mid + 1;
      count -= step + 1;
    } else {
      count = step;
    }
  }
  return first != end && !(value < value_at(first));
}

// Binary search: correct only on a list in ascending order. On any other
// list a listed value may be missed, but an absent one is never found.
bool search_address_in_list(std::uint64_t value, std::vector<std::uint64_t> list);

// The same search over a range the caller keeps, for many lookups in one list.
bool contains_address(const std::uint64_t* first, std::size_t count, std::uint64_t value);

}  // namespace orbitforge::mac
