// verify: would ADRVET answer correctly from this list?
#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/messages.h"
#include "crypto/key_versions.h"
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
    "order, and exits 1.\n";

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
  Output out;
  out.add("ok: " + std::to_string(values.size()) + " addresses\n");
  return finish_output(out, kExitOk);
}

}  // namespace adrvet_list
