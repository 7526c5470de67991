#include "formats/address_parser.h"

#include <array>
#include <cstddef>

#include "formats/text.h"
#include "mac/hex2int.h"
#include "mac/mac_text.h"

namespace adrvet_list {
namespace {

std::string_view strip(std::string_view line) {
  const auto comment = line.find('#');
  if (comment != std::string_view::npos) {
    line = line.substr(0, comment);
  }
  return text::trim(line);
}

// The one digit table, read directly: a call per digit was a sizeable
// share of a big pack or check.
constexpr const std::array<unsigned char, 256>& digit_values() {
  return orbitforge::util::kHexDigitValues;
}

using DigitValues = std::array<unsigned char, 256>;

bool digit_value(const DigitValues& digits, char c, std::uint64_t& acc) {
  const unsigned char value = digits[static_cast<unsigned char>(c)];
  if (value > 15) {
    return false;
  }
  acc = acc << 4U | value;
  return true;
}

// aabb.ccdd.eeff, as Cisco writes addresses.
bool parse_dotted(const DigitValues& digits, std::string_view text, std::uint64_t& value) {
  if (text.size() != 14 || text[4] != '.' || text[9] != '.') {
    return false;
  }
  std::uint64_t acc = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i != 4 && i != 9 && !digit_value(digits, text[i], acc)) {
      return false;
    }
  }
  value = acc;
  return true;
}

}  // namespace

ParsedLine parse_list_line(std::string_view line) {
  ParsedLine parsed;
  const DigitValues& values = digit_values();
  const std::string_view common =
      !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
  if (orbitforge::mac::decode_common_notation(common, parsed.value)) {
    parsed.kind = ParsedLine::Kind::address;
    parsed.content = common;
    return parsed;
  }
  parsed.content = strip(line);
  if (parsed.content.empty()) {
    return parsed;
  }
  if (parse_dotted(values, parsed.content, parsed.value)) {
    parsed.kind = ParsedLine::Kind::address;
    return parsed;
  }
  std::uint64_t acc = 0;
  std::size_t digits = 0;
  for (const char c : parsed.content) {
    if (orbitforge::mac::is_separator(static_cast<unsigned char>(c))) {
      continue;
    }
    if (!digit_value(values, c, acc)) {
      parsed.kind = ParsedLine::Kind::invalid;
      parsed.reason =
          text::is_blank(c) ? "more than one word on the line" : "not a hex digit or separator";
      return parsed;
    }
    ++digits;
  }
  if (digits != orbitforge::mac::kDigitsPerAddress) {
    parsed.kind = ParsedLine::Kind::invalid;
    parsed.reason = digits < orbitforge::mac::kDigitsPerAddress ? "too few hex digits (need 12)"
                                                                : "too many hex digits (need 12)";
    return parsed;
  }
  parsed.kind = ParsedLine::Kind::address;
  parsed.value = acc;
  return parsed;
}

const char* unusual_address_kind(std::uint64_t value) {
  constexpr std::uint64_t kBroadcast = 0xFFFFFFFFFFFFULL;
  const auto first_octet = static_cast<unsigned>(value >> 40U);
  if (value == 0) {
    return "all-zero address";
  }
  if (value == kBroadcast) {
    return "broadcast address";
  }
  if ((first_octet & 1U) != 0) {
    return "multicast address";
  }
  if ((first_octet & 2U) != 0) {
    return "locally administered address";
  }
  return nullptr;
}

}  // namespace adrvet_list
