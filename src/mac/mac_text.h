// MAC list text and entered MAC addresses: separator removal and decoding,
// shared by every program that reads addresses the way ADRVET does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace orbitforge::mac {

// Hex digits per address once separators are gone.
inline constexpr std::size_t kDigitsPerAddress = 12;

// ':', line feed, carriage return and '-'. Nothing else, spaces included.
constexpr bool is_separator(unsigned char c) noexcept {
  return c == ':' || c == '\n' || c == '\r' || c == '-';
}

// Decodes 12 hex digits, first octet most significant. False on a non-hex digit.
bool decode_address(const unsigned char* digits, std::uint64_t& value);

enum class ListStatus {
  ok,
  bad_length,  // not a whole number of 12-digit entries
  bad_digit,   // an entry holds a character that is not a hex digit
};

// Decodes list text into `list`, in text order, dropping separators as it
// goes (one pass, no filtered copy). A length that is not a whole number of
// entries is bad_length wherever a bad digit stands; on bad_digit
// `first_bad_entry` holds the index of the first entry that failed.
ListStatus decode_list(const unsigned char* text, std::size_t size,
                       std::vector<std::uint64_t>& list, std::size_t* first_bad_entry = nullptr);
ListStatus decode_list(const std::vector<unsigned char>& text, std::vector<std::uint64_t>& list,
                       std::size_t* first_bad_entry = nullptr);

// The notations of nearly every line and entered address: twelve hex
// digits, or six pairs joined by separators ("aa:bb:cc:dd:ee:ff"). True,
// with the value, for those alone; the full decoders give the same value
// for them, so this is only a fast path in front of them.
bool decode_common_notation(std::string_view text, std::uint64_t& value);

enum class EnteredStatus {
  ok,
  bad_format,  // no digits at all, or a count that is not a multiple of 12
  bad_digit,   // one of the first 12 characters is not a hex digit
};

// Decodes an entered address the way the check does: separators dropped,
// a multiple of 12 characters, the first 12 hex digits give the value.
EnteredStatus decode_entered(const char* text, std::uint64_t& value);

// Writes the address as six lower-case hex pairs joined by `separator`
// ("aa:bb:cc:dd:ee:ff" for ':'), then a terminator: 18 bytes in all.
inline constexpr std::size_t kFormattedSize = 18;
void format_address(std::uint64_t value, char separator, char* out);

}  // namespace orbitforge::mac
