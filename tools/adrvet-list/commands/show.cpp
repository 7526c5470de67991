// show: the inventory of a list, one line per listed address, in list order.
#include "cli/options.h"
#include "cli/output.h"
#include "common/messages.h"
#include "commands/commands.h"
#include "common/inventory_time.h"
#include "formats/label_text.h"
#include "store/list_store.h"
#include "store/inventory_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list show -k S|U LIST\n"
    "\n"
    "Prints one line per address of LIST, in list order, with tabs between the\n"
    "fields: the address, when it expires, when it was added, by whom, and its\n"
    "label. Times are ISO 8601 UTC; '-' stands for what is not known (addresses\n"
    "listed before the list had an inventory, or added by another tool).\n";

void add_time(Output& out, std::int64_t seconds) {
  out.add(seconds == Inventory::kNever ? std::string("-") : iso_time(seconds));
}

void add_entry(Output& out, std::uint64_t address, const Inventory& inventory,
               const Inventory::Entry* entry) {
  out.add(colon_text(address));
  out.add('\t');
  add_time(out, entry != nullptr ? entry->expires : Inventory::kNever);
  out.add('\t');
  const Inventory::Origin* origin = entry != nullptr ? inventory.origin_of(*entry) : nullptr;
  add_time(out, origin != nullptr ? origin->time : Inventory::kNever);
  out.add('\t');
  // A terminal shows these: whatever the file holds, no control byte passes.
  out.add(origin != nullptr ? comment_label(inventory.user_of(*origin)) : std::string("-"));
  out.add('\t');
  const std::string label = entry != nullptr ? comment_label(inventory.label_of(*entry)) : "";
  out.add(label.empty() ? std::string("-") : label);
  out.add('\n');
}

}  // namespace

const char* show_usage() { return kUsage; }

int run_show(const Options& options) {
  LoadedList list;
  if (!load_usable_list(options.positional[0], *options.key, list)) {
    return kExitData;
  }
  const std::string path = list_file_path(options.positional[0]);
  const LoadedInventory loaded = load_inventory(path, *options.key);
  if (loaded.state == LoadedInventory::State::damaged) {
    error("%s: %s", path.c_str(), describe_inventory(loaded).c_str());
    return kExitData;
  }
  Output out;
  for (const std::uint64_t address : list.values) {
    add_entry(out, address, loaded.inventory, loaded.inventory.find(address));
  }
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
