#include "input/import_input.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "base/file_descriptor.h"
#include "common/inventory_time.h"
#include "common/messages.h"
#include "common/text_excerpt.h"
#include "formats/label_text.h"
#include "input/limited_report.h"
#include "input/line_reader.h"
#include "input/local_addresses.h"
#include "input/peer_statements.h"
#include "store/address_set.h"

namespace adrvet_list {
namespace {

// What one input held besides its addresses, for the closing notes.
struct Tally {
  std::size_t skipped = 0;
  const char* skipped_what = "";
  std::size_t flushes = 0;
};

// The labels and expiries of the entries of each set, when they are
// wanted; a later statement about an address beats an earlier one.
class FileNotes {
 public:
  explicit FileNotes(bool wanted) : wanted_(wanted), now_(wanted ? current_time() : 0) {}
  [[nodiscard]] bool wanted() const { return wanted_; }
  // The notes of an entry, or the reason they are not ones --label and
  // --expires would take.
  const char* add(const ParsedLine& parsed);
  // An entry without notes, or a removal, after one with them.
  void clear(std::uint32_t set, std::uint64_t value) {
    if (const auto found = sets_.find(set); found != sets_.end()) {
      found->second.push_back({value, {}});
    }
  }
  void flush(std::uint32_t set) {
    if (set == ParsedLine::kAllSets) {
      sets_.clear();
    } else {
      sets_.erase(set);
    }
  }
  // The notes of the addresses in `kept` (ascending) of `set`, to `devices`.
  void move_into(std::uint32_t set, const Addresses& kept, std::vector<RequestedDevice>& devices);
  // Whether `set` has any notes at all: a list without is not searched.
  [[nodiscard]] bool holds(std::uint32_t set) const { return sets_.contains(set); }

 private:
  bool wanted_;
  std::int64_t now_;
  std::map<std::uint32_t, std::vector<RequestedDevice>> sets_;
};

const char* FileNotes::add(const ParsedLine& parsed) {
  RequestedDevice device{parsed.value, {}};
  if (!parsed.label.empty()) {
    if (const char* problem = label_problem(parsed.label)) {
      return problem;
    }
    device.notes.label = std::string(parsed.label);
  }
  if (parsed.seconds_left != ParsedLine::kForever) {
    // A peer's last second still counts: an entry never expires on import.
    device.notes.expires = now_ + std::max<std::int64_t>(parsed.seconds_left, 1);
  }
  if (parsed.expires_at != ParsedLine::kForever) {
    // A time the file names is held to --expires's rules: one that has
    // passed would make an entry that prune removes at once.
    if (parsed.expires_at <= now_) {
      return "that time has passed";
    }
    if (parsed.expires_at > kLatestTime) {
      return kYearRangeProblem;
    }
    device.notes.expires = parsed.expires_at;
  }
  sets_[parsed.set].push_back(std::move(device));
  return nullptr;
}

void FileNotes::move_into(std::uint32_t set, const Addresses& kept,
                          std::vector<RequestedDevice>& devices) {
  const auto found = sets_.find(set);
  if (found == sets_.end()) {
    return;
  }
  settle_requests(found->second);
  for (RequestedDevice& device : found->second) {
    if (device.notes.any() && std::binary_search(kept.begin(), kept.end(), device.address)) {
      devices.push_back(std::move(device));
    }
  }
  sets_.erase(found);
}

// The statements of each set the file names, by ParsedLine::set.
class FileSets {
 public:
  PeerStatements& operator[](std::uint32_t set) { return sets_[set]; }
  void flush(std::uint32_t set) {
    if (set != ParsedLine::kAllSets) {
      sets_[set].flush();
      return;
    }
    for (auto& [number, statements] : sets_) {
      statements.flush();
    }
  }
  [[nodiscard]] std::size_t removals() const {
    std::size_t count = 0;
    for (const auto& [number, statements] : sets_) {
      count += statements.removals();
    }
    return count;
  }

 private:
  std::map<std::uint32_t, PeerStatements> sets_;
};

// The warnings about the addresses taken.
struct AddressWarnings {
  LimitedReport& unusual;   // all-zero, broadcast, multicast: a line each
  LocalAddressNote& local;  // locally administered: one summary
};

void take_line(PeerReader& reader, const InputLine& line, bool quiet, LimitedReport& invalid,
               AddressWarnings& warnings, FileSets& sets, FileNotes& notes, Tally& tally,
               PeerStatements*& last_added) {
  // A line cut short is parsed only when its comment starts within what was
  // kept: an address beyond the cut must not be silently lost.
  if (line.cut() && line.kept.find('#') == std::string_view::npos) {
    invalid.add(line.number, "line too long", quoted_excerpt(line.kept, line.length));
    return;
  }
  for (const ParsedLine& parsed : reader.read(line.kept)) {
    switch (parsed.kind) {
      case ParsedLine::Kind::invalid:
        invalid.add(line.number, parsed.reason, quoted_excerpt(parsed.content));
        continue;
      case ParsedLine::Kind::removal:
        sets[parsed.set].remove(parsed.value);
        notes.clear(parsed.set, parsed.value);
        continue;
      case ParsedLine::Kind::flush:
        sets.flush(parsed.set);
        notes.flush(parsed.set);
        ++tally.flushes;
        continue;
      case ParsedLine::Kind::skipped:
        ++tally.skipped;
        tally.skipped_what = parsed.reason;
        continue;
      case ParsedLine::Kind::blank:
        continue;
      case ParsedLine::Kind::address:
        break;
    }
    if (notes.wanted() && parsed.has_notes()) {
      if (const char* problem = notes.add(parsed)) {
        // The label, or the entry, whichever the reason is about.
        const bool label_at_fault = !parsed.label.empty() && label_problem(parsed.label) != nullptr;
        invalid.add(line.number, problem,
                    quoted_excerpt(label_at_fault ? parsed.label : parsed.content));
        continue;
      }
    } else if (notes.wanted()) {
      notes.clear(parsed.set, parsed.value);
    }
    last_added = &sets[parsed.set];
    last_added->add(parsed.value);
    if (const char* kind = unusual_address_kind(parsed.value); kind != nullptr && !quiet) {
      if (is_locally_administered(parsed.value)) {
        warnings.local.add(parsed.value);
      } else {
        warnings.unusual.add(line.number, kind, quoted_excerpt(parsed.content));
      }
    }
  }
}

void report_tally(const std::string& input, const Tally& tally, std::size_t removals) {
  if (tally.skipped > 0) {
    warning("%s: %zu line%s skipped (%s)", input.c_str(), tally.skipped,
            tally.skipped == 1 ? "" : "s", tally.skipped_what);
  }
  if (removals > 0 || tally.flushes > 0) {
    warning("%s: the file's own removals applied in order (%zu removal%s, %zu flush%s)",
            input.c_str(), removals, removals == 1 ? "" : "s", tally.flushes,
            tally.flushes == 1 ? "" : "es");
  }
}

}  // namespace

ImportCount import_input(const std::string& input, const PeerFormat& format,
                         const SetChoice& choice, bool quiet, Addresses& values,
                         std::vector<RequestedDevice>* devices) {
  ImportCount count;
  std::string reason;
  const int fd = open_input(input, reason);
  if (fd < 0) {
    error("%s: cannot read: %s", input.c_str(), reason.c_str());
    count.read = false;
    return count;
  }
  const orbitforge::util::FileDescriptor owned(fd == STDIN_FILENO ? -1 : fd);
  const std::unique_ptr<PeerReader> importer = format.make_reader();
  importer->choose(choice);
  LimitedReport invalid(false, input);
  LimitedReport unusual(true, input);
  LocalAddressNote local(input);
  AddressWarnings warnings{unusual, local};
  LineReader reader(fd, std::max(InputLine::kMaxKept, importer->longest_line()));
  InputLine line;
  constexpr std::size_t kFirstCompaction = std::size_t{1} << 20U;
  std::size_t compact_at = kFirstCompaction;
  FileSets sets;
  FileNotes notes(devices != nullptr);
  PeerStatements* last_added = nullptr;
  Tally tally;
  while (reader.next(line)) {
    take_line(*importer, line, quiet, invalid, warnings, sets, notes, tally, last_added);
    if (last_added != nullptr && last_added->size() >= compact_at) {
      count.duplicates += last_added->compact();
      compact_at = std::max(kFirstCompaction, 2 * last_added->size());
    }
  }
  if (!quiet) {
    report_tally(input, tally, sets.removals());
  }
  if (const char* problem = importer->finish()) {
    invalid.add(line.number, problem, "");
  } else {
    const std::size_t first = values.size();
    PeerStatements& chosen = sets[importer->chosen_set()];
    count.duplicates += chosen.finish_compaction();
    chosen.move_into(values);
    if (devices != nullptr && notes.holds(importer->chosen_set())) {
      Addresses kept(values.begin() + static_cast<std::ptrdiff_t>(first), values.end());
      sort_unique(kept);
      notes.move_into(importer->chosen_set(), kept, *devices);
    }
  }
  unusual.close();
  local.close();
  invalid.close();
  count.invalid = invalid.count();
  if (reader.error() != 0) {
    error("%s: cannot read: %s", input.c_str(), std::strerror(reader.error()));
    count.read = false;
  }
  return count;
}

bool import_inputs(const std::vector<std::string>& inputs, const PeerFormat& format,
                   const SetChoice& choice, bool quiet, Addresses& values,
                   std::vector<RequestedDevice>* devices) {
  bool all_valid = true;
  for (const std::string& input : inputs) {
    const ImportCount count = import_input(input, format, choice, quiet, values, devices);
    all_valid = all_valid && count.read && count.invalid == 0;
  }
  return all_valid;
}

}  // namespace adrvet_list
