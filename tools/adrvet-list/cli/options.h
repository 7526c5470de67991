// The options of adrvet-list's commands, and the start every command makes:
// its options parsed, --help answered, its arguments counted.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/peer_format.h"

namespace adrvet_list {

// Options a command may accept.
enum OptionFlag : unsigned {
  kOptKey = 1U << 0,         // -k, --key S|U
  kOptKeyB = 1U << 1,        // --key-b S|U
  kOptTo = 1U << 2,          // --to S|U
  kOptFormat = 1U << 3,      // --format F
  kOptName = 1U << 4,        // --name NAME
  kOptQuiet = 1U << 5,       // -q, --quiet
  kOptWait = 1U << 6,        // --wait SECONDS, for the list's lock
  kOptMode = 1U << 7,        // --mode MODE, of a new list
  kOptForce = 1U << 8,       // --force: rewrite a list that looks damaged
  kOptAllowEmpty = 1U << 9,  // --allow-empty: pack may write a list of no addresses
  // Peer formats: export's names and file, pack's and add's input format.
  kOptTable = 1U << 16,   // --table TABLE
  kOptFamily = 1U << 17,  // --family FAMILY
  kOptOutput = 1U << 18,  // --output FILE
  kOptFrom = 1U << 19,    // --from FORMAT
  kWriterOptions = kOptWait | kOptMode,
};

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
  std::optional<std::string> table;  // peer formats
  std::optional<std::string> family;
  std::optional<std::string> output;
  std::optional<std::string> from;
  std::vector<std::string> positional;
};

// Parses argv[1..] of a command. Refuses options the command does not take,
// options given twice, and bad key versions, with a message; then nullopt.
std::optional<Options> parse_options(int argc, char* argv[], unsigned allowed, const char* command);

// The format --from names (plain when absent), or nullptr after a message.
const PeerFormat* import_format(const Options& options, const char* command);

// What a command accepts.
struct CommandSpec {
  const char* name;
  const char* usage;  // the --help text
  unsigned options;   // OptionFlag bits
  std::size_t min_arguments;
  std::size_t max_arguments;
};

// Parses a command's options and counts its arguments. When it gives
// nullopt the command is over and exits with `status`: 0 after --help, 2
// after a message about a wrong command line.
std::optional<Options> start_command(int argc, char* argv[], const CommandSpec& spec, int& status);

}  // namespace adrvet_list
