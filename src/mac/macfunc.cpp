#include "mac/macfunc.h"

#include <cstddef>

namespace orbitforge::mac {

bool contains_address(const std::uint64_t* first, std::size_t count, std::uint64_t value) {
  // Lower bound, then one equality test.
  const std::uint64_t* const end = first + count;
  while (count > 0) {
    const std::size_t step = count / 2;
    const std::uint64_t* mid = first + step;
    if (*mid < value) {
      first = mid + 1;
      count -= step + 1;
    } else {
      count = step;
    }
  }
  return first != end && !(value < *first);
}

bool search_address_in_list(std::uint64_t value, std::vector<std::uint64_t> list) {
  return contains_address(list.data(), list.size(), value);
}

}  // namespace orbitforge::mac
