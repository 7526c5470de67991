#include "input/csv_reader.h"

#include <unistd.h>

#include <cerrno>

#include "base/file_descriptor.h"

namespace adrvet_list {
namespace {

constexpr std::size_t kChunk = std::size_t{64} << 10U;

}  // namespace

CsvReader::CsvReader(int fd) : fd_(fd), chunk_(kChunk) {}

bool CsvReader::fill() {
  if (at_end_) {
    return false;
  }
  const ssize_t got = orbitforge::util::retry_on_interrupt(
      [&] { return ::read(fd_, chunk_.data(), chunk_.size()); });
  if (got <= 0) {
    error_ = got < 0 ? errno : 0;
    at_end_ = true;
    return false;
  }
  begin_ = 0;
  end_ = static_cast<std::size_t>(got);
  return true;
}

int CsvReader::get() {
  if (!pushed_back_.empty()) {
    const int c = static_cast<unsigned char>(pushed_back_.back());
    pushed_back_.pop_back();
    return c;
  }
  if (begin_ == end_ && !fill()) {
    return -1;
  }
  return static_cast<unsigned char>(chunk_[begin_++]);
}

void CsvReader::add_byte(CsvRecord& record, char c) {
  std::string& field = record.fields.back();
  if (field.size() < kMaxField) {
    field += c;
  } else if (record.problem == nullptr) {
    record.problem = "a field longer than 64 KiB";
  }
}

bool CsvReader::next(CsvRecord& record) {
  record.fields.clear();
  record.problem = nullptr;
  if (!started_) {
    started_ = true;
    // A UTF-8 byte-order mark, as spreadsheets write it.
    std::string start;
    for (const char expected : {'\xEF', '\xBB', '\xBF'}) {
      const int c = get();
      if (c >= 0) {
        start += static_cast<char>(c);
      }
      if (c != static_cast<unsigned char>(expected)) {
        pushed_back_.assign(start.rbegin(), start.rend());
        break;
      }
    }
  }
  int c = get();
  if (c < 0) {
    return false;
  }
  record.line = line_;
  record.fields.emplace_back();
  bool quoted = false;   // inside a quoted field
  bool was_quoted = false;  // the current field was quoted and has closed
  for (;; c = get()) {
    if (c < 0) {
      if (quoted && record.problem == nullptr) {
        record.problem = "the input ends inside a quoted field";
      }
      return true;  // the last record, without a line end
    }
    const char ch = static_cast<char>(c);
    if (quoted) {
      if (ch == '"') {
        const int after = get();
        if (after == '"') {
          add_byte(record, '"');
          continue;
        }
        unget(after);
        quoted = false;
        was_quoted = true;
        continue;
      }
      line_ += ch == '\n' ? 1 : 0;
      add_byte(record, ch);
      continue;
    }
    if (ch == '\n') {
      ++line_;
      break;
    }
    if (ch == '\r') {
      const int after = get();
      if (after == '\n') {
        ++line_;
        break;
      }
      unget(after);
      if (record.problem == nullptr) {
        record.problem = "a carriage return outside quotes that does not end the line";
      }
      continue;
    }
    if (ch == ',') {
      if (record.fields.size() >= kMaxFields) {
        record.problem = record.problem != nullptr ? record.problem : "more than 1024 fields";
        continue;
      }
      record.fields.emplace_back();
      was_quoted = false;
      continue;
    }
    if (ch == '"' && record.fields.back().empty() && !was_quoted) {
      quoted = true;
      continue;
    }
    if ((ch == '"' || was_quoted) && record.problem == nullptr) {
      record.problem = was_quoted ? "text after the closing quote of a field"
                                  : "a quote inside a field that does not start with one";
    }
    add_byte(record, ch);
  }
  return true;
}

}  // namespace adrvet_list
