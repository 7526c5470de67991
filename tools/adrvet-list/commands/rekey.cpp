// rekey: the same payload under the other key version.
#include <string>
#include <utility>

#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/audit_log.h"
#include "common/messages.h"
#include "crypto/key_versions.h"
#include "store/address_set.h"
#include "store/inventory_store.h"
#include "store/list_source.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list rekey -k S|U --to S|U [--quiet] [--dry-run] [--wait SECONDS]\n"
    "                         [--mode MODE] [--force] LIST [DEST]\n"
    "\n"
    "Rewrites LIST, whose key version is -k, under the key version --to: into DEST,\n"
    "or in place when DEST is absent. The payload is kept byte for byte. Waits up to\n"
    "SECONDS (10) for another writer; --force rewrites a list that looks truncated.\n"
    "The list's inventory (names, expiries, origins) is rekeyed with it; --force\n"
    "also drops one that is damaged. --dry-run says what would be rewritten and\n"
    "writes nothing; --quiet leaves out the note on standard error.\n";

// Reads the source under the update's lock when rekeying in place, so that
// no concurrent add is undone; a dry run takes no lock.
ListSource source_of(const std::string& path, bool in_place, bool dry_run,
                     const orbitforge::util::FileUpdate& update) {
  return in_place && !dry_run ? ListSource(update) : ListSource(path);
}

// Takes the lock of DEST, or, for a dry run, only checks that it could be
// written; false after a message.
bool start_writing(const Options& options, const std::string& dest, bool in_place,
                   orbitforge::util::FileUpdate& update) {
  if (options.dry_run) {
    return could_write(dest);
  }
  return (in_place || make_list_directory(options.positional[1], dest, options.quiet)) &&
         begin_update(dest, {options.wait, options.mode, options.quiet}, update);
}

int print_plan(const std::string& dest, const Options& options, std::size_t count) {
  Output out;
  out.add("would rewrite " + dest + " under key version " + key_letter(*options.to) + " (was " +
          key_letter(*options.key) + "): " + std::to_string(count) + " address" +
          (count == 1 ? "" : "es") + "\n");
  return finish_output(out, kExitOk);
}

}  // namespace

const char* rekey_usage() { return kUsage; }

int run_rekey(const Options& options) {
  if (!options.to) {
    error("rekey: the new key version is required: --to S or --to U");
    return kExitUsage;
  }
  if (*options.to == *options.key) {
    error("rekey: the list is under key version %s already (-k %s --to %s): nothing to do",
          key_letter(*options.key), key_letter(*options.key), key_letter(*options.to));
    return kExitUsage;
  }
  const std::string path = list_file_path(options.positional[0]);
  const bool in_place = options.positional.size() == 1;
  const std::string dest = in_place ? path : list_file_path(options.positional[1]);
  if (!in_place && same_file(path, dest)) {
    error("rekey: DEST '%s' is LIST itself; leave DEST out to rekey in place", dest.c_str());
    return kExitUsage;
  }
  AuditedChange audit("rekey", dest);
  if (options.dry_run) {
    audit.cancel();
  }
  orbitforge::util::FileUpdate update;
  if (!start_writing(options, dest, in_place, update)) {
    return kExitData;
  }
  const ListSource source = source_of(path, in_place, options.dry_run, update);
  LoadedList list = source.list(orbitforge::util::key_for_version(*options.key));
  // The payload is kept as stored, so a list ADRVET would refuse (-4, -5)
  // may still be rekeyed; only a container that does not open may not.
  if (list.failure && *list.failure != orbitforge::mac::ResultCode::bad_data_file &&
      *list.failure != orbitforge::mac::ResultCode::bad_file_contents) {
    report_unusable(path, list, *options.key);
    return kExitData;
  }
  if (!may_rewrite(path, list, options.force)) {
    return kExitData;
  }
  LoadedInventory loaded = source.inventory(*options.key);
  if (loaded.state == LoadedInventory::State::damaged) {
    if (!options.force) {
      error("%s: %s; nothing written (--force drops the names and expiries it held)", path.c_str(),
            describe_inventory(loaded).c_str());
      return kExitData;
    }
    loaded = LoadedInventory{};
  }
  PairChange change;
  if (list.usable()) {
    sort_unique(list.values);
    keep_listed(loaded, list.values);
    change.listed = list.values;
  } else {
    // A list ADRVET would refuse has no addresses to check the entries against.
    for (const Inventory::Entry& entry : loaded.inventory.entries) {
      change.listed.push_back(entry.address);
    }
  }
  if (options.dry_run) {
    return print_plan(dest, options, list.values.size());
  }
  // The inventory is written first: should the rekey stop between the two
  // writes, readers find it under the other key and take it from there.
  change.inventory = std::move(loaded.inventory);
  change.inventory_changed = true;
  change.list_payload = std::move(list.payload);
  if (!write_pair(update, dest, change, orbitforge::util::key_for_version(*options.to))) {
    return kExitData;
  }
  audit.succeeded({{}, {}, {}, list.values.size()});
  if (options.quiet) {
    return kExitOk;
  }
  const char* to = key_letter(*options.to);
  error("%s: rewritten under key version %s (was %s); read it with -k %s, and ADRVET %s",
        dest.c_str(), to, key_letter(*options.key), to, to);
  return kExitOk;
}

}  // namespace adrvet_list
