// add and remove: change a list in place, keeping it sorted and free of
// duplicates, under the list's lock so that concurrent updates all count.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "cli/command.h"
#include "cli/csv_options.h"
#include "cli/dry_run.h"
#include "commands/commands.h"
#include "commands/update_run.h"
#include "common/audit_log.h"
#include "common/inventory_time.h"
#include "common/json.h"
#include "common/messages.h"
#include "common/text_excerpt.h"
#include "crypto/key_versions.h"
#include "formats/address_parser.h"
#include "formats/format_table.h"
#include "formats/label_text.h"
#include "input/csv_import.h"
#include "input/import_input.h"
#include "input/local_addresses.h"
#include "store/address_set.h"
#include "store/inventory_edit.h"
#include "store/inventory_store.h"
#include "store/list_source.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kAddUsage[] =
    "Usage: adrvet-list add -k S|U [--quiet] [--dry-run] [--create] [--allow-empty]\n"
    "                       [--wait SECONDS] [--mode MODE] [--force] [--label TEXT]\n"
    "                       [--expires WHEN] [--json] LIST MAC...|-\n"
    "       adrvet-list add -k S|U [options] --from FORMAT [--name SET]\n"
    "                       [--table TABLE] [--family FAMILY] LIST INPUT...\n"
    "       adrvet-list add -k S|U [options] --from csv [--columns COLUMNS]\n"
    "                       LIST INPUT...\n"
    "\n"
    "Adds the addresses to LIST, which stays sorted and free of duplicates. A LIST\n"
    "that does not exist is made only with --create (mode MODE, 600 by default; a\n"
    "list directory is created too, unless LIST ends in '.dat'); a new list with no\n"
    "address needs --allow-empty. A LIST that reads as an address is refused: the\n"
    "list comes first. '-' reads further addresses from standard input, one per line\n"
    "as for 'pack'. With --from, the addresses come from the INPUT files (- for\n"
    "standard input) in FORMAT, one of the formats 'pack --from' reads, of the set\n"
    "--name, --table and --family choose as for 'pack', with the labels and expiries\n"
    "the file gives them (--label and --expires give what the file leaves out of an\n"
    "entry). With --from csv, each row's label and expiry come from the columns\n"
    "--columns names, as for 'pack' (--label and --expires give what no column\n"
    "gives). Either way they change those of listed addresses too. An invalid line\n"
    "or address changes nothing. Says how many were added and which were already\n"
    "present. Waits up to SECONDS (10) for another writer of LIST; --force rewrites\n"
    "a list that looks truncated.\n"
    "--label TEXT names the devices (UTF-8, at most 255 bytes, no control\n"
    "characters; '' removes the name); --expires WHEN makes them leave the list at\n"
    "WHEN: 2026-12-31T23:59:59Z, 2026-12-31 (the end of that day, UTC), a duration\n"
    "such as 90m, 12h, 7d, 2w, or 'never'. On addresses already listed, they\n"
    "change the name or expiry and say so. Each new entry records when and by whom\n"
    "(the user, and SUDO_USER) it was added; 'adrvet-list show' prints it all, and\n"
    "'adrvet-list prune' removes the expired. --json prints what changed as one\n"
    "JSON document. --mode on an existing list gives it (and its inventory) MODE.\n"
    "--dry-run prints the change ('+ address' added, '~ address' given a new\n"
    "label or expiry, and a count line) and writes nothing; --quiet: errors only.\n";

constexpr char kRemoveUsage[] =
    "Usage: adrvet-list remove -k S|U [--quiet] [--dry-run] [--allow-empty]\n"
    "                          [--wait SECONDS] [--force] [--json] LIST MAC...|-\n"
    "\n"
    "Removes the addresses from LIST, which stays sorted and free of duplicates.\n"
    "Removing the last address needs --allow-empty: an empty list refuses every\n"
    "device.\n"
    "'-' reads further addresses from standard input, one per line as for 'pack'.\n"
    "Says how many were removed and which were not on the list. Waits up to\n"
    "SECONDS (10) for another writer of LIST; --force rewrites a list that looks\n"
    "truncated. --json prints what changed as one JSON document. --dry-run prints\n"
    "the change ('- address' lines and a count line) and writes nothing; --quiet:\n"
    "errors only.\n";

struct Requested {
  Addresses values;
  bool all_valid = true;
};

void take_argument(const std::string& text, const char* command, bool quiet, Requested& requested,
                   LocalAddressNote& local) {
  const ParsedLine parsed = parse_list_line(text);
  const std::string quoted = quoted_excerpt(text);
  if (parsed.kind != ParsedLine::Kind::address) {
    error("%s: %s: %s", command, quoted.c_str(),
          parsed.kind == ParsedLine::Kind::blank ? "no address" : parsed.reason);
    requested.all_valid = false;
    return;
  }
  if (const char* kind = unusual_address_kind(parsed.value); kind != nullptr && !quiet) {
    if (is_locally_administered(parsed.value)) {
      local.add(parsed.value);
    } else {
      warning("%s: %s: %s", command, quoted.c_str(), kind);
    }
  }
  requested.values.push_back(parsed.value);
}

Requested parse_requested(const std::vector<std::string>& texts, bool quiet, const char* command) {
  Requested requested;
  LocalAddressNote local(command);
  bool read_input = false;
  for (const std::string& text : texts) {
    if (text == "-") {
      // Standard input as for pack, so that a hook adding a thousand
      // devices makes one locked update, not a thousand.
      if (!read_input &&
          !import_inputs({text}, *find_peer_format("plain"), {}, quiet, requested.values)) {
        requested.all_valid = false;
      }
      read_input = true;
      continue;
    }
    take_argument(text, command, quiet, requested, local);
  }
  local.close();
  return requested;
}

// A list that is not there is made only when asked: a forgotten LIST must
// not turn the first address into a new list. Says why and gives false.
bool list_exists_or_may_be_made(const std::string& list, const std::string& path, bool create,
                                const char* command) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 || errno != ENOENT) {
    return true;  // anything else is for the update to report
  }
  if (parse_list_line(list).kind == ParsedLine::Kind::address) {
    error(
        "%s: LIST '%s' reads as an address and no such list exists; the list comes first: "
        "adrvet-list %s -k S|U LIST MAC...",
        command, list.c_str(), command);
    return false;
  }
  if (!create && std::strcmp(command, "add") == 0) {
    error("add: %s: no such list; --create makes a new one", path.c_str());
    return false;
  }
  return true;
}

void report_addresses(const char* what, const Addresses& values) {
  if (values.empty()) {
    return;
  }
  std::string text;
  for (const std::uint64_t value : values) {
    text += (text.empty() ? "" : " ") + colon_text(value);
  }
  error("%s: %s", what, text.c_str());
}

// The notes --label and --expires give, checked; nullopt after a message.
std::optional<DeviceNotes> notes_of(const Options& options, std::int64_t now) {
  DeviceNotes notes;
  if (options.label) {
    if (const char* problem = label_problem(*options.label)) {
      error("add: --label %s: %s", quoted_excerpt(*options.label).c_str(), problem);
      return std::nullopt;
    }
    notes.label = *options.label;
  }
  if (options.expires) {
    if (*options.expires == "never") {
      notes.expires = Inventory::kNever;
    } else {
      const ParsedTime parsed = parse_expiry(*options.expires, now);
      if (parsed.problem != nullptr) {
        error("add: --expires %s: %s", quoted_excerpt(*options.expires).c_str(), parsed.problem);
        return std::nullopt;
      }
      notes.expires = parsed.seconds;
    }
  }
  return notes;
}

// The list under the lock, ascending; false after a message.
bool load_current(const ListSource& source, const std::string& path, const Options& options,
                  const orbitforge::util::Key& key, LoadedList& list) {
  list = source.list(key);
  if (!list.usable()) {
    report_unusable(path, list, *options.key);
    return false;
  }
  if (!may_rewrite(path, list, options.force)) {
    return false;
  }
  // A list adrvet-list wrote is strictly ascending already; sorting ten
  // million sorted values would still cost a tenth of a second.
  if (!strictly_ascending(list.values)) {
    sort_unique(list.values);
  }
  return true;
}

}  // namespace

std::vector<RequestedDevice> device_requests(const UpdateRun& run) {
  return combine_requests(run.requested, run.noted, run.notes);
}

namespace {

// The writer's document (and a dry run's lines) for a change.
ChangeSummary summary_of(const UpdateRun& run, const UpdateDone& done) {
  ChangeSummary summary;
  summary.list = run.options.positional[0];
  summary.created = done.creating;
  (run.adding ? summary.added : summary.removed) = done.changed;
  summary.updated = done.updated;
  summary.unchanged = difference(done.unchanged, done.updated);
  summary.count = done.count;
  return summary;
}

}  // namespace

int report_update(const UpdateRun& run, const UpdateDone& done) {
  if (done.changed.empty() && done.updated.empty()) {
    run.audit.cancel();  // nothing the list says has changed
  } else {
    run.audit.succeeded({run.adding ? done.changed : Addresses{},
                         run.adding ? Addresses{} : done.changed, done.updated, done.count});
  }
  Addresses kept = difference(done.unchanged, done.updated);
  if (!run.options.quiet) {
    error("%s: %s %zu address%s%s", run.path.c_str(), run.adding ? "added" : "removed",
          done.changed.size(), done.changed.size() == 1 ? "" : "es",
          done.creating ? " (new list)" : "");
    report_addresses("label or expiry changed", done.updated);
    report_addresses(run.adding ? "already present" : "not on the list", kept);
  }
  if (run.options.json) {
    return print_json(change_summary_json(run.command, summary_of(run, done)), kExitOk);
  }
  return kExitOk;
}

namespace {

// The whole list in memory: lists the stream does not take (another
// layout, out of order, cut short), new ones, a new --mode, and dry runs,
// which read `source` without the lock and write nothing.
int update_whole(const UpdateRun& run, const ListSource& source,
                 orbitforge::util::FileUpdate& update, bool creating) {
  LoadedList list;
  if (!creating && !load_current(source, run.path, run.options, run.key, list)) {
    return kExitData;
  }
  const Addresses& values = list.values;
  LoadedInventory loaded = source.inventory(*run.options.key);
  if (!settle_inventory(run.path, values, run.options.force, loaded)) {
    return kExitData;
  }
  UpdateDone done;
  done.creating = creating;
  for (const std::uint64_t value : run.requested) {
    const bool present = std::binary_search(values.begin(), values.end(), value);
    (present == run.adding ? done.unchanged : done.changed).push_back(value);
  }
  PairChange change;
  change.listed = run.adding ? merged(values, done.changed) : difference(values, done.changed);
  if (change.listed.empty() && (creating || !values.empty()) && !run.options.allow_empty) {
    error(
        "%s: the list would be left with no address, which refuses every device; nothing "
        "changed (--allow-empty writes it)",
        run.path.c_str());
    return kExitData;
  }
  change.inventory = std::move(loaded.inventory);
  InventoryEdit edit;
  if (creating) {
    edit = record_new_list(change.inventory, device_requests(run), !change.listed.empty(), run.now,
                           acting_user());
  } else if (run.adding) {
    edit = apply_requests(change.inventory, device_requests(run), done.changed, run.now,
                          acting_user());
  }
  done.updated = std::move(edit.updated);
  done.count = change.listed.size();
  if (run.options.dry_run) {
    return print_dry_run(run.command, summary_of(run, done), run.options.json);
  }
  // Rewrite when the addresses changed, to put an untidy list in order, or
  // to give the list and its inventory the --mode asked for.
  change.inventory_changed = loaded.stale || edit.changed || run.options.mode.has_value();
  orbitforge::util::SecretBytes payload = canonical_payload(change.listed);
  if (creating || !list.intact || payload != list.payload || run.options.mode) {
    change.list_payload = std::move(payload);
  }
  if ((change.list_payload || change.inventory_changed) &&
      !write_pair(update, run.path, change, run.key)) {
    return kExitData;
  }
  return report_update(run, done);
}

int run_update(const Options& options, bool adding) {
  const char* command = adding ? "add" : "remove";
  const std::int64_t now = current_time();
  const auto notes = notes_of(options, now);
  if (!notes) {
    return kExitUsage;
  }
  // Only addresses being added deserve a warning about their kind.
  const bool quiet = options.quiet || !adding;
  // Standard input is read before the lock is taken: a slow producer must
  // not hold up the other writers.
  const std::vector<std::string> arguments(options.positional.begin() + 1,
                                           options.positional.end());
  const bool csv = imports_csv(options);
  std::optional<CsvSettings> csv_input;
  const PeerFormat* from = nullptr;
  if (csv) {
    csv_input = csv_settings(options, command, now);
  } else if (columns_fit(options, command)) {
    from = import_format(options, command);
  }
  if (csv ? !csv_input : from == nullptr) {
    return kExitUsage;
  }
  const std::string path = list_file_path(options.positional[0]);
  AuditedChange audit(command, path);
  if (options.dry_run) {
    audit.cancel();
  }
  Requested requested;
  std::vector<RequestedDevice> noted;  // what the input says of its addresses
  if (csv) {
    CsvDevices got = import_csv(arguments, *csv_input);
    requested.all_valid = got.ok();
    for (const RequestedDevice& device : got.devices) {
      requested.values.push_back(device.address);
    }
    noted = std::move(got.devices);
  } else if (options.from) {
    requested.all_valid = import_inputs(arguments, *from, import_choice(options), quiet,
                                        requested.values, adding ? &noted : nullptr);
  } else {
    requested = parse_requested(arguments, quiet, command);
  }
  if (!requested.all_valid) {
    error("%s: nothing changed", command);
    return kExitData;
  }
  sort_unique(requested.values);

  const std::string& list_argument = options.positional[0];
  if (!list_exists_or_may_be_made(list_argument, path, adding && options.create, command)) {
    return kExitUsage;
  }
  if (adding && options.create && !options.dry_run &&
      !make_list_directory(list_argument, path, options.quiet)) {
    return kExitData;
  }
  const auto key = orbitforge::util::key_for_version(*options.key);
  orbitforge::util::FileUpdate update;
  if (options.dry_run ? !could_write(path)
                      : !begin_update(path, {options.wait, options.mode, options.quiet}, update)) {
    return kExitData;
  }
  const ListSource source = options.dry_run ? ListSource(path) : ListSource(update);
  const bool creating = adding && !source.exists();
  const UpdateRun run{options,          adding, command, path,  key,
                      requested.values, *notes, now,     audit, noted};
  if (!creating && !options.dry_run && !options.mode) {
    if (const std::optional<int> status = update_streamed(run, update)) {
      return *status;
    }
  }
  return update_whole(run, source, update, creating);
}

}  // namespace

const char* add_usage() { return kAddUsage; }
const char* remove_usage() { return kRemoveUsage; }

int run_add(const Options& options) { return run_update(options, true); }
int run_remove(const Options& options) { return run_update(options, false); }

}  // namespace adrvet_list
