#include "mac/macfunc.h"

#include <cstddef>

namespace orbitforge::mac {

bool search_address_in_list(std::uint64_t value, std::vector<std::uint64_t> list) {
  // Lower bound, then one equality test.
  std::size_t first = 0;
  std::size_t count = list.size();
  while (count > 0) {
    const std::size_t step = count / 2;
    const std::size_t mid = first + step;
    if (list[mid] < value) {
      first = mid + 1;
      count -= step + 1;
    } else {
      count = step;
    }
  }
  return first < list.size() && !(value < list[first]);
}

}  // namespace orbitforge::mac
