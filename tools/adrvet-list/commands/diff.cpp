// diff: which addresses only one of two lists holds.
#include <algorithm>
#include <iterator>

#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/inventory_time.h"
#include "common/json.h"
#include "common/messages.h"
#include "formats/label_text.h"
#include "store/address_set.h"
#include "store/inventory_store.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list diff -k S|U [--key-b S|U] [--json] LIST_A LIST_B\n"
    "\n"
    "Prints the addresses only in LIST_A as '-aa:bb:cc:dd:ee:ff' and those only in\n"
    "LIST_B as '+aa:bb:cc:dd:ee:ff', in ascending order, and addresses in both whose\n"
    "expiry or label differs as '~aa:bb:cc:dd:ee:ff' followed by tab-separated\n"
    "'expires A -> B' and 'label \"A\" -> \"B\"' ('-' where there is none). -k is the\n"
    "key version of LIST_A and, unless --key-b says otherwise, of LIST_B. --json\n"
    "prints them as one JSON document instead.\n"
    "Exit status: 0 the lists hold the same addresses with the same expiries and\n"
    "labels, 1 they differ, 2 a list (or its inventory) is unusable or the command\n"
    "line is wrong.\n";

std::string time_text(std::int64_t seconds) {
  return seconds == Inventory::kNever ? std::string("-") : iso_time(seconds);
}

std::string label_text(const Inventory& inventory, const Inventory::Entry* entry) {
  const std::string label = entry != nullptr ? comment_label(inventory.label_of(*entry)) : "";
  return label.empty() ? std::string("-") : "\"" + label + "\"";
}

bool same_notes(std::uint64_t address, const Inventory& a, const Inventory& b) {
  const Inventory::Entry* x = a.find(address);
  const Inventory::Entry* y = b.find(address);
  const std::int64_t expires_a = x != nullptr ? x->expires : Inventory::kNever;
  const std::int64_t expires_b = y != nullptr ? y->expires : Inventory::kNever;
  const std::string_view label_a = x != nullptr ? a.label_of(*x) : std::string_view();
  const std::string_view label_b = y != nullptr ? b.label_of(*y) : std::string_view();
  return expires_a == expires_b && label_a == label_b;
}

// {"label":..,"expires":..} of one side, null where there is none.
Json notes_json(const Inventory& inventory, std::uint64_t address) {
  const Inventory::Entry* entry = inventory.find(address);
  const std::string_view label = entry != nullptr ? inventory.label_of(*entry) : std::string_view();
  const bool expires = entry != nullptr && entry->expires != Inventory::kNever;
  return {{"label", label.empty() ? Json(nullptr) : Json(std::string(label))},
          {"expires", expires ? json_time(entry->expires) : Json(nullptr)}};
}

// "~ADDR\texpires A -> B\tlabel "A" -> "B"\n" when the notes differ, else "".
std::string changed_notes(std::uint64_t address, const Inventory& a, const Inventory& b) {
  const Inventory::Entry* x = a.find(address);
  const Inventory::Entry* y = b.find(address);
  const std::int64_t expires_a = x != nullptr ? x->expires : Inventory::kNever;
  const std::int64_t expires_b = y != nullptr ? y->expires : Inventory::kNever;
  const std::string_view label_a = x != nullptr ? a.label_of(*x) : std::string_view();
  const std::string_view label_b = y != nullptr ? b.label_of(*y) : std::string_view();
  if (expires_a == expires_b && label_a == label_b) {
    return {};
  }
  std::string line = "~" + colon_text(address);
  if (expires_a != expires_b) {
    line += "\texpires " + time_text(expires_a) + " -> " + time_text(expires_b);
  }
  if (label_a != label_b) {
    line += "\tlabel " + label_text(a, x) + " -> " + label_text(b, y);
  }
  return line + "\n";
}

// The inventory of a usable list; false after a message when it is damaged.
bool inventory_of(const std::string& argument, int key_version, const LoadedList& list,
                  LoadedInventory& loaded) {
  const std::string path = list_file_path(argument);
  loaded = load_inventory(path, key_version);
  if (loaded.state == LoadedInventory::State::damaged) {
    error("%s: %s", path.c_str(), describe_inventory(loaded).c_str());
    return false;
  }
  keep_listed(loaded, list.values);
  return true;
}

}  // namespace

const char* diff_usage() { return kUsage; }

int run_diff(const Options& options) {
  LoadedList a;
  LoadedList b;
  // Trouble must not read as "the lists differ", so it is 2, as for diff(1).
  if (!load_usable_list(options.positional[0], *options.key, a) ||
      !load_usable_list(options.positional[1], options.key_b.value_or(*options.key), b)) {
    return kExitUsage;
  }
  sort_unique(a.values);
  sort_unique(b.values);
  LoadedInventory notes_a;
  LoadedInventory notes_b;
  if (!inventory_of(options.positional[0], *options.key, a, notes_a) ||
      !inventory_of(options.positional[1], options.key_b.value_or(*options.key), b, notes_b)) {
    return kExitUsage;
  }
  Addresses only_a;
  Addresses only_b;
  Addresses in_both;
  std::set_difference(a.values.begin(), a.values.end(), b.values.begin(), b.values.end(),
                      std::back_inserter(only_a));
  std::set_difference(b.values.begin(), b.values.end(), a.values.begin(), a.values.end(),
                      std::back_inserter(only_b));
  std::set_intersection(a.values.begin(), a.values.end(), b.values.begin(), b.values.end(),
                        std::back_inserter(in_both));
  Addresses changed;
  for (const std::uint64_t address : in_both) {
    if (!same_notes(address, notes_a.inventory, notes_b.inventory)) {
      changed.push_back(address);
    }
  }
  const bool same = only_a.empty() && only_b.empty() && changed.empty();
  const int status = same ? kExitOk : kExitData;
  if (options.json) {
    Json document = json_document("diff");
    document["a"] = options.positional[0];
    document["b"] = options.positional[1];
    document["same"] = same;
    document["only_a"] = json_addresses(only_a);
    document["only_b"] = json_addresses(only_b);
    document["changed"] = Json::array();
    for (const std::uint64_t address : changed) {
      document["changed"].push_back({{"address", json_address(address)},
                                     {"a", notes_json(notes_a.inventory, address)},
                                     {"b", notes_json(notes_b.inventory, address)}});
    }
    return print_json(document, status);
  }
  // "-", "+" and "~" lines together in ascending order.
  Output out;
  auto next_a = only_a.begin();
  auto next_b = only_b.begin();
  auto next_changed = changed.begin();
  constexpr std::uint64_t kPastEnd = ~std::uint64_t{0};
  while (next_a != only_a.end() || next_b != only_b.end() || next_changed != changed.end()) {
    const std::uint64_t a_value = next_a != only_a.end() ? *next_a : kPastEnd;
    const std::uint64_t b_value = next_b != only_b.end() ? *next_b : kPastEnd;
    const std::uint64_t changed_value = next_changed != changed.end() ? *next_changed : kPastEnd;
    if (next_a != only_a.end() && a_value <= b_value && a_value <= changed_value) {
      out.add('-');
      out.add(colon_text(*next_a++) + "\n");
    } else if (next_b != only_b.end() && b_value <= changed_value) {
      out.add('+');
      out.add(colon_text(*next_b++) + "\n");
    } else {
      out.add(changed_notes(*next_changed++, notes_a.inventory, notes_b.inventory));
    }
  }
  return finish_output(out, status);
}

}  // namespace adrvet_list
