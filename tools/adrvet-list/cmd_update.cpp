// add and remove: change a list in place, keeping it sorted and free of duplicates.
#include <algorithm>

#include "address_parser.h"
#include "cli.h"
#include "commands.h"
#include "crypto/key_versions.h"
#include "import_input.h"
#include "list_file.h"

namespace adrvet_list {
namespace {

constexpr char kAddUsage[] =
    "Usage: adrvet-list add -k S|U [--quiet] LIST MAC...\n"
    "       adrvet-list add -k S|U [--quiet] --from FORMAT LIST INPUT...\n"
    "\n"
    "Adds the addresses to LIST, which stays sorted and free of duplicates; creates\n"
    "LIST when it does not exist yet. Says how many were added and which were\n"
    "already present. Addresses are written as for 'pack'. With --from, the\n"
    "addresses come from the INPUT files (- for standard input) in FORMAT, one of\n"
    "the formats 'pack --from' reads; an invalid line changes nothing.\n";

constexpr char kRemoveUsage[] =
    "Usage: adrvet-list remove -k S|U LIST MAC...\n"
    "\n"
    "Removes the addresses from LIST, which stays sorted and free of duplicates.\n"
    "Says how many were removed and which were not on the list.\n";

bool parse_addresses(const std::vector<std::string>& texts, bool quiet, const char* command,
                     std::vector<std::uint64_t>& values) {
  bool all_valid = true;
  for (const std::string& text : texts) {
    const ParsedLine parsed = parse_list_line(text);
    if (parsed.kind != ParsedLine::Kind::address) {
      error("%s: '%s': %s", command, text.c_str(),
            parsed.kind == ParsedLine::Kind::blank ? "no address" : parsed.reason);
      all_valid = false;
      continue;
    }
    if (const char* kind = unusual_address_kind(parsed.value); kind != nullptr && !quiet) {
      warning("%s: '%s': %s", command, text.c_str(), kind);
    }
    values.push_back(parsed.value);
  }
  return all_valid;
}

void report_addresses(const char* what, const std::vector<std::uint64_t>& values) {
  if (values.empty()) {
    return;
  }
  std::string text;
  for (const std::uint64_t value : values) {
    text += (text.empty() ? "" : " ") + colon_text(value);
  }
  error("%s: %s", what, text.c_str());
}

int run_update(int argc, char* argv[], bool adding) {
  const char* command = adding ? "add" : "remove";
  int status = kExitOk;
  const auto options = start_command(argc, argv,
                                     {command, adding ? kAddUsage : kRemoveUsage,
                                      kOptKey | (adding ? kOptQuiet | kOptFrom : 0U), 2, SIZE_MAX},
                                     status);
  if (!options) {
    return status;
  }
  std::vector<std::uint64_t> requested;
  // Only addresses being added deserve a warning about their kind.
  const bool quiet = options->quiet || !adding;
  const std::vector<std::string> arguments(options->positional.begin() + 1,
                                           options->positional.end());
  const auto from = import_format(*options, command);
  if (!from) {
    return kExitUsage;
  }
  if (!(options->from ? import_inputs(arguments, *from, quiet, requested)
                      : parse_addresses(arguments, quiet, command, requested))) {
    error("%s: nothing changed", command);
    return kExitData;
  }
  sort_unique(requested);

  const std::string path = list_file_path(options->positional[0]);
  const auto key = orbitforge::util::key_for_version(*options->key);
  LoadedList list;
  const bool creating = adding && !path_exists(path);
  if (!creating) {
    list = load_list(path, key);
    if (!list.usable()) {
      report_unusable(path, list);
      return kExitData;
    }
  }
  std::vector<std::uint64_t> values = list.values;
  sort_unique(values);

  std::vector<std::uint64_t> changed;
  std::vector<std::uint64_t> unchanged;
  for (const std::uint64_t value : requested) {
    const bool present = std::binary_search(values.begin(), values.end(), value);
    (present == adding ? unchanged : changed).push_back(value);
  }
  std::vector<std::uint64_t> result;
  result.reserve(values.size() + (adding ? changed.size() : 0));
  if (adding) {
    std::merge(values.begin(), values.end(), changed.begin(), changed.end(),
               std::back_inserter(result));
  } else {
    std::set_difference(values.begin(), values.end(), changed.begin(), changed.end(),
                        std::back_inserter(result));
  }
  // Rewrite when the addresses changed, or to put an untidy list in order.
  if (creating || canonical_payload(result) != list.payload) {
    if (!write_list(path, result, key)) {
      return kExitData;
    }
  }
  error("%s: %s %zu address%s%s", path.c_str(), adding ? "added" : "removed", changed.size(),
        changed.size() == 1 ? "" : "es", creating ? " (new list)" : "");
  report_addresses(adding ? "already present" : "not on the list", unchanged);
  return kExitOk;
}

}  // namespace

int run_add(int argc, char* argv[]) { return run_update(argc, argv, true); }
int run_remove(int argc, char* argv[]) { return run_update(argc, argv, false); }

}  // namespace adrvet_list
