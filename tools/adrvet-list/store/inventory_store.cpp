#include "store/inventory_store.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/messages.h"
#include "crypto/container.h"
#include "crypto/key_versions.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

using orbitforge::util::ContainerStatus;
using orbitforge::util::OpenDetails;
using orbitforge::util::SecretBytes;

constexpr int kOtherKey = 3;  // key versions are 1 and 2: 3 - v is the other

// Turns an opened payload into the inventory, or notes why it is not one.
void take(LoadedInventory& loaded, ContainerStatus status, const OpenDetails& details,
          const SecretBytes& payload, bool other_key) {
  if (status == ContainerStatus::cannot_open && details.error == ENOENT) {
    loaded.state = LoadedInventory::State::absent;
    loaded.stale = true;
    return;
  }
  if (status != ContainerStatus::ok) {
    loaded.state = LoadedInventory::State::damaged;
    loaded.problem = orbitforge::util::describe(status);
    if (details.error != 0) {
      loaded.problem += std::string(": ") + std::strerror(details.error);
    }
    return;
  }
  std::optional<Inventory> parsed = Inventory::parse(payload, loaded.problem);
  if (!parsed) {
    loaded.state = LoadedInventory::State::damaged;
    return;
  }
  loaded.inventory = std::move(*parsed);
  loaded.state = other_key ? LoadedInventory::State::other_key : LoadedInventory::State::ok;
  loaded.stale = other_key;
}

template <typename Open>
LoadedInventory load_with(Open open, int key_version) {
  LoadedInventory loaded;
  SecretBytes payload;
  OpenDetails details;
  ContainerStatus status = open(orbitforge::util::key_for_version(key_version), payload, details);
  bool other_key = false;
  if (status == ContainerStatus::wrong_key) {
    // A rekey writes the inventory first: if it stopped there, the
    // inventory is already under the key the list is about to get.
    SecretBytes again;
    OpenDetails details_again;
    if (open(orbitforge::util::key_for_version(kOtherKey - key_version), again, details_again) ==
        ContainerStatus::ok) {
      status = ContainerStatus::ok;
      payload = std::move(again);
      details = details_again;
      other_key = true;
    }
  }
  take(loaded, status, details, payload, other_key);
  return loaded;
}

}  // namespace

std::string inventory_path(const std::string& list_path) {
  char resolved[PATH_MAX];
  if (::realpath(list_path.c_str(), resolved) != nullptr) {
    return std::string(resolved) + kInventorySuffix;
  }
  return list_path + kInventorySuffix;
}

LoadedInventory load_inventory(const std::string& list_path, int key_version) {
  const std::string path = inventory_path(list_path);
  return load_with(
      [&](const orbitforge::util::Key& key, SecretBytes& payload, OpenDetails& details) {
        return orbitforge::util::open_container(path.c_str(), payload, key, details);
      },
      key_version);
}

LoadedInventory load_inventory(const orbitforge::util::FileUpdate& update, int key_version) {
  return load_with(
      [&](const orbitforge::util::Key& key, SecretBytes& payload, OpenDetails& details) {
        return orbitforge::util::open_container_beside(update, kInventorySuffix, payload, key,
                                                       details);
      },
      key_version);
}

void keep_listed(LoadedInventory& loaded, const Addresses& listed) {
  loaded.unlisted = loaded.inventory.keep_only(listed);
  loaded.stale = loaded.stale || loaded.unlisted > 0;
}

void fold_common_origin(LoadedInventory& loaded, std::size_t listed_count) {
  if (listed_count > 0 && loaded.inventory.entries.size() == listed_count &&
      loaded.inventory.fold_common_origin()) {
    loaded.stale = true;
  }
}

std::string describe_inventory(const LoadedInventory& loaded) {
  switch (loaded.state) {
    case LoadedInventory::State::absent:
      return "no inventory yet (the next change writes one)";
    case LoadedInventory::State::ok:
      return "inventory of " + std::to_string(loaded.inventory.entries.size()) + " entries";
    case LoadedInventory::State::other_key:
      return "the inventory is under the other key version (a rekey stopped half way; the "
             "next change puts it right)";
    case LoadedInventory::State::damaged:
      break;
  }
  return "the inventory is damaged: " + loaded.problem;
}

bool load_inventory_for_update(const orbitforge::util::FileUpdate& update, const std::string& path,
                               int key_version, const Addresses& listed, bool force,
                               LoadedInventory& loaded) {
  loaded = load_inventory(update, key_version);
  return settle_inventory(path, listed, force, loaded);
}

bool settle_inventory(const std::string& path, const Addresses& listed, bool force,
                      LoadedInventory& loaded) {
  if (loaded.state == LoadedInventory::State::damaged) {
    if (!force) {
      error("%s: %s; nothing changed (--force drops the names and expiries it held)", path.c_str(),
            describe_inventory(loaded).c_str());
      return false;
    }
    loaded = LoadedInventory{};
    loaded.stale = true;
  }
  keep_listed(loaded, listed);
  fold_common_origin(loaded, listed.size());
  return true;
}

bool write_pair(orbitforge::util::FileUpdate& update, const std::string& path, PairChange& change,
                const orbitforge::util::Key& key) {
  const auto write_inventory = [&] {
    return orbitforge::util::write_container_beside(update, kInventorySuffix,
                                                    change.inventory.serialize(), key);
  };
  if (change.inventory_changed) {
    if (const orbitforge::util::FileResult written = write_inventory(); !written.ok()) {
      error("%s: cannot write its inventory: %s; nothing changed", path.c_str(),
            orbitforge::util::describe(written).c_str());
      return false;
    }
  }
  if (change.list_payload && !write_payload(update, path, std::move(*change.list_payload), key)) {
    return false;
  }
  if (change.write_listed && !write_list(update, path, change.listed, key)) {
    return false;
  }
  // The entries of addresses that left the list go once the list is
  // written. Should that fail, the pair is still consistent: readers ignore
  // them, and the next change drops them.
  if (change.inventory.keep_only(change.listed) > 0) {
    if (const orbitforge::util::FileResult written = write_inventory(); !written.ok()) {
      warning(
          "%s: the list is written, but its inventory still holds the entries of the "
          "addresses removed: %s",
          path.c_str(), orbitforge::util::describe(written).c_str());
    }
  }
  return true;
}

}  // namespace adrvet_list
