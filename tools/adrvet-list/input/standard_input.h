// All of standard input, for check's lookups.
#pragma once

#include <cstring>
#include <string_view>
#include <vector>

namespace adrvet_list {

// Reads all of standard input; 0, or the error number of a failed read.
int read_standard_input(std::vector<unsigned char>& data);

// Calls `visit(line)` for each line of `data`, without its line feed.
template <typename Visit>
void for_each_line(const std::vector<unsigned char>& data, Visit visit) {
  const char* at = reinterpret_cast<const char*>(data.data());
  const char* const end = at + data.size();
  while (at < end) {
    const char* newline =
        static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
    const char* line_end = newline != nullptr ? newline : end;
    visit(std::string_view(at, static_cast<std::size_t>(line_end - at)));
    at = newline != nullptr ? newline + 1 : end;
  }
}

}  // namespace adrvet_list
