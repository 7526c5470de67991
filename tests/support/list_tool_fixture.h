// adrvet-list run as a process, the text helpers its tests read its output
// with, and the scratch directory most of those tests start from.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace adrvet_test {

// adrvet-list with `args`, `input` on its standard input. The bound only
// stops a hung command; it is generous for the slow builds (valgrind,
// sanitizers) and the large inputs some tests feed it.
ProcessResult list_tool(const std::vector<std::string>& args, const std::string& input = "");

bool contains(const std::string& text, const std::string& part);
// Occurrences of `part`, overlapping ones included.
std::size_t count_of(const std::string& text, const std::string& part);
// The lines of `text` without their '\n'; a last line without one counts.
std::vector<std::string> lines_of(const std::string& text);

// A test with a scratch directory of its own.
class ListToolTest : public ::testing::Test {
 protected:
  [[nodiscard]] std::string file(const std::string& name) const { return dir_.file(name); }
  // Packs `addresses`, one a line, into `list` under `key`; the test stops
  // if pack fails.
  void pack(const std::string& list, const std::string& addresses,
            const std::string& key = "S") const;

  TempDir dir_;
};

}  // namespace adrvet_test
