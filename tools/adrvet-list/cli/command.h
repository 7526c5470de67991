// A command as the command line sees it, and the start every command makes:
// its options parsed, --help answered, its arguments counted.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "formats/peer_format.h"

namespace adrvet_list {

struct CommandRow {
  const char* name;
  const char* summary;     // its line in 'adrvet-list --help'
  const char* (*usage)();  // its --help text
  std::size_t min_arguments;
  std::size_t max_arguments;
  int (*run)(const Options& options);  // gives the exit status
};

// Parses argv[1..] of `command`. Refuses options the command does not take,
// options given twice, and values an option does not take, with a message;
// then nullopt.
std::optional<Options> parse_options(int argc, char* argv[], const char* command);

// Parses a command's options and counts its arguments. When it gives
// nullopt the command is over and exits with `status`: 0 after --help, 2
// after a message about a wrong command line.
std::optional<Options> start_command(int argc, char* argv[], const CommandRow& command,
                                     int& status);

// "; did you mean 'nft'?" for a mistyped format name, else "".
std::string format_suggestion(std::string_view typed);

// False, after a message, when --name, --table or --family is given and
// `format`'s file has no such name: ignoring it would leave the set an
// administrator meant unnamed.
bool set_names_apply(const Options& options, const PeerFormat& format, const char* command);

// The format --from names (plain when absent), or nullptr after a message;
// also after one about --name, --table or --family where the format has no
// such names or nft would refuse them.
const PeerFormat* import_format(const Options& options, const char* command);

// The set --name, --table and --family choose from an nft or ipset file.
SetChoice import_choice(const Options& options);

}  // namespace adrvet_list
