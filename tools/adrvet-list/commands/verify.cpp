// verify: would ADRVET answer correctly from this list?
#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/messages.h"
#include "crypto/key_versions.h"
#include "store/address_set.h"
#include "store/inventory_store.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list verify -k S|U LIST\n"
    "\n"
    "Checks that the container opens, that the list text decodes, and that the\n"
    "entries are in ascending order (otherwise ADRVET may miss listed addresses);\n"
    "counts duplicates, which are harmless. Prints 'ok: N addresses' and exits 0\n"
    "only when the list is usable, whole (not cut short) and ascending; otherwise\n"
    "says what ADRVET would answer, what looks damaged, or which entry is out of\n"
    "order, and exits 1. The list's inventory (names, expiries, origins) must\n"
    "open and read whole too; 'inventory: N entries' on standard error says how\n"
    "many it holds, and\n"
    "how many belong to addresses no longer listed (left by a writer that\n"
    "stopped; ignored, and dropped by the next change).\n";

}  // namespace

const char* verify_usage() { return kUsage; }

int run_verify(const Options& options) {
  const std::string path = list_file_path(options.positional[0]);
  const LoadedList list = load_list(path, orbitforge::util::key_for_version(*options.key));
  if (!list.usable()) {
    report_unusable(path, list, *options.key);
    return kExitData;
  }
  if (!list.intact) {
    error("%s: %s; ADRVET may answer 0 for listed addresses", path.c_str(), damage_description());
    return kExitData;
  }
  const auto& values = list.values;
  std::size_t duplicates = 0;
  for (std::size_t i = 1; i < values.size(); ++i) {
    if (values[i] < values[i - 1]) {
      error(
          "%s: entry %zu (%s) comes after %s: not in ascending order, so ADRVET may miss "
          "listed addresses; 'adrvet-list pack' or 'add' writes it sorted",
          path.c_str(), i + 1, colon_text(values[i]).c_str(), colon_text(values[i - 1]).c_str());
      return kExitData;
    }
    duplicates += values[i] == values[i - 1] ? 1U : 0U;
  }
  if (duplicates > 0) {
    error("%s: %zu duplicate entr%s (harmless)", path.c_str(), duplicates,
          duplicates == 1 ? "y" : "ies");
  }
  LoadedInventory inventory = load_inventory(path, *options.key);
  if (inventory.state == LoadedInventory::State::damaged) {
    error("%s: %s", path.c_str(), describe_inventory(inventory).c_str());
    return kExitData;
  }
  if (inventory.state == LoadedInventory::State::other_key) {
    warning("%s: %s", path.c_str(), describe_inventory(inventory).c_str());
  }
  Addresses listed = values;
  sort_unique(listed);
  keep_listed(inventory, listed);
  // Standard output stays "ok: N addresses", as scripts read it.
  if (inventory.state == LoadedInventory::State::absent) {
    error("%s: inventory: none yet", path.c_str());
  } else {
    error("%s: inventory: %zu entries%s", path.c_str(), inventory.inventory.entries.size(),
          inventory.unlisted > 0
              ? (", and " + std::to_string(inventory.unlisted) + " of addresses not listed").c_str()
              : "");
  }
  Output out;
  out.add("ok: " + std::to_string(values.size()) + " addresses\n");
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
