// The decoded addresses of a list, in order. They say who may connect, so
// they are handled like the list's text: wiped when their memory is given back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/secret_bytes.h"

namespace adrvet_list {

using Addresses = std::vector<std::uint64_t, orbitforge::util::WipingAllocator<std::uint64_t>>;

// "aa:bb:cc:dd:ee:ff".
std::string colon_text(std::uint64_t value);

// The first `shown` of `values` in colon notation, then how many more:
// "aa:bb:cc:dd:ee:ff, 02:00:00:00:00:01 and 3 more".
std::string first_addresses(const Addresses& values, std::size_t shown);

}  // namespace adrvet_list
