// What a sync runs for each peer unless the targets file says otherwise:
// the checker the peer ships, fed the new file the way it reads it, and the
// reload that makes the peer take the file and confirms it did.
#pragma once

#include <optional>
#include <string>

#include "sync/targets_file.h"

namespace adrvet_list {

// Writes the new file `text` into `scratch` (a private directory), with
// whatever the checker needs beside it, and gives the command that checks
// it: the target's own check, or the peer's checker. Nullopt when there is
// no check to run; `problem` is set when the files could not be written.
std::optional<CommandWords> prepare_check(const SyncTarget& target, const std::string& text,
                                          const std::string& scratch, std::string& problem);

// The target's reload with {} standing for its output, or the format's
// usual one; empty when nothing is to be reloaded.
CommandWords reload_command(const SyncTarget& target);

// For messages and --help: the command a format's check and reload default
// to, as text ("" for none).
std::string default_check_text(std::string_view format);
std::string default_reload_text(std::string_view format);

}  // namespace adrvet_list
