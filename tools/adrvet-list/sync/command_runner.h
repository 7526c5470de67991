// Runs a peer's checker or reload command: without a shell, as the caller,
// with no standard input, its output collected for messages, and killed
// with its process group when it takes too long.
#pragma once

#include <chrono>
#include <string>

#include "sync/command_words.h"

namespace adrvet_list {

struct CommandResult {
  bool started = false;  // false: it could not be run at all (see start_error)
  int start_error = 0;   // errno of the failed fork or exec
  int exit_status = -1;  // 0-255 when it exited
  int signal = 0;        // the signal that ended it, or 0
  bool timed_out = false;
  std::string output;  // standard output and error together, the last part if long

  [[nodiscard]] bool succeeded() const { return started && exit_status == 0; }
};

CommandResult run_command(const CommandWords& words, std::chrono::seconds limit);

// "exit status 1: <its last lines of output>" and the like, for messages.
std::string describe_outcome(const CommandResult& result);

}  // namespace adrvet_list
