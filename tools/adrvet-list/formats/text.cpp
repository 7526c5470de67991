#include "formats/text.h"

#include <algorithm>
#include <array>

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

std::string lower_ascii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
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

std::int64_t duration_seconds(std::string_view text) {
  constexpr std::int64_t kLimit = std::int64_t{100} * 366 * 86400;
  struct Unit {
    std::string_view name;
    std::int64_t milliseconds;
  };
  constexpr std::array<Unit, 5> kUnits = {
      {{"d", 86400000}, {"h", 3600000}, {"m", 60000}, {"s", 1000}, {"ms", 1}}};
  if (text.empty()) {
    return -1;
  }
  std::int64_t total = 0;  // milliseconds
  std::size_t next_unit = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::int64_t number = 0;
    const std::size_t digits_at = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      number = number * 10 + (text[at] - '0');
      if (number > kLimit) {
        return -1;
      }
      ++at;
    }
    std::size_t unit_end = at;
    while (unit_end < text.size() && text[unit_end] >= 'a' && text[unit_end] <= 'z') {
      ++unit_end;
    }
    const std::string_view unit = text.substr(at, unit_end - at);
    if (at == digits_at) {
      return -1;
    }
    if (unit.empty()) {  // bare seconds, alone
      if (digits_at != 0 || unit_end != text.size()) {
        return -1;
      }
      return number;
    }
    while (next_unit < kUnits.size() && kUnits[next_unit].name != unit) {
      ++next_unit;
    }
    if (next_unit == kUnits.size()) {
      return -1;
    }
    total += number * kUnits[next_unit].milliseconds;
    if (total > kLimit * 1000) {
      return -1;
    }
    ++next_unit;
    at = unit_end;
  }
  return (total + 999) / 1000;
}

bool comment_line_text(std::string_view line, std::string_view& text) {
  std::string_view rest = line;
  while (!rest.empty() && is_blank(rest.front())) {
    rest.remove_prefix(1);
  }
  if (rest.empty() || rest.front() != '#') {
    return false;
  }
  if (rest.back() == '\r') {
    rest.remove_suffix(1);
  }
  text = rest.substr(1);
  if (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  return true;
}

bool CommentAbove::keep(std::string_view line) {
  std::string_view text;
  if (!comment_line_text(line, text)) {
    return false;
  }
  text_.assign(text);
  fresh_ = true;
  return true;
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
