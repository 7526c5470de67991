// pack: plain list in, validated, sorted, de-duplicated protected list out.
#include <algorithm>
#include <iterator>

#include "cli/command.h"
#include "cli/csv_options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/audit_log.h"
#include "common/inventory_time.h"
#include "common/json.h"
#include "common/messages.h"
#include "crypto/key_versions.h"
#include "input/csv_import.h"
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
    "                        [--columns COLUMNS] [--wait SECONDS] [--mode MODE]\n"
    "                        [--json] INPUT DEST\n"
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
    "--from csv reads a spreadsheet saved as CSV (RFC 4180; UTF-8, a byte-order mark\n"
    "skipped): --columns mac=N|NAME[,label=N|NAME][,expires=N|NAME] says which\n"
    "column holds the address, the label and the expiry, by number (from 1) or by\n"
    "the name in the header row; without --columns, a header row naming 'mac' (and\n"
    "'label', 'expires') is used, and said. Labels and expiries are checked as\n"
    "'add' checks its own; an empty expiry cell or 'never' is none. An\n"
    "address given twice with another label or expiry, a short row, a field over\n"
    "64 KiB or a record over 1 MiB is refused with its line.\n"
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
  fold_common_origin(loaded, listed.size());
  stale = loaded.stale;
  return std::move(loaded.inventory);
}

// What INPUT gives pack: its addresses and, from a spreadsheet, the
// devices with their notes.
struct PackInput {
  Addresses values;
  std::vector<RequestedDevice> devices;  // ascending; only from CSV
  bool csv = false;
  std::size_t duplicates = 0;
  std::int64_t now = current_time();
};

int read_csv_input(const Options& options, const std::string& input, PackInput& read) {
  const auto settings = csv_settings(options, "pack", {}, read.now);
  if (!settings) {
    return kExitUsage;
  }
  CsvDevices got = import_csv({input}, *settings);
  if (!got.read) {
    return kExitData;
  }
  if (got.invalid > 0) {
    error("%s: %zu invalid row%s; nothing written", input.c_str(), got.invalid,
          got.invalid == 1 ? "" : "s");
    return kExitData;
  }
  read.csv = true;
  read.duplicates = got.duplicates;
  read.values.reserve(got.devices.size());
  for (const RequestedDevice& device : got.devices) {
    read.values.push_back(device.address);
  }
  read.devices = std::move(got.devices);
  return kExitOk;
}

// Reads INPUT as --from says; the exit status, kExitOk when it holds a
// list (after messages about what it does not hold).
int read_input(const Options& options, const std::string& input, PackInput& read) {
  if (imports_csv(options)) {
    return read_csv_input(options, input, read);
  }
  const PeerFormat* from = columns_fit(options, "pack") ? import_format(options, "pack") : nullptr;
  if (from == nullptr) {
    return kExitUsage;
  }
  const ImportCount parsed =
      import_input(input, *from, import_choice(options), options.quiet, read.values);
  if (!parsed.read) {
    return kExitData;
  }
  if (parsed.invalid > 0) {
    error("%s: %zu invalid line%s; nothing written", input.c_str(), parsed.invalid,
          parsed.invalid == 1 ? "" : "s");
    return kExitData;
  }
  read.duplicates = parsed.duplicates;
  return kExitOk;
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
  PackInput read;
  if (const int status = read_input(options, input, read); status != kExitOk) {
    return status;
  }
  Addresses& values = read.values;
  if (values.empty() && !options.allow_empty) {
    error(
        "%s: no addresses; nothing written (an empty list refuses every device: "
        "--allow-empty writes one)",
        input.c_str());
    return kExitData;
  }

  const std::size_t dropped = read.duplicates + sort_unique(values);
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
  std::vector<RequestedDevice> requests = std::move(read.devices);
  // A new list needs no request per address (ten million of them would
  // cost more than the list): they share one origin.
  if (!read.csv && !before.empty()) {
    requests.reserve(added.size());
    for (const std::uint64_t value : added) {
      requests.push_back({value, {}});
    }
  }
  // Replacing no address, every address is new: one origin for them all.
  const InventoryEdit edit =
      before.empty()
          ? record_new_list(change.inventory, requests, !values.empty(), read.now, acting_user())
          : apply_requests(change.inventory, requests, added, read.now, acting_user());
  change.inventory_changed = stale || edit.changed;
  change.list_payload = canonical_payload(values);
  change.listed = values;
  if (!write_pair(update, dest, change, key)) {
    return kExitData;
  }
  const Addresses removed = difference(before, values);
  audit.succeeded({added, removed, edit.updated, values.size()});
  error("wrote %zu address%s to %s (%zu duplicate%s dropped)", values.size(),
        values.size() == 1 ? "" : "es", dest.c_str(), dropped, dropped == 1 ? "" : "s");
  if (!edit.updated.empty()) {
    error("label or expiry changed: %zu address%s", edit.updated.size(),
          edit.updated.size() == 1 ? "" : "es");
  }
  if (options.json) {
    ChangeSummary summary;
    summary.list = options.positional[1];
    summary.created = created;
    summary.added = added;
    summary.removed = removed;
    summary.updated = edit.updated;
    summary.count = values.size();
    return print_json(change_summary_json("pack", summary), kExitOk);
  }
  return kExitOk;
}

}  // namespace adrvet_list
