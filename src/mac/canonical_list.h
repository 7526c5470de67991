// List text in the canonical layout, one address per line as
// "aa:bb:cc:dd:ee:ff\n", which adrvet-list writes: entry k is bytes 18k to
// 18k + 17, so a binary search (list_check.h) needs to decode only the
// entries it visits. Other layouts are decoded in full (mac_text.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace orbitforge::mac {

inline constexpr std::size_t kCanonicalLineBytes = 18;

// True when the text is whole canonical lines with hex digits of either case.
// Such a text always decodes without error.
bool is_canonical_list(const unsigned char* text, std::size_t size);

// The value of one line of an accepted text.
std::uint64_t decode_canonical_line(const unsigned char* line);

}  // namespace orbitforge::mac
