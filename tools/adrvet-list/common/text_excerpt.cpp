#include "common/text_excerpt.h"

#include <algorithm>
#include <cstdio>

namespace adrvet_list {
namespace {

void append_escaped(std::string& out, unsigned char c) {
  if (c == '\t') {
    out += "\\t";
  } else if (c == '\r') {
    out += "\\r";
  } else if (c == '\0') {
    out += "\\0";
  } else if (c == '\\') {
    out += "\\\\";
  } else if (c < 0x20 || c >= 0x7f) {
    char hex[5];
    (void)std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += hex;
  } else {
    out += static_cast<char>(c);
  }
}

bool unsafe_for_terminal(unsigned char c) { return c < 0x20 || c >= 0x7f; }

}  // namespace

bool needs_terminal_escape(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return unsafe_for_terminal(static_cast<unsigned char>(c)); });
}

std::string terminal_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\n') {
      out += "\\n";
    } else if (unsafe_for_terminal(byte)) {
      append_escaped(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

std::string quoted_excerpt(std::string_view text, std::uint64_t full_length) {
  const std::uint64_t length = std::max<std::uint64_t>(full_length, text.size());
  const std::size_t shown = std::min(text.size(), kExcerptLength);
  std::string out = "'";
  for (std::size_t i = 0; i < shown; ++i) {
    append_escaped(out, static_cast<unsigned char>(text[i]));
  }
  out += '\'';
  if (length > shown) {
    out.insert(out.size() - 1, "...");
    out += " (" + std::to_string(length) + " bytes)";
  }
  return out;
}

}  // namespace adrvet_list
