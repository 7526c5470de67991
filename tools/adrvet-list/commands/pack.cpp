// pack: plain list in, validated, sorted, de-duplicated protected list out.
#include <algorithm>
#include <iterator>

#include "cli/command.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/audit_log.h"
#include "common/inventory_time.h"
#include "common/json.h"
#include "common/messages.h"
#include "crypto/key_versions.h"
#include "input/import_input.h"
#include "store/address_set.h"
#include "store/inventory_edit.h"
#include "store/inventory_store.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list pack -k S|U [--quiet] [--allow-empty] [--from FORMAT]\n"
    "                        [--name SET] [--table TABLE] [--family FAMILY]\n"
    "                        [--wait SECONDS] [--mode MODE] [--json] INPUT DEST\n"
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
    "(dhcp-hostsfile lines), ipset (ipset save or ipset list output, or an export:\n"
    "the one hash:mac set), nft (nft list set or nft list ruleset output, also as\n"
    "nft -j prints it, or an export: the one set of type ether_addr), freeradius\n"
    "(files module entries with their attributes), or plain. From a file holding\n"
    "several sets, --name SET (and for nft --table TABLE, --family FAMILY) chooses\n"
    "one; without them, addresses in several sets are refused, naming the sets.\n"
    "Addresses DEST held before keep their names and expiries; the others are\n"
    "recorded as added now, by the user running pack. --json prints what changed,\n"
    "against the list DEST held, as one JSON document.\n";

// The addresses DEST holds now, under the lock: their inventory entries
// carry over. A DEST that does not open under the key is simply replaced.
Addresses old_addresses(const orbitforge::util::FileUpdate& update,
                        const orbitforge::util::Key& key) {
  if (!update.exists()) {
    return {};
  }
  LoadedList old = load_list(update, key);
  if (!old.usable()) {
    return {};
  }
  sort_unique(old.values);
  return std::move(old.values);
}

// The inventory that carries over; a damaged one is dropped with a warning,
// since pack replaces the list whole anyway.
Inventory old_inventory(const orbitforge::util::FileUpdate& update, const std::string& dest,
                        int key_version, const Addresses& listed, bool& stale) {
  LoadedInventory loaded = load_inventory(update, key_version);
  if (loaded.state == LoadedInventory::State::damaged) {
    warning("%s: %s; its names and expiries are dropped", dest.c_str(),
            describe_inventory(loaded).c_str());
    loaded = LoadedInventory{};
    loaded.stale = true;
  }
  keep_listed(loaded, listed);
  stale = loaded.stale;
  return std::move(loaded.inventory);
}

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
  const ImportCount parsed =
      import_input(input, *from, import_choice(options), options.quiet, values);
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
  AuditedChange audit("pack", dest);
  const auto key = orbitforge::util::key_for_version(*options.key);
  orbitforge::util::FileUpdate update;
  if (!begin_update(dest, {options.wait, options.mode}, update)) {
    return kExitData;
  }
  const bool created = !update.exists();
  const Addresses before = old_addresses(update, key);
  PairChange change;
  bool stale = false;
  change.inventory = old_inventory(update, dest, *options.key, before, stale);
  const Addresses added = difference(values, before);
  std::vector<RequestedDevice> requests;
  requests.reserve(added.size());
  for (const std::uint64_t value : added) {
    requests.push_back({value, {}});
  }
  // Replacing no address, every address is new: one origin for them all.
  const InventoryEdit edit =
      before.empty()
          ? record_new_list(change.inventory, requests, current_time(), acting_user())
          : apply_requests(change.inventory, requests, added, current_time(), acting_user());
  change.inventory_changed = stale || edit.changed;
  change.list_payload = canonical_payload(values);
  change.listed = values;
  if (!write_pair(update, dest, change, key)) {
    return kExitData;
  }
  const Addresses removed = difference(before, values);
  audit.succeeded({added, removed, {}, values.size()});
  error("wrote %zu address%s to %s (%zu duplicate%s dropped)", values.size(),
        values.size() == 1 ? "" : "es", dest.c_str(), dropped, dropped == 1 ? "" : "s");
  if (options.json) {
    ChangeSummary summary;
    summary.list = options.positional[1];
    summary.created = created;
    summary.added = added;
    summary.removed = removed;
    summary.count = values.size();
    return print_json(change_summary_json("pack", summary), kExitOk);
  }
  return kExitOk;
}

}  // namespace adrvet_list
