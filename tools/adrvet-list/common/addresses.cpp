#include "common/addresses.h"

#include "mac/mac_text.h"

namespace adrvet_list {

std::string colon_text(std::uint64_t value) {
  char text[orbitforge::mac::kFormattedSize];
  orbitforge::mac::format_address(value, ':', text);
  return text;
}

}  // namespace adrvet_list
