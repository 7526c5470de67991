// Devices from spreadsheets: CSV files (pack and add --from csv) whose
// columns give each address, and optionally its label and expiry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "input/csv_columns.h"
#include "store/inventory_edit.h"

namespace adrvet_list {

struct CsvSettings {
  std::optional<CsvColumns> columns;  // --columns; without it, the header row decides
  std::int64_t now = 0;               // durations count from here
  bool quiet = false;                 // no warnings and notes
};

struct CsvDevices {
  std::vector<RequestedDevice> devices;  // ascending, one per address
  std::size_t invalid = 0;               // rows refused
  std::size_t duplicates = 0;            // rows repeating another's address and notes
  bool read = true;                      // false when an input could not be read whole
  [[nodiscard]] bool ok() const { return read && invalid == 0; }
};

// Reads the rows of every INPUT (a file, or - for standard input). Each bad
// row is reported as INPUT:LINE with the reason: a malformed record, too
// few fields, an address that does not parse, a label or expiry that
// 'add --label/--expires' would refuse, an address given again with
// another label or expiry (which of the two is meant cannot be known).
CsvDevices import_csv(const std::vector<std::string>& inputs, const CsvSettings& settings);

}  // namespace adrvet_list
