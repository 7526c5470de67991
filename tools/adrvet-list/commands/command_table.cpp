#include "commands/command_table.h"

#include <cstdint>

#include "commands/commands.h"

namespace adrvet_list {
namespace {

constexpr std::size_t kAny = SIZE_MAX;

// A new command is one file beside this one and one row here; the options
// it takes name it in option_table.cpp.
constexpr CommandRow kCommands[] = {
    // name, summary, usage, arguments from, to, run
    {"pack", "make a protected list from a plain list", pack_usage, 2, 2, run_pack},
    {"add", "add addresses to a list", add_usage, 2, kAny, run_add},
    {"remove", "remove addresses from a list", remove_usage, 2, kAny, run_remove},
    {"show", "the names, expiries and origins of a list's devices", show_usage, 1, 1, run_show},
    {"prune", "remove the devices whose expiry has come", prune_usage, 1, 1, run_prune},
    {"check", "look up many addresses as ADRVET would", check_usage, 1, kAny, run_check},
    {"verify", "check that ADRVET can use a list", verify_usage, 1, 1, run_verify},
    {"export", "write a list for hostapd, dnsmasq, ipset, nft, FreeRADIUS", export_usage, 1, 1,
     run_export},
    {"diff", "compare the addresses of two lists", diff_usage, 2, 2, run_diff},
    {"unpack", "write the stored payload of a list", unpack_usage, 1, 2, run_unpack},
    {"rekey", "rewrite a list under the other key version", rekey_usage, 1, 2, run_rekey},
    {"digest", "SHA-256 of files, as sha256sum prints it", digest_usage, 1, kAny, run_digest},
    {"test", "exit 0 if an address is listed, 1 if not, 2 if undecided", test_usage, 2, 2,
     run_test},
    {"sync", "bring every enforcement point in step with a list", sync_usage, 1, 1, run_sync},
};

}  // namespace

std::span<const CommandRow> command_table() { return kCommands; }

const CommandRow* find_command(std::string_view name) {
  for (const CommandRow& command : kCommands) {
    if (name == command.name) {
      return &command;
    }
  }
  return nullptr;
}

}  // namespace adrvet_list
