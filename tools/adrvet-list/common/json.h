// The --json documents: one JSON object on standard output, always with
// "schema_version" and "command", addresses in lower-case colon notation,
// times in ISO 8601 UTC, absent values null.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/addresses.h"

namespace adrvet_list {

// Keys stay in the order they are set, as the manual page lists them.
using Json = nlohmann::ordered_json;

inline constexpr int kJsonSchemaVersion = 1;

// {"schema_version":1,"command":COMMAND}, for the command to complete.
Json json_document(std::string_view command);

// "aa:bb:cc:dd:ee:ff".
Json json_address(std::uint64_t value);
// The addresses as an array of json_address, in order.
Json json_addresses(const Addresses& values);

// "2026-12-31T23:59:59Z" for seconds since the epoch, or null.
Json json_time(std::optional<std::int64_t> seconds);

// The text, or null.
Json json_text(const std::optional<std::string>& text);

// What a writer (pack, add, remove, prune) changed, or would change.
struct ChangeSummary {
  std::string list;  // as given on the command line
  bool dry_run = false;
  bool created = false;
  Addresses added;        // enter the list
  Addresses removed;      // leave it
  Addresses updated;      // stay, with a new label or expiry
  Addresses unchanged;    // already present (add), not on the list (remove)
  std::size_t count = 0;  // addresses on the list afterwards
};

// {"schema_version":1,"command":COMMAND,"list":...,"count":N}.
Json change_summary_json(std::string_view command, const ChangeSummary& summary);

// Writes the document and a line feed as all of standard output and gives
// `status`, or 1 when standard output cannot be written. Text that is not
// UTF-8 (file names, input lines) is written with U+FFFD in its place.
int print_json(const Json& document, int status);

}  // namespace adrvet_list
