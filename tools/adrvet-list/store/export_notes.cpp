#include "store/export_notes.h"

#include <algorithm>
#include <utility>

#include "common/inventory_time.h"
#include "common/messages.h"
#include "store/address_set.h"
#include "store/inventory_store.h"

namespace adrvet_list {
namespace {

// `values` without the addresses in `expired` (ascending), order kept.
std::size_t drop_expired(Addresses& values, const Addresses& expired) {
  const std::size_t before = values.size();
  values.erase(std::remove_if(values.begin(), values.end(),
                              [&expired](std::uint64_t value) {
                                return std::binary_search(expired.begin(), expired.end(), value);
                              }),
               values.end());
  return before - values.size();
}

}  // namespace

ExportNotes load_export_notes(const std::string& list_path, int key_version, bool timeouts,
                              Addresses& values, const char* command) {
  ExportNotes notes;
  notes.timeouts = timeouts;
  const LoadedInventory loaded = load_inventory(list_path, key_version);
  if (loaded.state == LoadedInventory::State::damaged) {
    warning("%s: %s: %s; exported without labels or expiries", command, list_path.c_str(),
            describe_inventory(loaded).c_str());
    return notes;
  }
  const std::int64_t now = current_time();
  Addresses expired;  // ascending, as the entries are
  for (const Inventory::Entry& entry : loaded.inventory.entries) {
    const bool expires = entry.expires != Inventory::kNever;
    if (timeouts && expires && entry.expires <= now) {
      expired.push_back(entry.address);
      continue;
    }
    const std::string_view label = loaded.inventory.label_of(entry);
    const std::int64_t left = timeouts && expires ? entry.expires - now : 0;
    if (!label.empty() || expires) {
      notes.notes.push_back({entry.address, std::string(label), left, expires ? entry.expires : 0});
    }
  }
  if (!expired.empty()) {
    const std::size_t dropped = drop_expired(values, expired);
    if (dropped > 0) {
      warning("%s: %zu expired address%s left out ('adrvet-list prune' removes them)", command,
              dropped, dropped == 1 ? "" : "es");
    }
  }
  return notes;
}

}  // namespace adrvet_list
