// Hex digit conversion for MAC address text.
#pragma once

#include <cstdint>

namespace orbitforge::util {

// Marks a byte that is not a hex digit.
inline constexpr unsigned char kNotAHexDigit = 100;

// '0'-'9' give 0-9, 'A'-'F' and 'a'-'f' give 10-15, anything else 100.
unsigned char text2num(unsigned char c);

// Adds the octet written by the digits `high` and `low` to `acc`, shifted to
// octet `position` (0 the least significant, up to 7). False, with `acc`
// unchanged, when a digit is not hex or the position is out of range.
bool hex2int(unsigned char high, unsigned char low, int position, std::uint64_t& acc);

}  // namespace orbitforge::util
