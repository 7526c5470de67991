// diff: which addresses only one of two lists holds.
#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/inventory_time.h"
#include "common/messages.h"
#include "formats/label_text.h"
#include "store/address_set.h"
#include "store/inventory_store.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list diff -k S|U [--key-b S|U] LIST_A LIST_B\n"
    "\n"
    "Prints the addresses only in LIST_A as '-aa:bb:cc:dd:ee:ff' and those only in\n"
    "LIST_B as '+aa:bb:cc:dd:ee:ff', in ascending order, and addresses in both whose\n"
    "expiry or label differs as '~aa:bb:cc:dd:ee:ff' followed by tab-separated\n"
    "'expires A -> B' and 'label \"A\" -> \"B\"' ('-' where there is none). -k is the\n"
    "key version of LIST_A and, unless --key-b says otherwise, of LIST_B.\n"
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
  Output out;
  bool differ = false;
  auto ia = a.values.begin();
  auto ib = b.values.begin();
  while (ia != a.values.end() || ib != b.values.end()) {
    if (ib == b.values.end() || (ia != a.values.end() && *ia < *ib)) {
      out.add('-');
      out.add(colon_text(*ia++) + "\n");
      differ = true;
    } else if (ia == a.values.end() || *ib < *ia) {
      out.add('+');
      out.add(colon_text(*ib++) + "\n");
      differ = true;
    } else {
      const std::string line = changed_notes(*ia, notes_a.inventory, notes_b.inventory);
      out.add(line);
      differ = differ || !line.empty();
      ++ia;
      ++ib;
    }
  }
  return finish_output(out, differ ? kExitData : kExitOk);
}

}  // namespace adrvet_list
