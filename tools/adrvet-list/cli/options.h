// What a command line gives a command: its options, parsed, and its
// arguments. Each option is one row of option_table.cpp.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace adrvet_list {

struct Options {
  std::optional<int> key;  // key versions: 1 for S, 2 for U
  std::optional<int> key_b;
  std::optional<int> to;
  std::optional<std::string> format;
  std::optional<std::string> name;
  bool quiet = false;
  bool help = false;
  std::optional<std::chrono::milliseconds> wait;
  std::optional<unsigned> mode;
  bool force = false;
  bool allow_empty = false;
  bool create = false;
  std::optional<std::string> table;  // peer formats
  std::optional<std::string> family;
  std::optional<std::string> output;
  std::optional<std::string> from;
  std::optional<std::string> columns;  // --from csv
  std::optional<std::string> label;    // the inventory
  std::optional<std::string> expires;
  bool json = false;                   // one JSON document on standard output
  bool timeouts = false;               // export: each element's remaining lifetime
  std::optional<std::string> targets;  // sync's targets file
  bool check = false;                  // sync: compare only
  bool dry_run = false;
  std::vector<std::string> positional;
};

}  // namespace adrvet_list
