// Every option of adrvet-list, one row each: its names, its value, the
// commands that take it and how its value is read. The parser, the help
// texts, the bash completion and the manual page follow this table (a test
// holds the last three to it).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "cli/options.h"

namespace adrvet_list {

struct OptionRow {
  const char* long_name;  // without "--"
  char short_name;        // 0 when it has none
  const char* value;      // as the help texts name it ("SECONDS"); nullptr for a flag
  // The commands that accept it, separated by spaces.
  std::string_view commands;
  // Stores the value (a flag: sets it); false when the value is not one the
  // option takes.
  bool (*store)(Options& options, const std::string& value);
  // What it takes, for "--wait takes a number of seconds, not 'x'".
  const char* takes;
  // Said when a command that accepts the option is run without it; nullptr
  // when it may be left out.
  const char* required;
};

std::span<const OptionRow> option_table();

// True when `option` lists `command`.
bool accepts(const OptionRow& option, std::string_view command);

// "5", "2.5", ".5": seconds, at most a day, to the millisecond (rounded
// half up).
std::optional<std::chrono::milliseconds> parse_wait(const std::string& text);

}  // namespace adrvet_list
