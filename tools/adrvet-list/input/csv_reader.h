// Records of a CSV file as RFC 4180 has them, read piece by piece: fields
// separated by commas, records by CRLF or LF, a field in double quotes may
// hold commas, line ends and doubled quotes. A UTF-8 byte-order mark at the
// start is skipped. Memory stays bounded: a field longer than kMaxField is
// reported, not kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace adrvet_list {

struct CsvRecord {
  std::uint64_t line = 0;  // the line the record starts on, from 1
  std::vector<std::string> fields;
  const char* problem = nullptr;  // why the record is malformed, or nullptr
};

class CsvReader {
 public:
  static constexpr std::size_t kMaxField = std::size_t{64} << 10U;
  static constexpr std::size_t kMaxFields = 1024;

  // Reads from `fd`, which stays the caller's.
  explicit CsvReader(int fd);
  // The next record; false at the end of the input or on a read error.
  bool next(CsvRecord& record);
  // The error number of a failed read, or 0.
  [[nodiscard]] int error() const { return error_; }

 private:
  int get();  // the next byte, or -1 at the end or on an error
  void unget(int c) {
    if (c >= 0) {
      pushed_back_ += static_cast<char>(c);
    }
  }
  bool fill();
  void add_byte(CsvRecord& record, char c);

  int fd_;
  int error_ = 0;
  bool at_end_ = false;
  bool started_ = false;
  std::vector<char> chunk_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::uint64_t line_ = 1;
  std::string pushed_back_;  // read but not yet taken, last first
};

}  // namespace adrvet_list
