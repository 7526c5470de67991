// sync: one list, every enforcement point in step.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/json.h"
#include "common/messages.h"
#include "store/export_notes.h"
#include "store/list_store.h"
#include "sync/sync_target.h"
#include "sync/targets_file.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list sync -k S|U [--targets FILE] [--check] [--dry-run] [--json]\n"
    "                        [--quiet] [--wait SECONDS] [--force] LIST\n"
    "\n"
    "Brings every enforcement point that the targets file names (targets.conf in\n"
    "LIST's directory, or --targets FILE) in step with LIST. For each target: the\n"
    "export is rendered; when it equals the live file nothing is done; otherwise\n"
    "the new file is checked with the target's check (by default the peer's own\n"
    "checker: that of nft, dnsmasq or FreeRADIUS), and only when it passes\n"
    "the live file is replaced crash-safe and the peer reloaded. A failed check\n"
    "leaves the live file; a failed reload puts the old file back and reloads it.\n"
    "One target's failure does not stop the others. Two syncs of one output never\n"
    "interleave: the second waits up to --wait SECONDS (default 300) for the first.\n"
    "\n"
    "  --check     write and run nothing: exit 1 naming each target whose live file\n"
    "              is missing or differs from the export (and by how many addresses)\n"
    "  --dry-run   say what a sync would do, running only the checks; write nothing\n"
    "  --json, -j  one JSON document on standard output (see adrvet-list(1))\n"
    "  --quiet     leave the targets in step out of the report\n"
    "  --force     sync from a list that looks cut short\n"
    "\n"
    "The targets file, one section per enforcement point:\n"
    "  [wifi]\n"
    "  format = hostapd\n"
    "  output = /etc/hostapd/adrvet.accept\n"
    "  reload = systemctl kill -s HUP hostapd\n"
    "Keys: format, output (absolute), name (ipset, nft), table and family (nft),\n"
    "mode (of a new output, octal), check (a command, {} standing for the new file;\n"
    "empty for none) and reload (a command, {} standing for the output; empty for\n"
    "none). Commands run as you, without a shell; a targets file another user could\n"
    "change is refused. Default reloads: nft -f, ipset restore -f, systemctl kill\n"
    "-s HUP hostapd, systemctl reload dnsmasq (dnsmasq-hosts), systemctl restart\n"
    "dnsmasq (dnsmasq) or freeradius.\n"
    "Exit status: 0 every target in step, 1 any target failed (with --check: any\n"
    "drifted), 2 a usage error.\n";

Json report_json(const TargetReport& report) {
  Json target = Json::object();
  target["name"] = report.name;
  target["format"] = report.format;
  target["output"] = report.output;
  target["state"] = state_name(report.state);
  target["added"] = report.added;
  target["removed"] = report.removed;
  target["message"] = json_text(report.message);
  return target;
}

const char* mode_name(SyncMode mode) {
  switch (mode) {
    case SyncMode::check:
      return "check";
    case SyncMode::dry_run:
      return "dry_run";
    case SyncMode::sync:
      break;
  }
  return "sync";
}

std::string counts(const TargetReport& report, const char* added, const char* removed) {
  return std::to_string(report.added) + added + ", " + std::to_string(report.removed) + removed;
}

std::string report_line(const TargetReport& report) {
  std::string line = report.name + ": ";
  switch (report.state) {
    case TargetState::in_step:
      return line + "in step\n";
    case TargetState::updated:
      line += "updated: " + counts(report, " added", " removed");
      break;
    case TargetState::would_update:
      line += "would update " + report.output + ": " + counts(report, " to add", " to remove");
      break;
    case TargetState::missing:
      line += "missing: " + report.output + " does not exist";
      break;
    case TargetState::drifted:
      line += "drifted: " + report.output + ": " + report.message.value_or("");
      break;
    case TargetState::failed:
      line += "failed";
      break;
  }
  if (report.message && report.state != TargetState::drifted &&
      report.state != TargetState::missing && report.state != TargetState::failed) {
    line += " (" + *report.message + ")";
  }
  return line + "\n";
}

bool in_step(const TargetReport& report, SyncMode mode) {
  switch (report.state) {
    case TargetState::failed:
      return false;
    case TargetState::missing:
    case TargetState::drifted:
      return mode != SyncMode::check;
    default:
      return true;
  }
}

int print_reports(const std::vector<TargetReport>& reports, const std::string& list, SyncMode mode,
                  bool json, bool quiet) {
  bool ok = true;
  bool changed = false;
  for (const TargetReport& report : reports) {
    ok = ok && in_step(report, mode);
    changed = changed || report.state == TargetState::updated ||
              report.state == TargetState::would_update || report.state == TargetState::missing ||
              report.state == TargetState::drifted;
    if (report.state == TargetState::failed) {
      error("sync: %s: %s", report.name.c_str(), report.message.value_or("failed").c_str());
    }
  }
  const int status = ok ? kExitOk : kExitData;
  if (json) {
    Json document = json_document("sync");
    document["list"] = list;
    document["mode"] = mode_name(mode);
    document["ok"] = ok;
    document["changed"] = changed;
    document["targets"] = Json::array();
    for (const TargetReport& report : reports) {
      document["targets"].push_back(report_json(report));
    }
    return print_json(document, status);
  }
  Output out;
  for (const TargetReport& report : reports) {
    if (!quiet || report.state != TargetState::in_step) {
      out.add(report_line(report));
    }
  }
  return finish_output(out, status);
}

// A list is replaced by renaming a new file over it: a new inode, or at
// least a new change time.
struct ListStamp {
  dev_t device = 0;
  ino_t inode = 0;
  timespec changed{};
  off_t size = 0;
  bool operator==(const ListStamp& other) const {
    return device == other.device && inode == other.inode &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec &&
           size == other.size;
  }
};

ListStamp stamp_of(const std::string& path) {
  struct stat status {};
  ListStamp stamp;
  if (::stat(path.c_str(), &status) == 0) {
    stamp = {status.st_dev, status.st_ino, status.st_ctim, status.st_size};
  }
  return stamp;
}

// How often a sync starts again because the list changed while it ran.
constexpr int kMaxRounds = 5;

// A target updated in an earlier round stays reported as updated when a
// later round finds it in step; counts of two updates add up.
void merge_round(std::vector<TargetReport>& reports, std::vector<TargetReport> round) {
  if (reports.empty()) {
    reports = std::move(round);
    return;
  }
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const TargetReport& earlier = reports[i];
    TargetReport& later = round[i];
    if (earlier.state == TargetState::updated && later.state == TargetState::in_step) {
      later = earlier;
    } else if (earlier.state == TargetState::updated && later.state == TargetState::updated) {
      later.added += earlier.added;
      later.removed += earlier.removed;
    }
    reports[i] = std::move(later);
  }
}

// Syncs every target from the list as it is now, and again (a few times at
// most) while the list changed during the sync: the path unit's trigger
// that came meanwhile was folded into this run.
bool sync_all(const std::vector<SyncTarget>& targets, const std::string& list_argument,
              const Options& options, const SyncSettings& settings,
              std::vector<TargetReport>& reports) {
  const std::string path = list_file_path(list_argument);
  for (int round = 0; round < kMaxRounds; ++round) {
    const ListStamp before = stamp_of(path);
    LoadedList list;
    if (!load_usable_list(list_argument, *options.key, list)) {
      return false;
    }
    if (!list.intact && !options.force) {
      error(
          "sync: %s: %s; it is synced only with --force, since every peer would lose what is "
          "cut off",
          path.c_str(), damage_description());
      return false;
    }
    // Without timeouts: a file that counts seconds down would never be in step.
    const ExportNotes notes = load_export_notes(path, *options.key, false, list.values, "sync");
    std::vector<TargetReport> round_reports;
    for (const SyncTarget& target : targets) {
      round_reports.push_back(sync_target(target, list.values, notes, settings));
    }
    merge_round(reports, std::move(round_reports));
    if (settings.mode != SyncMode::sync || stamp_of(path) == before) {
      break;
    }
  }
  return true;
}

}  // namespace

const char* sync_usage() { return kUsage; }

int run_sync(const Options& options) {
  if (options.check && options.dry_run) {
    error("sync: --check and --dry-run do not go together");
    return kExitUsage;
  }
  const std::string& list_argument = options.positional[0];
  const std::string targets_path = options.targets.value_or(default_targets_path(list_argument));
  std::string problem;
  const auto targets = load_targets(targets_path, problem);
  if (!targets) {
    error("sync: %s", problem.c_str());
    return kExitData;
  }
  SyncSettings settings;
  settings.mode = options.check     ? SyncMode::check
                  : options.dry_run ? SyncMode::dry_run
                                    : SyncMode::sync;
  settings.wait = options.wait.value_or(settings.wait);
  std::vector<TargetReport> reports;
  if (!sync_all(*targets, list_argument, options, settings, reports)) {
    return kExitData;
  }
  return print_reports(reports, list_argument, settings.mode, options.json, options.quiet);
}

}  // namespace adrvet_list
