// diff: which addresses only one of two lists holds.
#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/messages.h"
#include "store/address_set.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list diff -k S|U [--key-b S|U] LIST_A LIST_B\n"
    "\n"
    "Prints the addresses only in LIST_A as '-aa:bb:cc:dd:ee:ff' and those only in\n"
    "LIST_B as '+aa:bb:cc:dd:ee:ff', in ascending order. -k is the key version of\n"
    "LIST_A and, unless --key-b says otherwise, of LIST_B.\n"
    "Exit status: 0 the lists hold the same addresses, 1 they differ, 2 a list is\n"
    "unusable or the command line is wrong.\n";

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
      ++ia;
      ++ib;
    }
  }
  return finish_output(out, differ ? kExitData : kExitOk);
}

}  // namespace adrvet_list
