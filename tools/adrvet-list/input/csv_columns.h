// Which columns of a CSV file hold what: --columns as typed
// ("mac=2,label=Name,expires=4"), and the header row that names them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace adrvet_list {

// One column, by its number (from 1) or by the name in the header row.
struct CsvColumn {
  std::size_t number = 0;  // 0: by name, or not given
  std::string name;
  [[nodiscard]] bool given() const { return number != 0 || !name.empty(); }
};

struct CsvColumns {
  CsvColumn mac;
  CsvColumn label;
  CsvColumn expires;
  // A column chosen by name: the first record is the header row.
  [[nodiscard]] bool by_name() const {
    return !mac.name.empty() || !label.name.empty() || !expires.name.empty();
  }
};

// The columns found, as indexes from 0 into a record's fields.
struct CsvLayout {
  std::size_t mac = 0;
  std::optional<std::size_t> label;
  std::optional<std::size_t> expires;
  bool header = false;  // the first record names the columns and is no device
  // How many fields a record needs to hold every column.
  [[nodiscard]] std::size_t needed() const;
  // "mac=1, label=3" (numbers from 1), for the note that says what was chosen.
  [[nodiscard]] std::string describe() const;
};

// Parses --columns mac=N|NAME[,label=N|NAME][,expires=N|NAME]; nullopt,
// with the reason in `problem`, when it is not one.
std::optional<CsvColumns> parse_columns(std::string_view spec, std::string& problem);

// The layout of `columns` over a file whose first record is `first`: names
// are looked up in it (ignoring ASCII case and surrounding blanks).
// nullopt, with the reason in `problem`, when a name is not there or is
// there twice.
std::optional<CsvLayout> resolve_columns(const CsvColumns& columns,
                                         const std::vector<std::string>& first,
                                         std::string& problem);

// Without --columns: the layout the header row `first` gives when it names
// a "mac" column (and "label", "expires" where it names them); nullopt when
// it names none.
std::optional<CsvLayout> layout_from_header(const std::vector<std::string>& first,
                                            std::string& problem);

}  // namespace adrvet_list
