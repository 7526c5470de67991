// verify: would ADRVET answer correctly from this list?
#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/json.h"
#include "common/messages.h"
#include "crypto/key_versions.h"
#include "store/address_set.h"
#include "store/inventory_store.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list verify -k S|U [--json] LIST\n"
    "\n"
    "Checks that the container opens, that the list text decodes, and that the\n"
    "entries are in ascending order (otherwise ADRVET may miss listed addresses);\n"
    "counts duplicates, which are harmless. Prints 'ok: N addresses' and exits 0\n"
    "only when the list is usable, whole (not cut short) and ascending; otherwise\n"
    "says what ADRVET would answer, what looks damaged, or which entry is out of\n"
    "order, and exits 1. The list's inventory (names, expiries, origins) must\n"
    "open and read whole too; 'inventory: N entries' on standard error says how\n"
    "many it holds, and how many belong to addresses no longer listed (left by a\n"
    "writer that stopped; ignored, and dropped by the next change). --json prints\n"
    "the verdict as one JSON document.\n";

// What verify found: ok, or the first thing that makes the list unfit.
struct Verdict {
  bool ok = false;
  std::optional<std::size_t> addresses;  // when the list decodes
  std::optional<int> answer;             // ADRVET's code for any address, when unusable
  std::optional<std::string> problem;
  Json metadata = nullptr;  // the inventory's verdict, once the list is ok
};

// Says what is wrong on standard error as it finds it.
Verdict examine(const std::string& path, const LoadedList& list, int key_version) {
  Verdict verdict;
  if (!list.usable()) {
    report_unusable(path, list, key_version);
    verdict.answer = orbitforge::mac::code_value(*list.failure);
    verdict.problem = list.problem;
    return verdict;
  }
  const auto& values = list.values;
  verdict.addresses = values.size();
  if (!list.intact) {
    error("%s: %s; ADRVET may answer 0 for listed addresses", path.c_str(), damage_description());
    verdict.problem = damage_description();
    return verdict;
  }
  std::size_t duplicates = 0;
  for (std::size_t i = 1; i < values.size(); ++i) {
    if (values[i] < values[i - 1]) {
      verdict.problem = "entry " + std::to_string(i + 1) + " (" + colon_text(values[i]) +
                        ") comes after " + colon_text(values[i - 1]) +
                        ": not in ascending order, so ADRVET may miss listed addresses";
      error("%s: %s; 'adrvet-list pack' or 'add' writes it sorted", path.c_str(),
            verdict.problem->c_str());
      return verdict;
    }
    duplicates += values[i] == values[i - 1] ? 1U : 0U;
  }
  if (duplicates > 0) {
    error("%s: %zu duplicate entr%s (harmless)", path.c_str(), duplicates,
          duplicates == 1 ? "y" : "ies");
  }
  verdict.ok = true;
  return verdict;
}

Json verdict_json(const std::string& list, const Verdict& verdict) {
  Json document = json_document("verify");
  document["list"] = list;
  document["ok"] = verdict.ok;
  document["addresses"] = verdict.addresses ? Json(*verdict.addresses) : Json(nullptr);
  document["answer"] = verdict.answer ? Json(*verdict.answer) : Json(nullptr);
  document["problem"] = json_text(verdict.problem);
  document["metadata"] = verdict.metadata;
  return document;
}

// Checks the inventory of a list that is ok, saying what it finds on
// standard error; a damaged one makes the verdict fail.
void examine_inventory(const std::string& path, const LoadedList& list, int key_version,
                       Verdict& verdict) {
  LoadedInventory inventory = load_inventory(path, key_version);
  const bool damaged = inventory.state == LoadedInventory::State::damaged;
  if (damaged) {
    error("%s: %s", path.c_str(), describe_inventory(inventory).c_str());
    verdict.ok = false;
    verdict.problem = describe_inventory(inventory);
  } else if (inventory.state == LoadedInventory::State::other_key) {
    warning("%s: %s", path.c_str(), describe_inventory(inventory).c_str());
  }
  Addresses listed = list.values;
  sort_unique(listed);
  keep_listed(inventory, listed);
  if (inventory.state == LoadedInventory::State::absent) {
    error("%s: inventory: none yet", path.c_str());
  } else if (!damaged) {
    error("%s: inventory: %zu entries%s", path.c_str(),
          inventory.inventory.known_count(listed.size()),
          inventory.unlisted > 0
              ? (", and " + std::to_string(inventory.unlisted) + " of addresses not listed").c_str()
              : "");
  }
  verdict.metadata = {{"present", inventory.state != LoadedInventory::State::absent},
                      {"ok", !damaged},
                      {"entries", damaged ? 0 : inventory.inventory.known_count(listed.size())},
                      {"problem", damaged ? Json(describe_inventory(inventory)) : Json(nullptr)}};
}

}  // namespace

const char* verify_usage() { return kUsage; }

int run_verify(const Options& options) {
  const std::string path = list_file_path(options.positional[0]);
  const LoadedList list = load_list(path, orbitforge::util::key_for_version(*options.key));
  Verdict verdict = examine(path, list, *options.key);
  if (verdict.ok) {
    examine_inventory(path, list, *options.key, verdict);
  }
  const int status = verdict.ok ? kExitOk : kExitData;
  if (options.json) {
    return print_json(verdict_json(options.positional[0], verdict), status);
  }
  if (!verdict.ok) {
    return status;
  }
  // Standard output stays "ok: N addresses", as scripts read it.
  Output out;
  out.add("ok: " + std::to_string(*verdict.addresses) + " addresses\n");
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
