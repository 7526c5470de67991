// pack: plain list in, validated, sorted, de-duplicated protected list out.
#include "cli/command.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/messages.h"
#include "crypto/key_versions.h"
#include "input/import_input.h"
#include "store/address_set.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list pack -k S|U [--quiet] [--allow-empty] [--from FORMAT]\n"
    "                        [--wait SECONDS] [--mode MODE] INPUT DEST\n"
    "\n"
    "Reads a plain list (INPUT a file, or - for standard input), checks every line,\n"
    "sorts the addresses, drops duplicates and writes the protected list DEST (a\n"
    "directory, for DIR/engine.dat, or a file). A DEST that does not exist is a list\n"
    "directory to create (mode 755), unless it ends in '.dat', which names a file.\n"
    "One address per line, in any notation\n"
    "ADRVET accepts (aa:bb:cc:dd:ee:ff, AA-BB-CC-DD-EE-FF, aabbccddeeff) or as\n"
    "aabb.ccdd.eeff; '#' starts a comment; blank lines are ignored. Invalid lines are\n"
    "reported and nothing is written; so is an input with no address at all, unless\n"
    "--allow-empty. All-zero, broadcast, multicast and locally administered\n"
    "addresses are accepted with a warning (--quiet: no warnings). A new DEST gets\n"
    "mode MODE (600 by default); an existing one keeps its mode. Waits up to\n"
    "SECONDS (10) for another writer of DEST.\n"
    "--from FORMAT reads INPUT as a peer has it instead: hostapd (accept_mac_file,\n"
    "VLAN IDs allowed), dnsmasq (dhcp-host= lines, any fields), dnsmasq-hosts\n"
    "(dhcp-hostsfile lines), ipset (ipset save output or an export), nft (nft list\n"
    "set or nft list ruleset output, or an export: the one set of type ether_addr),\n"
    "freeradius (files module entries with their attributes), or plain.\n";

}  // namespace

const char* pack_usage() { return kUsage; }

int run_pack(const Options& options) {
  const std::string& input = options.positional[0];
  const std::string dest = list_file_path(options.positional[1]);
  if (input != "-" && same_file(input, dest)) {
    error("pack: DEST '%s' is the input file itself; write the list elsewhere", dest.c_str());
    return kExitUsage;
  }
  const PeerFormat* from = import_format(options, "pack");
  if (from == nullptr) {
    return kExitUsage;
  }

  Addresses values;
  const ImportCount parsed = import_input(input, *from, options.quiet, values);
  if (!parsed.read) {
    return kExitData;
  }
  if (parsed.invalid > 0) {
    error("%s: %zu invalid line%s; nothing written", input.c_str(), parsed.invalid,
          parsed.invalid == 1 ? "" : "s");
    return kExitData;
  }
  if (values.empty() && !options.allow_empty) {
    error(
        "%s: no addresses; nothing written (an empty list refuses every device: "
        "--allow-empty writes one)",
        input.c_str());
    return kExitData;
  }

  const std::size_t dropped = parsed.duplicates + sort_unique(values);
  if (!make_list_directory(options.positional[1], dest, options.quiet)) {
    return kExitData;
  }
  orbitforge::util::FileUpdate update;
  if (!begin_update(dest, {options.wait, options.mode}, update) ||
      !write_list(update, dest, values, orbitforge::util::key_for_version(*options.key))) {
    return kExitData;
  }
  error("wrote %zu address%s to %s (%zu duplicate%s dropped)", values.size(),
        values.size() == 1 ? "" : "es", dest.c_str(), dropped, dropped == 1 ? "" : "s");
  return kExitOk;
}

}  // namespace adrvet_list
