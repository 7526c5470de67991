// show: the inventory of a list, one line per listed address, in list order.
#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/inventory_time.h"
#include "common/json.h"
#include "common/messages.h"
#include "formats/label_text.h"
#include "store/inventory_store.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list show -k S|U [--json] LIST\n"
    "\n"
    "Prints one line per address of LIST, in list order, with tabs between the\n"
    "fields: the address, when it expires, when it was added, by whom, and its\n"
    "label. Times are ISO 8601 UTC; '-' stands for what is not known (addresses\n"
    "listed before the list had an inventory, or added by another tool). --json\n"
    "prints the entries as one JSON document, absent values as null.\n";

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

Json optional_time(std::int64_t seconds) {
  return json_time(seconds == Inventory::kNever ? std::nullopt
                                                : std::optional<std::int64_t>(seconds));
}

// The label as it was given (JSON escapes what it must); an empty one is none.
Json entry_json(std::uint64_t address, const Inventory& inventory, const Inventory::Entry* entry) {
  const Inventory::Origin* origin = entry != nullptr ? inventory.origin_of(*entry) : nullptr;
  const std::string_view label = entry != nullptr ? inventory.label_of(*entry) : "";
  Json item = Json::object();
  item["address"] = json_address(address);
  item["label"] = label.empty() ? Json(nullptr) : Json(std::string(label));
  item["expires"] = optional_time(entry != nullptr ? entry->expires : Inventory::kNever);
  item["added"] = optional_time(origin != nullptr ? origin->time : Inventory::kNever);
  item["added_by"] =
      origin != nullptr ? Json(std::string(inventory.user_of(*origin))) : Json(nullptr);
  return item;
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
  if (options.json) {
    Json document = json_document("show");
    document["list"] = options.positional[0];
    Json entries = Json::array();
    for (const std::uint64_t address : list.values) {
      const std::optional<Inventory::Entry> entry = loaded.inventory.entry_of(address);
      entries.push_back(entry_json(address, loaded.inventory, entry ? &*entry : nullptr));
    }
    document["entries"] = std::move(entries);
    return print_json(document, kExitOk);
  }
  Output out;
  for (const std::uint64_t address : list.values) {
    const std::optional<Inventory::Entry> entry = loaded.inventory.entry_of(address);
    add_entry(out, address, loaded.inventory, entry ? &*entry : nullptr);
  }
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
