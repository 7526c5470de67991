// Hex digit conversion for MAC address text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orbitforge::util {

// Marks a byte that is not a hex digit.
inline constexpr unsigned char kNotAHexDigit = 100;

// What a hex digit is, once for the whole program: the value of every byte
// as a digit, '0'-'9' 0-9, 'A'-'F' and 'a'-'f' 10-15, anything else
// kNotAHexDigit. text2num and every decoder read it (the vector code of the
// canonical check has its own lanes).
inline constexpr std::array<unsigned char, 256> kHexDigitValues = [] {
  std::array<unsigned char, 256> values{};
  for (std::size_t c = 0; c < values.size(); ++c) {
    values[c] = c >= '0' && c <= '9'   ? static_cast<unsigned char>(c - '0')
                : c >= 'A' && c <= 'F' ? static_cast<unsigned char>(c - 'A' + 10)
                : c >= 'a' && c <= 'f' ? static_cast<unsigned char>(c - 'a' + 10)
                                       : kNotAHexDigit;
  }
  return values;
}();

constexpr bool is_hex_digit(unsigned char c) noexcept {
  return kHexDigitValues[c] != kNotAHexDigit;
}

// '0'-'9' give 0-9, 'A'-'F' and 'a'-'f' give 10-15, anything else 100.
unsigned char text2num(unsigned char c);

// Adds the octet written by the digits `high` and `low` to `acc`, shifted to
// octet `position` (0 the least significant, up to 7). False, with `acc`
// unchanged, when a digit is not hex or the position is out of range.
bool hex2int(unsigned char high, unsigned char low, int position, std::uint64_t& acc);

}  // namespace orbitforge::util
