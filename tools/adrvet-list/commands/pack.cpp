// pack: plain list in, validated, sorted, de-duplicated protected list out.
#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include "cli/command.h"
#include "cli/csv_options.h"
#include "cli/dry_run.h"
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
#include "store/list_source.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list pack -k S|U [--quiet] [--dry-run] [--allow-empty]\n"
    "                        [--from FORMAT] [--name SET] [--table TABLE]\n"
    "                        [--family FAMILY] [--columns COLUMNS]\n"
    "                        [--wait SECONDS] [--mode MODE]\n"
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
    "--allow-empty. All-zero, broadcast and multicast addresses are accepted with a\n"
    "warning each, locally administered ones with one warning that counts them.\n"
    "A new DEST gets mode MODE (600 by default); an existing one keeps its mode\n"
    "unless --mode is given. Waits up to SECONDS (10) for another writer of DEST,\n"
    "saying so after a second. Over an existing list, says how many addresses\n"
    "left it and entered it, naming the first few.\n"
    "--from FORMAT reads INPUT as a peer has it instead: hostapd (accept_mac_file,\n"
    "VLAN IDs allowed), dnsmasq (dhcp-host= lines, any fields), dnsmasq-hosts\n"
    "(dhcp-hostsfile lines), ipset (ipset save or ipset list output, or an export:\n"
    "the one hash:mac set), nft (nft list set or nft list ruleset output, also as\n"
    "nft -j prints it, or an export: the one set of type ether_addr), freeradius\n"
    "(files module entries with their attributes), or plain. From a file holding\n"
    "several sets, --name SET (and for nft --table TABLE, --family FAMILY) chooses\n"
    "one; without them, addresses in several sets are refused, naming the sets.\n"
    "What the file says of an address comes with it, checked as 'add' checks its\n"
    "own: nft and ipset comments and timeouts, dnsmasq host names and tags, the\n"
    "'# ' line above an entry, a FreeRADIUS Expiration (a time passed is refused).\n"
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
    "against the list DEST held, as one JSON document.\n"
    "--dry-run prints the change on standard output ('+ address' entering,\n"
    "'- address' leaving, and a count line: 'would add 2, remove 0: 14 addresses')\n"
    "and writes nothing, not even a lock file; with --json, the JSON document with\n"
    "\"dry_run\": true. --quiet: errors only, no warnings or notes.\n";

// The addresses DEST holds now (under the lock, unless a dry run): their
// inventory entries carry over. A DEST that does not open under the key is
// replaced, with a warning.
Addresses old_addresses(const ListSource& source, const std::string& dest, int key_version,
                        bool quiet) {
  if (!source.exists()) {
    return {};
  }
  const orbitforge::util::Key key = orbitforge::util::key_for_version(key_version);
  if (Addresses values; source.canonical_values(key, values)) {
    sort_unique(values);
    return values;
  }
  LoadedList old = source.list(key);
  if (!old.usable()) {
    if (!quiet) {
      warning("%s: it does not open as a list under -k %s (%s); it is replaced whole", dest.c_str(),
              key_letter(key_version), old.problem.c_str());
    }
    return {};
  }
  sort_unique(old.values);
  return std::move(old.values);
}

// The inventory that carries over; a damaged one is dropped with a warning,
// since pack replaces the list whole anyway.
Inventory old_inventory(const ListSource& source, const std::string& dest, int key_version,
                        const Addresses& listed, bool& stale) {
  LoadedInventory loaded = source.inventory(key_version);
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

// Packing over a list replaces it whole: what left it and what entered
// it is said, so that a wrong INPUT does not pass unnoticed.
void report_replaced(const std::string& dest, std::size_t before, const Addresses& added,
                     const Addresses& removed) {
  constexpr std::size_t kNamed = 3;
  std::string text = dest + ": replaced a list of " + std::to_string(before) + " address" +
                     (before == 1 ? "" : "es") + ": ";
  if (added.empty() && removed.empty()) {
    text += "the same addresses";
  } else {
    text += std::to_string(removed.size()) + " left";
    text += removed.empty() ? "" : " (" + first_addresses(removed, kNamed) + ")";
    text += ", " + std::to_string(added.size()) + " entered";
    text += added.empty() ? "" : " (" + first_addresses(added, kNamed) + ")";
  }
  error("%s", text.c_str());
}

// What INPUT gives pack: its addresses, and what it says of them.
struct PackInput {
  Addresses values;
  // What the input says of its addresses: the rows of a spreadsheet, the
  // entries of a peer's file that carry a label or an expiry.
  std::vector<RequestedDevice> noted;
  std::size_t duplicates = 0;
  std::int64_t now = current_time();
};

int read_csv_input(const Options& options, const std::string& input, PackInput& read) {
  const auto settings = csv_settings(options, "pack", read.now);
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
  read.duplicates = got.duplicates;
  read.values.reserve(got.devices.size());
  for (const RequestedDevice& device : got.devices) {
    read.values.push_back(device.address);
  }
  read.noted = std::move(got.devices);
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
      import_input(input, *from, import_choice(options), options.quiet, read.values, &read.noted);
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

// Takes the lock (or, for a dry run, only checks that the list could be
// written); false after a message.
bool start_writing(const Options& options, const std::string& dest,
                   orbitforge::util::FileUpdate& update) {
  if (options.dry_run) {
    return could_write(dest);
  }
  return make_list_directory(options.positional[1], dest, options.quiet) &&
         begin_update(dest, {options.wait, options.mode, options.quiet}, update);
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
  AuditedChange audit("pack", dest);
  if (options.dry_run) {
    audit.cancel();
  }
  orbitforge::util::FileUpdate update;
  if (!start_writing(options, dest, update)) {
    return kExitData;
  }
  const ListSource source = options.dry_run ? ListSource(dest) : ListSource(update);
  ChangeSummary summary;
  summary.list = options.positional[1];
  summary.created = !source.exists();
  const Addresses before = old_addresses(source, dest, *options.key, options.quiet);
  PairChange change;
  bool stale = false;
  change.inventory = old_inventory(source, dest, *options.key, before, stale);
  // Over no list every address is added: that is `values` itself, copied
  // into the summary only where the whole change is printed.
  if (!before.empty()) {
    summary.added = difference(values, before);
  }
  const Addresses& added = before.empty() ? values : summary.added;
  summary.removed = difference(before, values);
  summary.count = values.size();
  // A new list needs no request per address (ten million of them would
  // cost more than the list): they share one origin, and only the
  // addresses the input says something of get requests.
  const std::vector<RequestedDevice> requests =
      combine_requests(before.empty() ? Addresses{} : summary.added, read.noted, {});
  const InventoryEdit edit =
      before.empty()
          ? record_new_list(change.inventory, requests, !values.empty(), read.now, acting_user())
          : apply_requests(change.inventory, requests, summary.added, read.now, acting_user());
  summary.updated = edit.updated;
  if (options.dry_run) {
    if (before.empty()) {
      summary.added = std::move(values);
    }
    return print_dry_run("pack", std::move(summary), options.json);
  }
  change.inventory_changed = stale || edit.changed || options.mode.has_value();
  change.write_listed = true;
  const AuditCounts counts{added, summary.removed, edit.updated, values.size()};
  if (before.empty() && options.json) {
    summary.added = values;
  }
  change.listed = std::move(values);  // the one copy of the addresses from here on
  if (!write_pair(update, dest, change, orbitforge::util::key_for_version(*options.key))) {
    return kExitData;
  }
  audit.succeeded(counts);
  if (!options.quiet) {
    const std::size_t written = change.listed.size();
    error("wrote %zu address%s to %s (%zu duplicate%s dropped)", written, written == 1 ? "" : "es",
          dest.c_str(), dropped, dropped == 1 ? "" : "s");
    if (!edit.updated.empty()) {
      error("label or expiry changed: %zu address%s", edit.updated.size(),
            edit.updated.size() == 1 ? "" : "es");
    }
    if (!summary.created) {
      report_replaced(dest, before.size(), before.empty() ? change.listed : summary.added,
                      summary.removed);
    }
  }
  if (options.json) {
    return print_json(change_summary_json("pack", summary), kExitOk);
  }
  return kExitOk;
}

}  // namespace adrvet_list
