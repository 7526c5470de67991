#include "cli/csv_options.h"

#include <string>

#include "common/messages.h"
#include "common/text_excerpt.h"

namespace adrvet_list {

bool imports_csv(const Options& options) { return options.from && *options.from == "csv"; }

bool columns_fit(const Options& options, const char* command) {
  if (options.columns && !imports_csv(options)) {
    error("%s: --columns says which CSV column holds what; it goes with --from csv", command);
    return false;
  }
  return true;
}

std::optional<CsvSettings> csv_settings(const Options& options, const char* command,
                                        std::int64_t now) {
  if (options.name || options.table || options.family) {
    error("%s: --name, --table and --family choose a set of --from nft or ipset, not of csv",
          command);
    return std::nullopt;
  }
  CsvSettings settings;
  if (options.columns) {
    std::string problem;
    settings.columns = parse_columns(*options.columns, problem);
    if (!settings.columns) {
      error("%s: --columns %s: %s", command, quoted_excerpt(*options.columns).c_str(),
            problem.c_str());
      return std::nullopt;
    }
  }
  settings.now = now;
  settings.quiet = options.quiet;
  return settings;
}

}  // namespace adrvet_list
