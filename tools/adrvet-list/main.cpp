// adrvet-list: makes and maintains the protected MAC lists that ADRVET reads.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "cli/output.h"
#include "commands/command_table.h"
#include "common/messages.h"
#include "common/suggest.h"
#include "fs/file_update.h"

namespace {

std::string help_text() {
  std::string text =
      "Usage: adrvet-list COMMAND [OPTIONS] ARGUMENTS\n"
      "\n"
      "Makes and maintains the protected MAC lists that ADRVET reads. LIST and DEST\n"
      "name a list directory (then DIR/engine.dat) or a container file.\n"
      "\n"
      "Commands:\n";
  for (const adrvet_list::CommandRow& command : adrvet_list::command_table()) {
    char line[128];
    (void)std::snprintf(line, sizeof line, "  %-8s %s\n", command.name, command.summary);
    text += line;
  }
  text +=
      "\n"
      "'adrvet-list COMMAND --help' (or 'help COMMAND') describes a command; --version\n"
      "prints the version.\n"
      "Exit status: 0 success, 1 a data problem, 2 a usage error.\n";
  return text;
}

// A stopping signal (systemctl stop, timeout, Ctrl-C) removes the
// temporary file being written, then ends the process as the signal would.
extern "C" void stop_on_signal(int signal_number) {
  orbitforge::util::remove_unfinished_temporary();
  (void)std::signal(signal_number, SIG_DFL);
  (void)::raise(signal_number);  // delivered once the handler returns: the process ends
}

void remove_temporaries_when_stopped() {
  struct sigaction action {};
  action.sa_handler = stop_on_signal;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    struct sigaction old {};
    // A signal ignored by whoever started us stays ignored (nohup).
    if (::sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      (void)::sigaction(signal_number, &action, nullptr);
    }
  }
}

std::string suggestion(const char* typed) {
  std::vector<std::string_view> names;
  for (const adrvet_list::CommandRow& command : adrvet_list::command_table()) {
    names.emplace_back(command.name);
  }
  return adrvet_list::did_you_mean(typed, names);
}

int run(const adrvet_list::CommandRow& command, int argc, char* argv[]) {
  int status = adrvet_list::kExitOk;
  const auto options = adrvet_list::start_command(argc, argv, command, status);
  return options ? command.run(*options) : status;
}

}  // namespace

int main(int argc, char* argv[]) {
  remove_temporaries_when_stopped();
  if (argc < 2) {
    adrvet_list::error("no command given; see 'adrvet-list --help'");
    return adrvet_list::kExitUsage;
  }
  const char* name = argv[1];
  // "help CMD" is "CMD --help".
  if (std::strcmp(name, "help") == 0 && argc > 2) {
    const adrvet_list::CommandRow* command = adrvet_list::find_command(argv[2]);
    if (command == nullptr) {
      adrvet_list::error("help: unknown command '%s'%s", argv[2], suggestion(argv[2]).c_str());
      return adrvet_list::kExitUsage;
    }
    return adrvet_list::show_help(command->usage());
  }
  if (std::strcmp(name, "-h") == 0 || std::strcmp(name, "--help") == 0 ||
      std::strcmp(name, "help") == 0) {
    return adrvet_list::show_help(help_text().c_str());
  }
  if (std::strcmp(name, "--version") == 0) {
    return adrvet_list::show_help("adrvet-list " ADRVET_VERSION "\n");
  }
  const adrvet_list::CommandRow* command = adrvet_list::find_command(name);
  if (command == nullptr) {
    adrvet_list::error("unknown command '%s'%s; see 'adrvet-list --help'", name,
                       suggestion(name).c_str());
    return adrvet_list::kExitUsage;
  }
  try {
    return run(*command, argc - 1, argv + 1);
  } catch (const std::bad_alloc&) {
    adrvet_list::error("%s: out of memory", name);
  } catch (const std::length_error&) {
    adrvet_list::error("%s: out of memory", name);
  }
  return adrvet_list::kExitData;
}
