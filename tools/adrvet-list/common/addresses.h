// The decoded addresses of a list, in order. They say who may connect, so
// they are handled like the list's text: wiped when their memory is given back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/secret_bytes.h"

namespace adrvet_list {

using Addresses = std::vector<std::uint64_t, orbitforge::util::WipingAllocator<std::uint64_t>>;

// "aa:bb:cc:dd:ee:ff".
std::string colon_text(std::uint64_t value);

}  // namespace adrvet_list
