// Lines of an input file or standard input, read piece by piece so that
// memory stays bounded whatever the length of a line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace adrvet_list {

struct InputLine {
  std::uint64_t number = 0;  // from 1
  std::string_view kept;     // the line without its line feed, at most the reader's limit
  std::uint64_t length = 0;  // of the whole line
  [[nodiscard]] bool cut() const { return length > kept.size(); }
  static constexpr std::size_t kMaxKept = 4096;
};

class LineReader {
 public:
  // Reads from `fd`, which stays the caller's, keeping at most `max_kept`
  // bytes of a line.
  explicit LineReader(int fd, std::size_t max_kept = InputLine::kMaxKept);
  // The next line; false at the end of the input or on a read error.
  bool next(InputLine& line);
  // Whether the next line can be had without reading (and so without
  // waiting for the input).
  [[nodiscard]] bool holds_more() const { return begin_ < end_; }
  // The error number of a failed read, or 0.
  [[nodiscard]] int error() const { return error_; }

 private:
  bool fill();
  int fd_;
  std::size_t max_kept_;
  int error_ = 0;
  bool at_end_ = false;
  std::vector<char> chunk_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::string pending_;  // the kept start of a line that spans pieces
  std::uint64_t number_ = 0;
};

// Opens INPUT ("-" is standard input) for a LineReader; a file must be a
// regular file. On failure gives -1 and says why in `reason`.
int open_input(const std::string& input, std::string& reason);

}  // namespace adrvet_list
