#include "input/csv_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "base/file_descriptor.h"

namespace adrvet_list {
namespace {

constexpr std::size_t kChunk = std::size_t{64} << 10U;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

CsvReader::CsvReader(int fd) : fd_(fd), chunk_(kChunk) {}

// Appends what one read gives to the unread bytes; false at the end of the
// input or on an error.
bool CsvReader::fill() {
  if (at_end_) {
    return false;
  }
  if (begin_ == end_) {
    begin_ = end_ = 0;
  } else if (end_ == chunk_.size()) {
    std::copy(chunk_.begin() + static_cast<std::ptrdiff_t>(begin_), chunk_.end(), chunk_.begin());
    end_ -= begin_;
    begin_ = 0;
  }
  const ssize_t got = orbitforge::util::retry_on_interrupt(
      [&] { return ::read(fd_, chunk_.data() + end_, chunk_.size() - end_); });
  if (got <= 0) {
    error_ = got < 0 ? errno : 0;
    at_end_ = true;
    return false;
  }
  end_ += static_cast<std::size_t>(got);
  return true;
}

// A UTF-8 byte-order mark, as spreadsheets write it; a pipe may give its
// three bytes one read at a time.
void CsvReader::skip_byte_order_mark() {
  while (end_ - begin_ < kByteOrderMark.size() && fill()) {
  }
  const std::string_view start(chunk_.data() + begin_, end_ - begin_);
  if (start.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    begin_ += kByteOrderMark.size();
  }
}

void CsvReader::report(CsvRecord& record, const char* problem) {
  if (record.problem == nullptr) {
    record.problem = problem;
  }
}

void CsvReader::keep(CsvRecord& record, char c) {
  std::string& field = record.fields.back();
  if (field.size() >= kMaxField) {
    report(record, "a field longer than 64 KiB");
    return;
  }
  if (record_bytes_ >= kMaxRecord) {
    report(record, "a record longer than 1 MiB");
    return;
  }
  field += c;
  ++record_bytes_;
}

// Long fields are taken a run at a time: a gigabyte field costs seconds
// less than byte by byte.
std::size_t CsvReader::plain_run() const {
  const char* const at = chunk_.data() + begin_;
  const std::size_t size = end_ - begin_;
  if (state_ == State::quoted) {
    const void* quote = std::memchr(at, '"', size);
    return quote != nullptr ? static_cast<std::size_t>(static_cast<const char*>(quote) - at) : size;
  }
  if (state_ != State::unquoted) {
    return 0;
  }
  std::size_t run = 0;
  while (run < size && at[run] != ',' && at[run] != '\n' && at[run] != '\r' && at[run] != '"') {
    ++run;
  }
  return run;
}

void CsvReader::keep_run(CsvRecord& record, const char* bytes, std::size_t size) {
  std::string& field = record.fields.back();
  const std::size_t field_room = kMaxField - std::min(field.size(), kMaxField);
  const std::size_t record_room = kMaxRecord - std::min(record_bytes_, kMaxRecord);
  const std::size_t kept = std::min({size, field_room, record_room});
  field.append(bytes, kept);
  record_bytes_ += kept;
  if (kept < size) {
    report(record,
           field_room <= record_room ? "a field longer than 64 KiB" : "a record longer than 1 MiB");
  }
  if (state_ == State::quoted) {
    line_ += static_cast<std::uint64_t>(std::count(bytes, bytes + size, '\n'));
  }
}

void CsvReader::start_field(CsvRecord& record) {
  state_ = State::field_start;
  if (record.fields.size() >= kMaxFields) {
    report(record, "more than 1024 fields");
    return;  // the rest goes into the last field, as far as it is kept
  }
  record.fields.emplace_back();
}

bool CsvReader::take(CsvRecord& record, char c) {
  switch (state_) {
    case State::quoted:
      if (c == '"') {
        state_ = State::quote_in_quoted;
        return false;
      }
      line_ += c == '\n' ? 1U : 0U;
      keep(record, c);
      return false;
    case State::quote_in_quoted:
      if (c == '"') {
        keep(record, c);
        state_ = State::quoted;
        return false;
      }
      if (c != ',' && c != '\n' && c != '\r') {
        report(record, "text after the closing quote of a field");
        keep(record, c);
        state_ = State::unquoted;
        return false;
      }
      break;
    case State::carriage_return:
      if (c == '\n') {
        ++line_;
        return true;
      }
      report(record, "a carriage return outside quotes that does not end the line");
      state_ = State::unquoted;
      break;
    case State::field_start:
      if (c == '"') {
        state_ = State::quoted;
        return false;
      }
      break;
    case State::unquoted:
      break;
  }
  // Outside quotes.
  switch (c) {
    case ',':
      start_field(record);
      return false;
    case '\n':
      ++line_;
      return true;
    case '\r':
      state_ = State::carriage_return;
      return false;
    case '"':
      report(record, "a quote inside a field that does not start with one");
      break;
    default:
      break;
  }
  keep(record, c);
  state_ = State::unquoted;
  return false;
}

bool CsvReader::next(CsvRecord& record) {
  record.fields.clear();
  record.problem = nullptr;
  if (!started_) {
    started_ = true;
    skip_byte_order_mark();
  }
  if (begin_ == end_ && !fill()) {
    return false;
  }
  record.line = line_;
  record.fields.emplace_back();
  record_bytes_ = 0;
  state_ = State::field_start;
  do {
    while (begin_ < end_) {
      if (const std::size_t run = plain_run(); run > 0) {
        keep_run(record, chunk_.data() + begin_, run);
        begin_ += run;
      } else if (take(record, chunk_[begin_++])) {
        return true;
      }
    }
  } while (fill());
  // The last record, without a line end.
  if (state_ == State::quoted) {
    report(record, "the input ends inside a quoted field");
  } else if (state_ == State::carriage_return) {
    report(record, "a carriage return outside quotes that does not end the line");
  }
  return true;
}

}  // namespace adrvet_list
