// The commands a targets file names for checking and reloading a peer: split
// into words as a shell would split a simple command, but never given to a
// shell, so that no expansion, redirection or second command can hide in them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace adrvet_list {

using CommandWords = std::vector<std::string>;

// Words separated by blanks; '...' keeps everything literally, "..." keeps
// blanks and takes \" and \\ as escapes, a backslash elsewhere keeps the next
// character. Nullopt with `problem` set for an unterminated quote or a
// trailing backslash; an empty vector for a blank command.
std::optional<CommandWords> split_command(std::string_view text, std::string& problem);

// Every "{}" in every word replaced by `path`.
CommandWords substitute_path(const CommandWords& words, const std::string& path);

// Whether any word holds "{}".
bool names_path(const CommandWords& words);

// The words joined by blanks, quoted where needed, for messages.
std::string command_text(const CommandWords& words);

}  // namespace adrvet_list
