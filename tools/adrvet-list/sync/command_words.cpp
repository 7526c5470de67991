#include "sync/command_words.h"

namespace adrvet_list {
namespace {

constexpr std::string_view kPathMark = "{}";

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Appends the rest of a double-quoted word, from just after its opening
// quote; gives the index after the closing quote, or npos.
std::size_t take_double_quoted(std::string_view text, std::size_t at, std::string& word) {
  while (at < text.size()) {
    const char c = text[at];
    if (c == '"') {
      return at + 1;
    }
    if (c == '\\' && at + 1 < text.size() && (text[at + 1] == '"' || text[at + 1] == '\\')) {
      word += text[at + 1];
      at += 2;
      continue;
    }
    word += c;
    ++at;
  }
  return std::string_view::npos;
}

}  // namespace

std::optional<CommandWords> split_command(std::string_view text, std::string& problem) {
  CommandWords words;
  std::size_t at = 0;
  while (at < text.size()) {
    if (is_blank(text[at])) {
      ++at;
      continue;
    }
    std::string word;
    while (at < text.size() && !is_blank(text[at])) {
      const char c = text[at];
      if (c == '\'') {
        const std::size_t end = text.find('\'', at + 1);
        if (end == std::string_view::npos) {
          problem = "a ' is not closed";
          return std::nullopt;
        }
        word.append(text.substr(at + 1, end - at - 1));
        at = end + 1;
      } else if (c == '"') {
        at = take_double_quoted(text, at + 1, word);
        if (at == std::string_view::npos) {
          problem = "a \" is not closed";
          return std::nullopt;
        }
      } else if (c == '\\') {
        if (at + 1 >= text.size()) {
          problem = "it ends with a backslash";
          return std::nullopt;
        }
        word += text[at + 1];
        at += 2;
      } else {
        word += c;
        ++at;
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

CommandWords substitute_path(const CommandWords& words, const std::string& path) {
  CommandWords result;
  result.reserve(words.size());
  for (const std::string& word : words) {
    std::string replaced;
    std::size_t from = 0;
    for (std::size_t mark = word.find(kPathMark); mark != std::string::npos;
         mark = word.find(kPathMark, from)) {
      replaced.append(word, from, mark - from);
      replaced += path;
      from = mark + kPathMark.size();
    }
    replaced.append(word, from);
    result.push_back(std::move(replaced));
  }
  return result;
}

bool names_path(const CommandWords& words) {
  for (const std::string& word : words) {
    if (word.find(kPathMark) != std::string::npos) {
      return true;
    }
  }
  return false;
}

std::string command_text(const CommandWords& words) {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty()) {
      text += ' ';
    }
    const bool plain = !word.empty() && word.find_first_of(" \t'\"\\") == std::string::npos;
    if (plain) {
      text += word;
      continue;
    }
    text += '\'';
    for (const char c : word) {
      text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    text += '\'';
  }
  return text;
}

}  // namespace adrvet_list
