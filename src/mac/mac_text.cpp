#include "mac/mac_text.h"

#include <algorithm>
#include <array>

#include "mac/hex2int.h"

namespace orbitforge::mac {

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

namespace {

// The digit table with the four separators marked kSeparator: one lookup
// per byte of a list.
constexpr unsigned char kSeparator = 0xfe;
constexpr std::array<unsigned char, 256> kByteClasses = [] {
  std::array<unsigned char, 256> classes = util::kHexDigitValues;
  for (std::size_t c = 0; c < classes.size(); ++c) {
    if (is_separator(static_cast<unsigned char>(c))) {
      classes[c] = kSeparator;
    }
  }
  return classes;
}();

}  // namespace

ListStatus decode_list(const unsigned char* text, std::size_t size,
                       std::vector<std::uint64_t>& list, std::size_t* first_bad_entry) {
  const auto& kByteClass = kByteClasses;
  list.clear();
  list.reserve(size / kDigitsPerAddress);
  std::size_t digits = 0;  // every byte that is not a separator
  std::size_t i = 0;
  std::uint64_t acc = 0;
  for (; i < size; ++i) {
    const unsigned char value = kByteClass[text[i]];
    if (value == kSeparator) {
      continue;
    }
    if (value > 15) {
      break;
    }
    acc = acc << 4U | value;
    if (++digits % kDigitsPerAddress == 0) {
      list.push_back(acc);
      acc = 0;
    }
  }
  if (i == size) {
    return digits % kDigitsPerAddress == 0 ? ListStatus::ok : ListStatus::bad_length;
  }
  // A bad digit: the length still decides first, so count what is left.
  const std::size_t bad_entry = digits / kDigitsPerAddress;
  for (; i < size; ++i) {
    digits += kByteClass[text[i]] == kSeparator ? 0U : 1U;
  }
  list.clear();
  if (digits % kDigitsPerAddress != 0) {
    return ListStatus::bad_length;
  }
  if (first_bad_entry != nullptr) {
    *first_bad_entry = bad_entry;
  }
  return ListStatus::bad_digit;
}

ListStatus decode_list(const std::vector<unsigned char>& text, std::vector<std::uint64_t>& list,
                       std::size_t* first_bad_entry) {
  return decode_list(text.data(), text.size(), list, first_bad_entry);
}

namespace {

// Appends the bytes of the zero-terminated `text` that are not separators.
void append_without_separators(const char* text, std::vector<unsigned char>& out) {
  for (; *text != '\0'; ++text) {
    const auto c = static_cast<unsigned char>(*text);
    if (!is_separator(c)) {
      out.push_back(c);
    }
  }
}

}  // namespace

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

bool decode_common_notation(std::string_view text, std::uint64_t& value) {
  const bool separated = text.size() == 17;
  if (!separated && text.size() != kDigitsPerAddress) {
    return false;
  }
  std::uint64_t acc = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (separated && i % 3 == 2) {
      if (!is_separator(c)) {
        return false;
      }
      continue;
    }
    const unsigned char digit = util::kHexDigitValues[c];
    if (digit > 15) {
      return false;
    }
    acc = acc << 4U | digit;
  }
  value = acc;
  return true;
}

}  // namespace orbitforge::mac
