#include "store/inventory_edit.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace adrvet_list {

void settle_requests(std::vector<RequestedDevice>& requests) {
  std::stable_sort(
      requests.begin(), requests.end(),
      [](const RequestedDevice& a, const RequestedDevice& b) { return a.address < b.address; });
  // Keep the last of each run of one address.
  std::vector<RequestedDevice> settled;
  settled.reserve(requests.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    if (i + 1 == requests.size() || requests[i + 1].address != requests[i].address) {
      settled.push_back(std::move(requests[i]));
    }
  }
  requests = std::move(settled);
}

std::vector<RequestedDevice> combine_requests(const Addresses& addresses,
                                              const std::vector<RequestedDevice>& noted,
                                              const DeviceNotes& defaults) {
  std::vector<RequestedDevice> requests;
  requests.reserve(addresses.size() + noted.size());
  for (const std::uint64_t value : addresses) {
    requests.push_back({value, defaults});
  }
  if (noted.empty()) {
    return requests;  // ascending already
  }
  for (RequestedDevice device : noted) {
    device.notes.label = device.notes.label ? device.notes.label : defaults.label;
    device.notes.expires = device.notes.expires ? device.notes.expires : defaults.expires;
    // A row that says nothing adds no request: its address, if new, has one.
    if (device.notes.any()) {
      requests.push_back(std::move(device));
    }
  }
  settle_requests(requests);  // the input's own notes come last, and win
  return requests;
}

std::string acting_user() {
  std::string user;
  const uid_t uid = ::getuid();
  if (const passwd* entry = ::getpwuid(uid); entry != nullptr && entry->pw_name != nullptr) {
    user = entry->pw_name;
  } else {
    user = "uid " + std::to_string(uid);
  }
  if (const char* sudo_user = std::getenv("SUDO_USER"); sudo_user != nullptr && *sudo_user != 0) {
    user += std::string(" (sudo: ") + sudo_user + ")";
  }
  return user;
}

namespace {

// Sets the notes on `entry`; true when that changed it.
bool set_notes(Inventory& inventory, Inventory::Entry& entry, const DeviceNotes& notes) {
  bool changed = false;
  if (notes.label && *notes.label != inventory.label_of(entry)) {
    entry.label = inventory.add_label(*notes.label);
    changed = true;
  }
  if (notes.expires && *notes.expires != entry.expires) {
    entry.expires = *notes.expires;
    changed = true;
  }
  return changed;
}

}  // namespace

InventoryEdit apply_requests(Inventory& inventory, const std::vector<RequestedDevice>& requests,
                             const Addresses& added, std::int64_t now, const std::string& user) {
  InventoryEdit edit;
  if (requests.empty()) {
    return edit;
  }
  const std::uint32_t origin = added.empty() ? Inventory::kNone : inventory.add_origin(now, user);
  Inventory::Entries merged;
  merged.reserve(inventory.entries.size() + added.size());
  auto old = inventory.entries.begin();
  auto is_new = added.begin();
  for (const RequestedDevice& request : requests) {
    while (old != inventory.entries.end() && old->address < request.address) {
      merged.push_back(*old++);
    }
    is_new = std::lower_bound(is_new, added.end(), request.address);
    const bool adding = is_new != added.end() && *is_new == request.address;
    const bool had_entry = old != inventory.entries.end() && old->address == request.address;
    if (!adding && !request.notes.any()) {
      continue;  // an address already listed, nothing to say about it
    }
    // A listed address without an entry line of its own keeps the list's
    // common origin once it gets one.
    Inventory::Entry entry =
        had_entry ? *old++
                  : inventory.entry_of(request.address).value_or(Inventory::Entry{request.address});
    if (adding) {
      // A new listing starts afresh, whatever a stopped writer left behind.
      entry = Inventory::Entry{request.address, Inventory::kNever, origin, Inventory::kNone};
      set_notes(inventory, entry, request.notes);
      edit.changed = true;
    } else if (set_notes(inventory, entry, request.notes)) {
      edit.updated.push_back(request.address);
      edit.changed = true;
    }
    merged.push_back(entry);
  }
  merged.insert(merged.end(), old, inventory.entries.end());
  inventory.entries = std::move(merged);
  return edit;
}

InventoryEdit record_new_list(Inventory& inventory, const std::vector<RequestedDevice>& requests,
                              bool listing, std::int64_t now, const std::string& user) {
  inventory = Inventory{};
  InventoryEdit edit;
  if (!listing) {
    return edit;
  }
  inventory.set_common_origin(inventory.add_origin(now, user));
  std::vector<RequestedDevice> noted;
  Addresses added;
  for (const RequestedDevice& request : requests) {
    if (request.notes.any()) {
      noted.push_back(request);
      added.push_back(request.address);
    }
  }
  (void)apply_requests(inventory, noted, added, now, user);
  edit.changed = true;
  return edit;
}

Addresses expired_addresses(const Inventory& inventory, std::int64_t now) {
  Addresses expired;
  for (const Inventory::Entry& entry : inventory.entries) {
    if (entry.expires != Inventory::kNever && entry.expires <= now) {
      expired.push_back(entry.address);
    }
  }
  return expired;
}

}  // namespace adrvet_list
