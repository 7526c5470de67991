// Records of a CSV file as RFC 4180 has them, read piece by piece: fields
// separated by commas, records by CRLF or LF, a field in double quotes may
// hold commas, line ends and doubled quotes. A UTF-8 byte-order mark at the
// start is skipped. Memory stays bounded whatever the input: a field longer
// than kMaxField, a record longer than kMaxRecord or with more than
// kMaxFields fields is reported, not kept.
#pragma once

#include <cstddef>
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
  static constexpr std::size_t kMaxRecord = std::size_t{1} << 20U;
  static constexpr std::size_t kMaxFields = 1024;

  // Reads from `fd`, which stays the caller's.
  explicit CsvReader(int fd);
  // The next record; false at the end of the input or on a read error.
  bool next(CsvRecord& record);
  // The error number of a failed read, or 0.
  [[nodiscard]] int error() const { return error_; }

 private:
  // Where the reader stands within a record.
  enum class State {
    field_start,
    unquoted,
    quoted,
    quote_in_quoted,  // a quote inside a quoted field: closing, or the first of a pair
    carriage_return,  // outside quotes: the first half of CRLF
  };

  bool fill();
  void skip_byte_order_mark();
  // Takes one byte of the record; true when it ended the record.
  bool take(CsvRecord& record, char c);
  void keep(CsvRecord& record, char c);
  // How many of the unread bytes the current field takes as they are.
  [[nodiscard]] std::size_t plain_run() const;
  void keep_run(CsvRecord& record, const char* bytes, std::size_t size);
  void start_field(CsvRecord& record);
  static void report(CsvRecord& record, const char* problem);

  int fd_;
  int error_ = 0;
  bool at_end_ = false;
  bool started_ = false;
  std::vector<char> chunk_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::uint64_t line_ = 1;
  State state_ = State::field_start;
  std::size_t record_bytes_ = 0;  // kept in the record so far
};

}  // namespace adrvet_list
