#include "support/list_tool_fixture.h"

#include <stdexcept>

namespace adrvet_test {

namespace {

constexpr int kListToolTimeoutSeconds = 120;

}  // namespace

ProcessResult list_tool(const std::vector<std::string>& args, const std::string& input) {
  return run_list_tool(args, input, kListToolTimeoutSeconds);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

void ListToolTest::pack(const std::string& list, const std::string& addresses,
                        const std::string& key) const {
  const ProcessResult result = list_tool({"pack", "-k", key, "-", list}, addresses);
  if (result.exit_status != 0) {
    // An assertion here would end only this helper; the exception ends the
    // test, which has no list to go on with.
    ADD_FAILURE() << "pack " << list << " exited " << result.exit_status << ": " << result.err;
    throw std::runtime_error("the test's list could not be packed");
  }
}

}  // namespace adrvet_test
