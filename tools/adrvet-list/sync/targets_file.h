// The targets file: the enforcement points one list feeds, one section each.
//
//   [wifi]
//   format = hostapd
//   output = /etc/hostapd/adrvet.accept
//   reload = systemctl reload hostapd
//
// Keys: format, output (absolute), the names of the format's export (name;
// nft also table and family), mode (of a new output file), check (a command
// that validates the new file, {} standing for its path) and reload (a
// command, {} standing for the output). Lines starting with '#' or ';' are
// comments. The commands run as the caller, without a shell, so the file is
// refused when any other user could change it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/peer_format.h"
#include "sync/command_words.h"

namespace adrvet_list {

struct SyncTarget {
  std::string name;
  std::size_t line = 0;  // of its [name] line
  const PeerFormat* format = nullptr;
  std::string output;
  ExportNames names;
  std::optional<unsigned> mode;        // of a new output file
  std::optional<CommandWords> check;   // absent: the format's own checker; empty: none
  std::optional<CommandWords> reload;  // absent: the format's usual reload; empty: none
};

// The targets file beside a list: targets.conf in the list's directory.
std::string default_targets_path(const std::string& list_argument);

// Parses the text of a targets file read from `path`. On a mistake gives
// nullopt and sets `problem` to "PATH:LINE: what is wrong".
std::optional<std::vector<SyncTarget>> parse_targets(std::string_view text, const std::string& path,
                                                     std::string& problem);

// Reads and parses the targets file at `path`, refusing one that a user
// other than the caller and root could change (the file, or any directory
// above it that is not sticky). On failure gives nullopt with `problem`.
std::optional<std::vector<SyncTarget>> load_targets(const std::string& path, std::string& problem);

}  // namespace adrvet_list
