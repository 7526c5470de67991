#include "input/csv_columns.h"

#include <algorithm>
#include <tuple>

#include "input/csv_reader.h"

namespace adrvet_list {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Header cells are typed by people: "MAC", " Label " name the same column.
bool same_name(std::string_view a, std::string_view b) {
  a = trimmed(a);
  b = trimmed(b);
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

// The column number `text` spells (1 to CsvReader::kMaxFields), or 0.
std::size_t column_number(std::string_view text) {
  if (text.empty() || text.size() > 4 ||
      text.find_first_not_of("0123456789") != std::string_view::npos) {
    return 0;
  }
  std::size_t number = 0;
  for (const char c : text) {
    number = number * 10 + static_cast<std::size_t>(c - '0');
  }
  return number <= CsvReader::kMaxFields ? number : 0;
}

CsvColumn* column_named(CsvColumns& columns, std::string_view key) {
  if (key == "mac") {
    return &columns.mac;
  }
  if (key == "label") {
    return &columns.label;
  }
  if (key == "expires") {
    return &columns.expires;
  }
  return nullptr;
}

// Where `column` is in the record `first`, or nullopt with the reason.
std::optional<std::size_t> find_column(const CsvColumn& column, std::string_view key,
                                       const std::vector<std::string>& first,
                                       std::string& problem) {
  if (column.number != 0) {
    return column.number - 1;
  }
  std::optional<std::size_t> found;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (!same_name(first[i], column.name)) {
      continue;
    }
    if (found) {
      problem = "the header row names '" + column.name + "' twice (columns " +
                std::to_string(*found + 1) + " and " + std::to_string(i + 1) + ")";
      return std::nullopt;
    }
    found = i;
  }
  if (!found) {
    problem = "the header row has no column '" + column.name + "' (for " + std::string(key) + ")";
  }
  return found;
}

}  // namespace

std::size_t CsvLayout::needed() const {
  return std::max({mac, label.value_or(0), expires.value_or(0)}) + 1;
}

std::string CsvLayout::describe() const {
  std::string text = "mac=" + std::to_string(mac + 1);
  if (label) {
    text += ", label=" + std::to_string(*label + 1);
  }
  if (expires) {
    text += ", expires=" + std::to_string(*expires + 1);
  }
  return text;
}

std::optional<CsvColumns> parse_columns(std::string_view spec, std::string& problem) {
  CsvColumns columns;
  std::string_view rest = spec;
  while (true) {
    const std::size_t comma = std::min(rest.find(','), rest.size());
    const std::string_view item = rest.substr(0, comma);
    const std::size_t equals = item.find('=');
    const std::string_view key = item.substr(0, std::min(equals, item.size()));
    CsvColumn* column = column_named(columns, key);
    if (column == nullptr) {
      problem = "'" + std::string(key) + "' is not a column it reads: mac, label or expires";
      return std::nullopt;
    }
    if (column->given()) {
      problem = std::string(key) + " is given twice";
      return std::nullopt;
    }
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    if (value.empty()) {
      problem = std::string(key) + " needs a column: " + std::string(key) + "=N or " +
                std::string(key) + "=NAME";
      return std::nullopt;
    }
    column->number = column_number(value);
    if (column->number == 0) {
      if (value.find_first_not_of("0123456789") == std::string_view::npos) {
        problem = "column " + std::string(value) + " does not exist: columns count from 1 to " +
                  std::to_string(CsvReader::kMaxFields);
        return std::nullopt;
      }
      column->name = value;
    }
    if (comma == rest.size()) {
      break;
    }
    rest.remove_prefix(comma + 1);
  }
  if (!columns.mac.given()) {
    problem = "the mac column is missing: mac=N or mac=NAME";
    return std::nullopt;
  }
  return columns;
}

std::optional<CsvLayout> resolve_columns(const CsvColumns& columns,
                                         const std::vector<std::string>& first,
                                         std::string& problem) {
  CsvLayout layout;
  layout.header = columns.by_name();
  const auto mac = find_column(columns.mac, "mac", first, problem);
  if (!mac) {
    return std::nullopt;
  }
  layout.mac = *mac;
  for (const auto& [column, key, index] :
       {std::tuple{&columns.label, "label", &layout.label},
        std::tuple{&columns.expires, "expires", &layout.expires}}) {
    if (!column->given()) {
      continue;
    }
    *index = find_column(*column, key, first, problem);
    if (!*index) {
      return std::nullopt;
    }
  }
  return layout;
}

std::optional<CsvLayout> layout_from_header(const std::vector<std::string>& first,
                                            std::string& problem) {
  CsvColumns columns;
  for (const std::string_view key : {"mac", "label", "expires"}) {
    const bool named = std::any_of(first.begin(), first.end(),
                                   [key](const std::string& cell) { return same_name(cell, key); });
    if (named) {
      column_named(columns, key)->name = key;
    }
  }
  if (!columns.mac.given()) {
    problem.clear();
    return std::nullopt;
  }
  return resolve_columns(columns, first, problem);
}

}  // namespace adrvet_list
