// Lookup of a MAC value in a list of MAC values.
#pragma once

#include <cstdint>
#include <vector>

namespace orbitforge::mac {

// Binary search: correct only on a list in ascending order. On any other
// list a listed value may be missed, but an absent one is never found.
bool search_address_in_list(std::uint64_t value, std::vector<std::uint64_t> list);

}  // namespace orbitforge::mac
