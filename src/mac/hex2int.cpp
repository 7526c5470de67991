#include "mac/hex2int.h"

namespace orbitforge::util {

unsigned char text2num(unsigned char c) { return kHexDigitValues[c]; }

bool hex2int(unsigned char high, unsigned char low, int position, std::uint64_t& acc) {
  const unsigned char high_value = text2num(high);
  const unsigned char low_value = text2num(low);
  if (high_value > 15 || low_value > 15 || position < 0 || position > 7) {
    return false;
  }
  const std::uint64_t octet = std::uint64_t{high_value} * 16U + low_value;
  acc += octet << (8U * static_cast<unsigned>(position));
  return true;
}

}  // namespace orbitforge::util
