// --json documents read back by a real JSON parser: Python's json module,
// through json_check.py, which also checks the document against the schema
// of its command.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace adrvet_test {

// "targets.0.state" -> "\"updated\"", "ok" -> "true", "files.length" -> "2":
// every scalar of the document by its path, its value as JSON.
using JsonFields = std::map<std::string, std::string>;

// The fields of `document`, the standard output of `adrvet-list COMMAND
// --json`; nullopt, with the parser's complaint in `problem`, when it is not
// exactly one valid document of that command's schema.
std::optional<JsonFields> json_fields(const std::string& command, const std::string& document,
                                      std::string& problem);

}  // namespace adrvet_test
