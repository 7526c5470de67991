#include "common/messages.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/text_excerpt.h"

namespace adrvet_list {
namespace {

std::string& last_error_text() {
  static std::string text;
  return text;
}

// Writes the message and gives it back without prefix and line end.
std::string message(const char* prefix, const char* format, va_list args) {
  std::string text = prefix;
  char chunk[1024];
  va_list copy;
  va_copy(copy, args);
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started by the caller
  const int needed = std::vsnprintf(chunk, sizeof chunk, format, copy);
  va_end(copy);
  if (needed >= static_cast<int>(sizeof chunk)) {
    std::string large(static_cast<std::size_t>(needed) + 1, '\0');
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started by the caller
    (void)std::vsnprintf(large.data(), large.size(), format, args);
    large.resize(static_cast<std::size_t>(needed));
    text += large;
  } else if (needed > 0) {
    text += chunk;
  }
  // Paths, names and values in messages may hold anything, a terminal's
  // escape sequences included (a glob over a shared directory).
  if (needs_terminal_escape(text)) {
    text = terminal_text(text);
  }
  text += '\n';
  (void)std::fwrite(text.data(), 1, text.size(), stderr);
  const std::size_t start = std::string_view(prefix).size();
  return text.substr(start, text.size() - start - 1);
}

}  // namespace

void error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  last_error_text() = message("adrvet-list: ", format, args);
  va_end(args);
}

const std::string& last_error() { return last_error_text(); }

void warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  (void)message("adrvet-list: warning: ", format, args);
  va_end(args);
}

const char* key_letter(int key_version) { return key_version == 2 ? "U" : "S"; }

}  // namespace adrvet_list
