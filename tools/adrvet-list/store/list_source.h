// Where a writer reads the list and its inventory: under the lock of its
// update, or, for a dry run, as readers read them, without any lock. A dry
// run so leaves nothing behind, not even a lock file, and waits for nobody.
#pragma once

#include <string>
#include <utility>

#include "common/addresses.h"
#include "crypto/crypto.h"
#include "fs/file_update.h"
#include "store/inventory_store.h"
#include "store/list_store.h"

namespace adrvet_list {

class ListSource {
 public:
  // The list file at `path`, read without a lock (a dry run).
  explicit ListSource(std::string path) : path_(std::move(path)) {}
  // The list of a locked update.
  explicit ListSource(const orbitforge::util::FileUpdate& update) : update_(&update) {}

  [[nodiscard]] bool exists() const;
  [[nodiscard]] LoadedList list(const orbitforge::util::Key& key) const;
  // The list's addresses when it is in the canonical layout, its text never
  // whole in memory; false, with `values` empty, when list() must read it.
  [[nodiscard]] bool canonical_values(const orbitforge::util::Key& key, Addresses& values) const;
  [[nodiscard]] LoadedInventory inventory(int key_version) const;

 private:
  std::string path_;
  const orbitforge::util::FileUpdate* update_ = nullptr;
};

// For a dry run: whether this process could write the list file at `path`
// (its directory, or the nearest one that exists, is writable); says why not
// and gives false.
bool could_write(const std::string& path);

}  // namespace adrvet_list
