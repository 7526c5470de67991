// Text helpers shared by the peer formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/addresses.h"
#include "formats/peer_format.h"
#include "mac/mac_text.h"

namespace adrvet_list::text {

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text);

// The first blank-separated word of `text` (already trimmed), and the rest.
std::string_view first_word(std::string_view text, std::string_view& rest);

std::vector<std::string_view> words(std::string_view text);

bool is_comment_or_blank(std::string_view trimmed);

// Why `name` is no identifier of at most `max_size` characters (letters,
// digits, '_', '-', '.', starting with a letter or '_'), or nullptr: the
// names both nft and ipset take unquoted.
const char* identifier_problem(std::string_view name, std::size_t max_size);

// "aa:bb:cc:dd:ee:ff" has this many characters.
inline constexpr std::size_t kAddressSize = orbitforge::mac::kFormattedSize - 1;

// The address in lower-case hex pairs joined by `separator`.
void append_address(std::string& out, std::uint64_t value, char separator);

// prefix, the address in colon notation and a line feed, for each value;
// a labelled address gets its label, cut to `max_label_bytes`, as a
// full-line '#' comment before it.
void write_lines(std::string& out, const Addresses& values, std::string_view prefix,
                 const ExportNames& names, std::size_t max_label_bytes);

// "# LABEL\n" when the address has a label, cut to `max_label_bytes`, for
// the files whose comments are whole lines beginning with '#'.
void write_label_comment(std::string& out, const ExportNames& names, std::uint64_t address,
                         std::size_t max_label_bytes);

}  // namespace adrvet_list::text
