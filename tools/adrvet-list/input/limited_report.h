// Messages about an input's lines: the first few, then how many more, so
// that a file of a million bad lines does not flood the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/messages.h"

namespace adrvet_list {

class LimitedReport {
 public:
  static constexpr std::size_t kLimit = 20;

  // Errors, or warnings when `is_warning`, about INPUT.
  LimitedReport(bool is_warning, const std::string& input)
      : is_warning_(is_warning), input_(input) {}
  // "INPUT:LINE: reason: 'quoted'" (without ": 'quoted'" when it is empty).
  void add(std::uint64_t line, const char* reason, const std::string& quoted) {
    if (count_++ < kLimit) {
      (is_warning_ ? warning : error)("%s:%llu: %s%s%s", input_.c_str(),
                                      static_cast<unsigned long long>(line), reason,
                                      quoted.empty() ? "" : ": ", quoted.c_str());
    }
  }
  // After the last line: how many were not shown.
  void close() const {
    if (count_ > kLimit) {
      (is_warning_ ? warning : error)("... and %zu more %s", count_ - kLimit,
                                      is_warning_ ? "warnings" : "invalid lines");
    }
  }
  [[nodiscard]] std::size_t count() const { return count_; }

 private:
  bool is_warning_;
  const std::string& input_;
  std::size_t count_ = 0;
};

}  // namespace adrvet_list
