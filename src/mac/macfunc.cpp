#include "mac/macfunc.h"

#include <cstddef>

namespace orbitforge::mac {

bool contains_address(const std::uint64_t* first, std::size_t count, std::uint64_t value) {
  return lower_bound_contains(count, value, [first](std::size_t k) { return first[k]; });
}

bool search_address_in_list(std::uint64_t value, std::vector<std::uint64_t> list) {
  return contains_address(list.data(), list.size(), value);
}

}  // namespace orbitforge::mac
