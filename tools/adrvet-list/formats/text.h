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

// `text` with its ASCII letters in lower case: names the peers take in any
// case (FreeRADIUS attributes, month names).
std::string lower_ascii(std::string_view text);

bool is_comment_or_blank(std::string_view trimmed);

// A time as nft and ipset write it, in whole seconds (milliseconds round
// up, so that a peer's last moment is kept): digits with the units d, h,
// m, s and ms in that order ("1d2h", "59m58s960ms"), or bare digits for
// seconds. -1 when it is none, or beyond a hundred years.
std::int64_t duration_seconds(std::string_view text);

// The full-line '#' comment right above an entry, which export writes as
// the entry's label (hostapd, dnsmasq, FreeRADIUS files).
class CommentAbove {
 public:
  // Whether `line` is a full-line comment; it is then kept for the next line.
  bool keep(std::string_view line);
  // The comment of the line before, for this line's entries (empty for
  // none); later lines do not get it. Valid until the next keep().
  std::string_view take() {
    const bool fresh = fresh_;
    fresh_ = false;
    return fresh ? std::string_view(text_) : std::string_view();
  }

 private:
  std::string text_;
  bool fresh_ = false;
};

// Whether `line` is a full-line '#' comment; `text` is then what follows
// the '#' and one space, up to the line's end (a CR of CRLF left out).
bool comment_line_text(std::string_view line, std::string_view& text);

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
