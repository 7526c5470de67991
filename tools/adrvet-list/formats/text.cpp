#include "formats/text.h"

#include <algorithm>

#include "formats/label_text.h"
#include "mac/mac_text.h"

namespace adrvet_list::text {

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && is_blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string_view first_word(std::string_view text, std::string_view& rest) {
  std::size_t end = 0;
  while (end < text.size() && !is_blank(text[end])) {
    ++end;
  }
  rest = trim(text.substr(end));
  return text.substr(0, end);
}

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> result;
  std::string_view rest = trim(text);
  while (!rest.empty()) {
    result.push_back(first_word(rest, rest));
  }
  return result;
}

bool is_comment_or_blank(std::string_view trimmed) {
  return trimmed.empty() || trimmed.front() == '#';
}

namespace {

constexpr bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const char* identifier_problem(std::string_view name, std::size_t max_size) {
  if (name.empty()) {
    return "an empty name";
  }
  if (name.size() > max_size) {
    return "too long";
  }
  if (!is_letter(name[0]) && name[0] != '_') {
    return "does not start with a letter or '_'";
  }
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return is_letter(c) || is_digit(c) || c == '_' || c == '-' || c == '.';
  });
  return plain ? nullptr : "holds a character other than letters, digits, '_', '-', '.'";
}

void append_address(std::string& out, std::uint64_t value, char separator) {
  char formatted[orbitforge::mac::kFormattedSize];
  orbitforge::mac::format_address(value, separator, formatted);
  out.append(formatted, kAddressSize);
}

void write_label_comment(std::string& out, const ExportNames& names, std::uint64_t address,
                         std::size_t max_label_bytes) {
  const DeviceNote* note = note_of(names, address);
  if (note == nullptr || note->label.empty()) {
    return;
  }
  // A comment line ends at its line feed: comment_label lets none through.
  out += "# ";
  out += comment_label(note->label, max_label_bytes);
  out += '\n';
}

void write_lines(std::string& out, const Addresses& values, std::string_view prefix,
                 const ExportNames& names, std::size_t max_label_bytes) {
  out.reserve(values.size() * (prefix.size() + kAddressSize + 1));
  for (const std::uint64_t value : values) {
    write_label_comment(out, names, value, max_label_bytes);
    out += prefix;
    append_address(out, value, ':');
    out += '\n';
  }
}

}  // namespace adrvet_list::text
