#include "common/addresses.h"

#include "mac/mac_text.h"

namespace adrvet_list {

std::string colon_text(std::uint64_t value) {
  char text[orbitforge::mac::kFormattedSize];
  orbitforge::mac::format_address(value, ':', text);
  return text;
}

std::string first_addresses(const Addresses& values, std::size_t shown) {
  std::string text;
  for (std::size_t i = 0; i < values.size() && i < shown; ++i) {
    text += (i == 0 ? "" : ", ") + colon_text(values[i]);
  }
  if (values.size() > shown) {
    text += " and " + std::to_string(values.size() - shown) + " more";
  }
  return text;
}

}  // namespace adrvet_list
