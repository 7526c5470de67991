// --from csv and --columns, as pack and add take them: CSV is read record
// by record (input/csv_import.h), not line by line as a peer's file.
#pragma once

#include <cstdint>
#include <optional>

#include "cli/options.h"
#include "input/csv_import.h"

namespace adrvet_list {

// Whether --from names CSV.
bool imports_csv(const Options& options);

// False, after a message, when --columns is given without --from csv.
bool columns_fit(const Options& options, const char* command);

// The settings of a CSV import: --columns parsed. nullopt after a message
// about --columns, or about an option that chooses a peer's set (--name,
// --table, --family).
std::optional<CsvSettings> csv_settings(const Options& options, const char* command,
                                        std::int64_t now);

}  // namespace adrvet_list
