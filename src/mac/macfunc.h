// Lookup of a MAC value in a list of MAC values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbitforge::mac {

// Binary search: correct only on a list in ascending order. On any other
// list a listed value may be missed, but an absent one is never found.
bool search_address_in_list(std::uint64_t value, std::vector<std::uint64_t> list);

// The same search over a range the caller keeps, for many lookups in one list.
bool contains_address(const std::uint64_t* first, std::size_t count, std::uint64_t value);

}  // namespace orbitforge::mac
