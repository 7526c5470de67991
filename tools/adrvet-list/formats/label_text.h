// Labels of devices: what a label may hold, and the form it takes in each
// place a peer's file has for it. A label is typed by whoever adds a device
// and the exported file is loaded by root, so no form lets it leave its place.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace adrvet_list {

inline constexpr std::size_t kMaxLabelBytes = 255;

// Why `label` cannot be stored, or nullptr: it must be UTF-8 without control
// characters (C0, DEL, C1) and at most kMaxLabelBytes long.
const char* label_problem(std::string_view label);

// `label` inside a double-quoted string of nft or ipset: quotes,
// backslashes and control bytes become '_', cut to at most `max_bytes` on
// a character boundary.
std::string quoted_label(std::string_view label, std::size_t max_bytes);

// `label` as the text of a full-line '#' comment (hostapd, dnsmasq,
// FreeRADIUS): control bytes become '_' (no line ends), and so does a
// trailing backslash that a reader could take as a continuation; cut to at
// most `max_bytes` on a character boundary.
std::string comment_label(std::string_view label, std::size_t max_bytes = kMaxLabelBytes);

}  // namespace adrvet_list
