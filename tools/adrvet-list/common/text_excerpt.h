// Input text quoted in messages: short, and safe for a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace adrvet_list {

inline constexpr std::size_t kExcerptLength = 80;

// 'text' with control characters, DEL, NUL and bytes above 0x7f written
// as \t, \r, \0 or \xHH, cut after about kExcerptLength characters.
// `full_length` is the length of the whole text when `text` is only its
// beginning; a cut text ends in "..." and says how long it was.
std::string quoted_excerpt(std::string_view text, std::uint64_t full_length = 0);

// `text` made safe for a terminal: control characters, DEL and bytes above
// 0x7f written as \t, \n, \r or \xHH, the rest (backslashes included) as it
// is. Paths, names and values from the command line or from a directory
// that others can write pass through this before they are shown.
std::string terminal_text(std::string_view text);
// Whether terminal_text would change `text`.
bool needs_terminal_escape(std::string_view text);

}  // namespace adrvet_list
