#include "support/json_fields.h"

#include "support/test_support.h"

namespace adrvet_test {

std::optional<JsonFields> json_fields(const std::string& command, const std::string& document,
                                      std::string& problem) {
  ProcessOptions options;
  options.stdin_text = document;
  const ProcessResult parsed =
      run_process("/usr/bin/python3", {ADRVET_JSON_CHECK_SCRIPT, command}, options);
  if (parsed.exit_status != 0) {
    problem = parsed.err.empty() ? "json_check.py failed" : parsed.err;
    return std::nullopt;
  }
  JsonFields fields;
  std::size_t from = 0;
  while (from < parsed.out.size()) {
    std::size_t end = parsed.out.find('\n', from);
    if (end == std::string::npos) {
      end = parsed.out.size();
    }
    const std::string line = parsed.out.substr(from, end - from);
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) {
      fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    from = end + 1;
  }
  return fields;
}

}  // namespace adrvet_test
