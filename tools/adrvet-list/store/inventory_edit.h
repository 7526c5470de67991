// Changes of an inventory as the writers make them: entries for the
// addresses a command adds, labels and expiries set on listed addresses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/addresses.h"
#include "store/inventory.h"

namespace adrvet_list {

// What a command line or an input row says about one address.
struct DeviceNotes {
  std::optional<std::string> label;     // empty: remove the label
  std::optional<std::int64_t> expires;  // Inventory::kNever: remove the expiry
  [[nodiscard]] bool any() const { return label || expires; }
};

struct RequestedDevice {
  std::uint64_t address = 0;
  DeviceNotes notes;
};

// Sorts by address; of the rows for one address, the last wins (as a
// spreadsheet's later correction would).
void settle_requests(std::vector<RequestedDevice>& requests);

// The one way what an input and the command line say of devices becomes
// the inventory's requests, for every writer and every input: each address
// of `addresses` (ascending) with `defaults` (--label, --expires), and each
// of `noted` (what a spreadsheet row or a peer's file says of its address;
// any order, a later one winning) with its own notes, `defaults` filling in
// what they leave out. Settled.
std::vector<RequestedDevice> combine_requests(const Addresses& addresses,
                                              const std::vector<RequestedDevice>& noted,
                                              const DeviceNotes& defaults);

// "user", or "user (sudo: sudouser)" when SUDO_USER is set.
std::string acting_user();

struct InventoryEdit {
  Addresses updated;  // listed before, label or expiry changed now
  bool changed = false;
};

// Applies `requests` (settled) to `inventory`: an address in `added`
// (ascending; the addresses the list gains) gets a new entry with the
// origin `now`/`user` and its notes; any other requested address with notes
// has them set on its entry, which is made when it had none.
InventoryEdit apply_requests(Inventory& inventory, const std::vector<RequestedDevice>& requests,
                             const Addresses& added, std::int64_t now, const std::string& user);

// The same for a list that had no address before (a new one, or one
// replaced whole) and gets some (`listing`): the addresses without notes
// share one origin recorded for the whole list, which costs nothing per
// address; those with notes get entries (`requests` (settled) may hold
// those alone). Drops whatever `inventory` held.
InventoryEdit record_new_list(Inventory& inventory, const std::vector<RequestedDevice>& requests,
                              bool listing, std::int64_t now, const std::string& user);

// The listed addresses (ascending) whose expiry is at or before `now`.
Addresses expired_addresses(const Inventory& inventory, std::int64_t now);

}  // namespace adrvet_list
