// prune: removes the addresses whose expiry has passed, and says which.
#include <algorithm>

#include "cli/dry_run.h"
#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/audit_log.h"
#include "common/inventory_time.h"
#include "common/json.h"
#include "common/messages.h"
#include "crypto/key_versions.h"
#include "formats/label_text.h"
#include "store/address_set.h"
#include "store/inventory_edit.h"
#include "store/inventory_store.h"
#include "store/list_source.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list prune -k S|U [--quiet] [--dry-run] [--wait SECONDS] [--force]\n"
    "                         [--json] LIST\n"
    "\n"
    "Removes from LIST every address whose expiry, set when it was added, has come,\n"
    "and prints each on standard output with its expiry and label, tab-separated.\n"
    "Meant to run from a timer (adrvet-prune@.timer). Waits up to SECONDS\n"
    "(10) for another writer; --force rewrites a list that looks truncated.\n"
    "--json prints what it removed as one JSON document instead. --dry-run prints\n"
    "what would leave the list ('- address' lines and a count line; with --json\n"
    "the document with \"dry_run\": true) and changes nothing; --quiet leaves out\n"
    "the note on standard error.\n";

// The writer's document: what left the list and how many stay.
int print_pruned(const Options& options, const Addresses& removed, std::size_t count) {
  ChangeSummary summary;
  summary.list = options.positional[0];
  summary.removed = removed;
  summary.count = count;
  return print_json(change_summary_json("prune", summary), kExitOk);
}

}  // namespace

const char* prune_usage() { return kUsage; }

int run_prune(const Options& options) {
  const std::string path = list_file_path(options.positional[0]);
  AuditedChange audit("prune", path);
  if (options.dry_run) {
    audit.cancel();
  }
  const auto key = orbitforge::util::key_for_version(*options.key);
  orbitforge::util::FileUpdate update;
  if (options.dry_run ? !could_write(path)
                      : !begin_update(path, {options.wait, options.mode, options.quiet}, update)) {
    return kExitData;
  }
  const ListSource source = options.dry_run ? ListSource(path) : ListSource(update);
  LoadedList list = source.list(key);
  if (!list.usable()) {
    report_unusable(path, list, *options.key);
    return kExitData;
  }
  if (!may_rewrite(path, list, options.force)) {
    return kExitData;
  }
  sort_unique(list.values);
  LoadedInventory loaded = source.inventory(*options.key);
  if (!settle_inventory(path, list.values, options.force, loaded)) {
    return kExitData;
  }
  const std::int64_t now = current_time();
  const Addresses expired = expired_addresses(loaded.inventory, now);
  if (options.dry_run) {
    ChangeSummary summary;
    summary.list = options.positional[0];
    summary.removed = expired;
    summary.count = list.values.size() - expired.size();
    return print_dry_run("prune", std::move(summary), options.json);
  }
  Output out;
  for (const std::uint64_t address : options.json ? Addresses{} : expired) {
    const Inventory::Entry* entry = loaded.inventory.find(address);
    const std::string label = comment_label(loaded.inventory.label_of(*entry));
    out.add(colon_text(address) + "\t" + iso_time(entry->expires) + "\t" +
            (label.empty() ? "-" : label) + "\n");
  }
  if (expired.empty()) {
    audit.cancel();  // nothing changed: a timer's idle runs leave no trace
    if (!options.quiet) {
      error("%s: nothing has expired", path.c_str());
    }
    return options.json ? print_pruned(options, expired, list.values.size())
                        : finish_output(out, kExitOk);
  }
  PairChange change;
  Addresses kept;
  std::set_difference(list.values.begin(), list.values.end(), expired.begin(), expired.end(),
                      std::back_inserter(kept));
  change.list_payload = canonical_payload(kept);
  change.inventory = std::move(loaded.inventory);
  change.inventory_changed = loaded.stale;
  change.listed = kept;
  if (!write_pair(update, path, change, key)) {
    return kExitData;
  }
  audit.succeeded({{}, expired, {}, kept.size()});
  if (!options.quiet) {
    error("%s: removed %zu expired address%s", path.c_str(), expired.size(),
          expired.size() == 1 ? "" : "es");
  }
  return options.json ? print_pruned(options, expired, kept.size()) : finish_output(out, kExitOk);
}

}  // namespace adrvet_list
