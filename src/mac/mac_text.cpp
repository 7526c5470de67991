#include "mac/mac_text.h"

#include <algorithm>

#include "mac/hex2int.h"

namespace orbitforge::mac {

void remove_separators(std::vector<unsigned char>& text) {
  text.erase(std::remove_if(text.begin(), text.end(), is_separator), text.end());
}

void append_without_separators(const char* text, std::vector<unsigned char>& out) {
  for (; *text != '\0'; ++text) {
    const auto c = static_cast<unsigned char>(*text);
    if (!is_separator(c)) {
      out.push_back(c);
    }
  }
}

bool decode_address(const unsigned char* digits, std::uint64_t& value) {
  std::uint64_t acc = 0;
  for (std::size_t pair = 0; pair < 6; ++pair) {
    const int position = 5 - static_cast<int>(pair);
    if (!util::hex2int(digits[2 * pair], digits[2 * pair + 1], position, acc)) {
      return false;
    }
  }
  value = acc;
  return true;
}

ListStatus decode_list(const std::vector<unsigned char>& text, std::vector<std::uint64_t>& list,
                       std::size_t* first_bad_entry) {
  if (text.size() % kDigitsPerAddress != 0) {
    return ListStatus::bad_length;
  }
  const std::size_t entries = text.size() / kDigitsPerAddress;
  list.clear();
  list.reserve(entries);
  for (std::size_t k = 0; k < entries; ++k) {
    std::uint64_t value = 0;
    if (!decode_address(text.data() + k * kDigitsPerAddress, value)) {
      if (first_bad_entry != nullptr) {
        *first_bad_entry = k;
      }
      return ListStatus::bad_digit;
    }
    list.push_back(value);
  }
  return ListStatus::ok;
}

EnteredStatus decode_entered(const char* text, std::uint64_t& value) {
  std::vector<unsigned char> entered;
  entered.reserve(64);
  append_without_separators(text, entered);
  if (entered.empty() || entered.size() % kDigitsPerAddress != 0) {
    return EnteredStatus::bad_format;
  }
  return decode_address(entered.data(), value) ? EnteredStatus::ok : EnteredStatus::bad_digit;
}

void format_address(std::uint64_t value, char separator, char* out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t octet = 0; octet < 6; ++octet) {
    const auto byte = static_cast<unsigned>(value >> (8 * (5 - octet))) & 0xffU;
    out[3 * octet] = kDigits[byte >> 4];
    out[3 * octet + 1] = kDigits[byte & 0xfU];
    out[3 * octet + 2] = octet == 5 ? '\0' : separator;
  }
}

}  // namespace orbitforge::mac
