// The inventory container beside a list: "<list file>.inventory", under the
// list's key, read by readers without a lock and written only under the
// list's lock, in an order that leaves a consistent pair whenever a writer
// stops:
//   1. the inventory with the entries of the old and the new addresses,
//   2. the list,
//   3. the inventory without the entries of addresses no longer listed.
// A reader takes the entries of listed addresses only, so any mix of the
// old and new files shows each listed address with its old data, its new
// data, or none (an address added by a writer that stopped before step 1
// completed was not added at all).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/secret_bytes.h"
#include "common/addresses.h"
#include "crypto/crypto.h"
#include "fs/file_update.h"
#include "store/inventory.h"

namespace adrvet_list {

inline constexpr char kInventorySuffix[] = ".inventory";

struct LoadedInventory {
  enum class State {
    absent,  // a list made before inventories, or none written yet
    ok,
    other_key,  // under the other key version: a rekey stopped between its two writes
    damaged,    // does not open under either key, or is not an inventory
  };
  State state = State::absent;
  std::string problem;  // when damaged
  Inventory inventory;  // empty unless ok or other_key
  // The file differs from what this inventory would write: it is missing,
  // under the other key, or holds entries of addresses not listed.
  bool stale = false;
  std::size_t unlisted = 0;  // entries dropped for addresses not listed
};

// The file name of the inventory of the list file at `list_path`, links
// resolved as the writers resolve them.
std::string inventory_path(const std::string& list_path);

// Reads the inventory of the list file at `list_path` without the lock.
LoadedInventory load_inventory(const std::string& list_path, int key_version);
// The same under an update's lock.
LoadedInventory load_inventory(const orbitforge::util::FileUpdate& update, int key_version);

// Keeps the entries of the addresses `listed` (ascending) holds.
void keep_listed(LoadedInventory& loaded, const Addresses& listed);

// Once keep_listed has run on the whole list: when each of its
// `listed_count` addresses has an entry line (an inventory an earlier
// version wrote), records their shared origin once (Inventory::fold_common_origin),
// so that the next write is the last to cost a line per address.
void fold_common_origin(LoadedInventory& loaded, std::size_t listed_count);

// "the inventory ... is damaged: ..." and the like, for messages.
std::string describe_inventory(const LoadedInventory& loaded);

// What a writer stores: the new list (or nothing, when it stays) and the
// inventory with the entries of both the old and the new addresses.
struct PairChange {
  std::optional<orbitforge::util::SecretBytes> list_payload;
  Inventory inventory;
  bool inventory_changed = false;  // beyond what the file holds now
  Addresses listed;                // the addresses of the new list, ascending
  bool write_listed = false;       // the new list is `listed`, written a piece at a time
};

// For a writer: the inventory under the lock, keeping the entries of
// `listed` (ascending, each once) and folding their common origin. A damaged one stops the writer
// with a message unless `force`, which starts it afresh; false when stopped.
bool load_inventory_for_update(const orbitforge::util::FileUpdate& update, const std::string& path,
                               int key_version, const Addresses& listed, bool force,
                               LoadedInventory& loaded);
// The same for an inventory already read (by a dry run, without the lock).
bool settle_inventory(const std::string& path, const Addresses& listed, bool force,
                      LoadedInventory& loaded);

// Writes the change in the order above, with a message on failure.
bool write_pair(orbitforge::util::FileUpdate& update, const std::string& path, PairChange& change,
                const orbitforge::util::Key& key);

}  // namespace adrvet_list
