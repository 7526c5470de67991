#include "input/csv_import.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/file_descriptor.h"
#include "common/addresses.h"
#include "common/inventory_time.h"
#include "common/messages.h"
#include "common/text_excerpt.h"
#include "formats/address_parser.h"
#include "formats/label_text.h"
#include "input/csv_reader.h"
#include "input/limited_report.h"
#include "input/line_reader.h"
#include "store/inventory.h"

namespace adrvet_list {
namespace {

constexpr char kColumnsForm[] = "--columns mac=N|NAME[,label=N|NAME][,expires=N|NAME]";

struct Row {
  RequestedDevice device;
  std::size_t input = 0;  // its INPUT, as an index
  std::uint64_t line = 0;
};

unsigned long long line_number(std::uint64_t line) { return static_cast<unsigned long long>(line); }

bool is_blank(const CsvRecord& record) {
  return record.problem == nullptr &&
         std::all_of(record.fields.begin(), record.fields.end(),
                     [](const std::string& field) { return field.empty(); });
}

std::string_view without_blanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Where the columns are in INPUT, whose first record is `first`; nullopt
// after a message.
std::optional<CsvLayout> choose_layout(const std::string& input, const CsvRecord& first,
                                       const CsvSettings& settings) {
  std::string problem;
  if (settings.columns) {
    if (settings.columns->by_name() && first.problem != nullptr) {
      error("%s:%llu: the header row: %s", input.c_str(), line_number(first.line), first.problem);
      return std::nullopt;
    }
    std::optional<CsvLayout> layout = resolve_columns(*settings.columns, first.fields, problem);
    if (!layout) {
      error("%s:%llu: --columns: %s", input.c_str(), line_number(first.line), problem.c_str());
    }
    return layout;
  }
  if (first.problem == nullptr) {
    std::optional<CsvLayout> layout = layout_from_header(first.fields, problem);
    if (layout) {
      if (!settings.quiet) {
        error("%s: the header row names the columns: %s", input.c_str(),
              layout->describe().c_str());
      }
      return layout;
    }
    if (!problem.empty()) {
      error("%s:%llu: %s", input.c_str(), line_number(first.line), problem.c_str());
      return std::nullopt;
    }
  }
  error(
      "%s:%llu: the first row is no header naming a 'mac' column, and no --columns says "
      "which column holds what: %s",
      input.c_str(), line_number(first.line), kColumnsForm);
  return std::nullopt;
}

// Reads the rows of one INPUT into `rows`.
class CsvFile {
 public:
  CsvFile(const std::string& input, std::size_t index, const CsvSettings& settings)
      : input_(input),
        index_(index),
        settings_(settings),
        invalid_(false, input),
        unusual_(true, input) {}

  // Adds to `count`: the rows refused, whether the input was read.
  void read(std::vector<Row>& rows, CsvDevices& count) {
    std::string reason;
    const int fd = open_input(input_, reason);
    if (fd < 0) {
      error("%s: cannot read: %s", input_.c_str(), reason.c_str());
      count.read = false;
      return;
    }
    const orbitforge::util::FileDescriptor owned(fd == STDIN_FILENO ? -1 : fd);
    CsvReader reader(fd);
    CsvRecord record;
    if (reader.next(record)) {
      const std::optional<CsvLayout> layout = choose_layout(input_, record, settings_);
      if (!layout) {
        ++count.invalid;
      } else {
        if (!layout->header) {
          first_data_line_ = record.line;
          take(record, *layout, rows);
        }
        while (reader.next(record)) {
          take(record, *layout, rows);
        }
      }
    }
    unusual_.close();
    invalid_.close();
    count.invalid += invalid_.count();
    if (reader.error() != 0) {
      error("%s: cannot read: %s", input_.c_str(), std::strerror(reader.error()));
      count.read = false;
    }
  }

 private:
  void take(const CsvRecord& record, const CsvLayout& layout, std::vector<Row>& rows) {
    if (is_blank(record)) {
      return;  // spreadsheets end a sheet with empty rows
    }
    if (record.problem != nullptr) {
      invalid_.add(record.line, record.problem, "");
      return;
    }
    if (record.fields.size() < layout.needed()) {
      const std::string reason = std::to_string(record.fields.size()) + " field" +
                                 (record.fields.size() == 1 ? "" : "s") + ", but column " +
                                 std::to_string(layout.needed()) + " is read";
      invalid_.add(record.line, reason.c_str(), "");
      return;
    }
    Row row{{}, index_, record.line};
    if (take_address(record, layout.mac, row.device.address) &&
        take_notes(record, layout, row.device.notes)) {
      rows.push_back(std::move(row));
    }
  }

  bool take_address(const CsvRecord& record, std::size_t column, std::uint64_t& address) {
    const std::string& cell = record.fields[column];
    const std::string quoted = quoted_excerpt(cell);
    // A plain list's comment has no place in a cell: "#" is no address.
    ParsedLine parsed;
    parsed.kind = ParsedLine::Kind::invalid;
    if (cell.find('#') == std::string::npos) {
      parsed = parse_list_line(cell);
    }
    if (parsed.kind == ParsedLine::Kind::address) {
      address = parsed.value;
      if (const char* kind = unusual_address_kind(parsed.value);
          kind != nullptr && !settings_.quiet) {
        unusual_.add(record.line, kind, quoted);
      }
      return true;
    }
    std::string reason = "not an address";
    if (record.line == first_data_line_) {
      reason += " (a header row? --columns mac=NAME names the columns)";
    } else if (parsed.kind == ParsedLine::Kind::invalid && *parsed.reason != 0) {
      reason += std::string(": ") + parsed.reason;
    }
    invalid_.add(record.line, reason.c_str(), quoted);
    return false;
  }

  bool take_notes(const CsvRecord& record, const CsvLayout& layout, DeviceNotes& notes) {
    notes = {};
    if (layout.label) {
      const std::string& label = record.fields[*layout.label];
      if (const char* problem = label_problem(label)) {
        const std::string reason = std::string("label: ") + problem;
        invalid_.add(record.line, reason.c_str(), quoted_excerpt(label));
        return false;
      }
      notes.label = label;  // an empty cell, as --label '', leaves the device without one
    }
    if (layout.expires) {
      const std::string& cell = record.fields[*layout.expires];
      const std::string_view text = without_blanks(cell);
      if (text.empty() || text == "never") {
        notes.expires = Inventory::kNever;
        return true;
      }
      const ParsedTime parsed = parse_expiry(text, settings_.now);
      if (parsed.problem != nullptr) {
        const std::string reason = std::string("expires: ") + parsed.problem;
        invalid_.add(record.line, reason.c_str(), quoted_excerpt(cell));
        return false;
      }
      notes.expires = parsed.seconds;
    }
    return true;
  }

  const std::string& input_;
  std::size_t index_;
  const CsvSettings& settings_;
  LimitedReport invalid_;
  LimitedReport unusual_;
  std::uint64_t first_data_line_ = 0;  // the first row, when no header row names the columns
};

bool same_notes(const DeviceNotes& a, const DeviceNotes& b) {
  return a.label == b.label && a.expires == b.expires;
}

// One device per address: a row that repeats an address with the same
// notes is dropped; with other notes, it is refused.
void settle_rows(std::vector<Row>& rows, const std::vector<std::string>& inputs,
                 CsvDevices& result) {
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& a, const Row& b) { return a.device.address < b.device.address; });
  std::size_t conflicts = 0;
  std::size_t kept = 0;  // the first row of the address
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    if (i == 0 || rows[kept].device.address != row.device.address) {
      result.devices.push_back(row.device);
      kept = i;
      continue;
    }
    const Row& first = rows[kept];
    if (same_notes(first.device.notes, row.device.notes)) {
      ++result.duplicates;
      continue;
    }
    if (conflicts++ < LimitedReport::kLimit) {
      const char* what = first.device.notes.label != row.device.notes.label ? "label" : "expiry";
      const std::string place =
          first.input == row.input ? "on line " + std::to_string(first.line)
                                   : "at " + inputs[first.input] + ":" + std::to_string(first.line);
      error("%s:%llu: %s again, with another %s than %s", inputs[row.input].c_str(),
            line_number(row.line), colon_text(row.device.address).c_str(), what, place.c_str());
    }
  }
  if (conflicts > LimitedReport::kLimit) {
    error("... and %zu more addresses given twice", conflicts - LimitedReport::kLimit);
  }
  result.invalid += conflicts;
}

}  // namespace

CsvDevices import_csv(const std::vector<std::string>& inputs, const CsvSettings& settings) {
  CsvDevices result;
  std::vector<Row> rows;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    CsvFile(inputs[i], i, settings).read(rows, result);
  }
  settle_rows(rows, inputs, result);
  return result;
}

}  // namespace adrvet_list
