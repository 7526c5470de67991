// add and remove on a list in the canonical layout: the old container is
// streamed into the new one (store/list_stream.h), so that the list is
// never whole in memory; the inventory beside it is written in the order
// inventory_store.h gives, around the list's replacement.
#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include "commands/update_run.h"
#include "common/messages.h"
#include "store/address_set.h"
#include "store/inventory_store.h"
#include "store/list_store.h"
#include "store/list_stream.h"

namespace adrvet_list {
namespace {

Addresses addresses_of(const Inventory& inventory) {
  Addresses addresses;
  addresses.reserve(inventory.entries.size());
  for (const Inventory::Entry& entry : inventory.entries) {
    addresses.push_back(entry.address);
  }
  return addresses;
}

Addresses united(const Addresses& a, const Addresses& b) {
  Addresses result;
  result.reserve(a.size() + b.size());
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(result));
  return result;
}

// The change decided once the old list is read, and the inventory's first
// write, which comes before the list's.
class Decision {
 public:
  Decision(const UpdateRun& run, orbitforge::util::FileUpdate& update, LoadedInventory& loaded)
      : run_(run), update_(update), loaded_(loaded) {}

  bool operator()(const StreamSummary& summary) {
    keep_listed(loaded_, summary.probes_listed);
    fold_common_origin(loaded_, summary.before);  // the stream takes strictly ascending lists only
    if (summary.after == 0 && summary.before != 0 && !run_.options.allow_empty) {
      error(
          "%s: the list would be left with no address, which refuses every device; nothing "
          "changed (--allow-empty writes it)",
          run_.path.c_str());
      stopped_ = true;
      return false;
    }
    change_.inventory = std::move(loaded_.inventory);
    if (run_.adding) {
      edit_ = apply_requests(change_.inventory, device_requests(run_), summary.changed, run_.now,
                             acting_user());
    }
    change_.inventory_changed = loaded_.stale || edit_.changed;
    // Of the inventory's addresses, those listed before or after: this
    // write drops none of them.
    change_.listed =
        run_.adding ? united(summary.probes_listed, run_.requested) : summary.probes_listed;
    if (change_.inventory_changed && !write_pair(update_, run_.path, change_, run_.key)) {
      stopped_ = true;
      return false;
    }
    // Rewrite when the addresses changed, or to put an untidy list in order.
    return !summary.changed.empty() || !summary.tidy;
  }

  // Once the new list is in place: the entries of removed addresses go.
  void after_written(const StreamSummary& summary) {
    change_.inventory_changed = false;
    change_.listed = run_.adding ? united(summary.probes_listed, run_.requested)
                                 : difference(summary.probes_listed, summary.changed);
    (void)write_pair(update_, run_.path, change_, run_.key);
  }

  [[nodiscard]] bool stopped() const { return stopped_; }
  [[nodiscard]] const Addresses& updated() const { return edit_.updated; }

 private:
  const UpdateRun& run_;
  orbitforge::util::FileUpdate& update_;
  LoadedInventory& loaded_;
  PairChange change_;
  InventoryEdit edit_;
  bool stopped_ = false;
};

}  // namespace

std::optional<int> update_streamed(const UpdateRun& run, orbitforge::util::FileUpdate& update) {
  LoadedInventory loaded = load_inventory(update, *run.options.key);
  if (loaded.state == LoadedInventory::State::damaged) {
    if (!run.options.force) {
      return std::nullopt;  // the whole-list path says so, after any fault of the list itself
    }
    loaded = LoadedInventory{};
    loaded.stale = true;
  }
  const Addresses probes = addresses_of(loaded.inventory);
  Decision decision(run, update, loaded);
  StreamSummary summary;
  orbitforge::util::FileResult failure;
  const StreamOutcome outcome = stream_change(
      update, run.key, {run.requested, run.adding, probes},
      [&decision](const StreamSummary& s) { return decision(s); }, summary, failure);
  switch (outcome) {
    case StreamOutcome::not_streamable:
      return std::nullopt;
    case StreamOutcome::failed:
      report_write_failure(run.path, failure);
      return kExitData;
    case StreamOutcome::kept:
      if (decision.stopped()) {
        return kExitData;
      }
      break;
    case StreamOutcome::written:
      decision.after_written(summary);
      break;
  }
  UpdateDone done;
  done.changed = std::move(summary.changed);
  done.unchanged = std::move(summary.unchanged);
  done.updated = decision.updated();
  done.count = summary.after;
  return report_update(run, done);
}

}  // namespace adrvet_list
