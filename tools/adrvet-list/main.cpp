// adrvet-list: makes and maintains the protected MAC lists that ADRVET reads.
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/messages.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* summary;
};

constexpr Command kCommands[] = {
    {"pack", adrvet_list::run_pack, "make a protected list from a plain list"},
    {"add", adrvet_list::run_add, "add addresses to a list"},
    {"remove", adrvet_list::run_remove, "remove addresses from a list"},
    {"check", adrvet_list::run_check, "look up many addresses as ADRVET would"},
    {"verify", adrvet_list::run_verify, "check that ADRVET can use a list"},
    {"export", adrvet_list::run_export,
     "write a list for hostapd, dnsmasq, ipset, nft, FreeRADIUS"},
    {"diff", adrvet_list::run_diff, "compare the addresses of two lists"},
    {"unpack", adrvet_list::run_unpack, "write the stored payload of a list"},
    {"rekey", adrvet_list::run_rekey, "rewrite a list under the other key version"},
    {"digest", adrvet_list::run_digest, "SHA-256 of files, as sha256sum prints it"},
};

std::string help_text() {
  std::string text =
      "Usage: adrvet-list COMMAND [OPTIONS] ARGUMENTS\n"
      "\n"
      "Makes and maintains the protected MAC lists that ADRVET reads. LIST and DEST\n"
      "name a list directory (then DIR/engine.dat) or a container file.\n"
      "\n"
      "Commands:\n";
  for (const Command& command : kCommands) {
    char line[128];
    (void)std::snprintf(line, sizeof line, "  %-8s %s\n", command.name, command.summary);
    text += line;
  }
  text +=
      "\n"
      "'adrvet-list COMMAND --help' describes a command. --version prints the version.\n"
      "Exit status: 0 success, 1 a data problem, 2 a usage error.\n";
  return text;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    adrvet_list::error("no command given; see 'adrvet-list --help'");
    return adrvet_list::kExitUsage;
  }
  const char* name = argv[1];
  if (std::strcmp(name, "-h") == 0 || std::strcmp(name, "--help") == 0 ||
      std::strcmp(name, "help") == 0) {
    return adrvet_list::show_help(help_text().c_str());
  }
  if (std::strcmp(name, "--version") == 0) {
    return adrvet_list::show_help("adrvet-list " ADRVET_VERSION "\n");
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(name, command.name) == 0) {
      try {
        return command.run(argc - 1, argv + 1);
      } catch (const std::bad_alloc&) {
        adrvet_list::error("%s: out of memory", name);
      } catch (const std::length_error&) {
        adrvet_list::error("%s: out of memory", name);
      }
      return adrvet_list::kExitData;
    }
  }
  adrvet_list::error("unknown command '%s'; see 'adrvet-list --help'", name);
  return adrvet_list::kExitUsage;
}
