// The CSV reader: no input crashes it or passes its limits, and every
// record it reads whole, written back as RFC 4180 says, reads back the same.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "input/csv_reader.h"

namespace {

using adrvet_fuzz::fail;
using adrvet_list::CsvReader;
using adrvet_list::CsvRecord;

std::vector<CsvRecord> read_all(const std::string& text) {
  const int fd = ::memfd_create("csv", 0);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      ::lseek(fd, 0, SEEK_SET) != 0) {
    fail("memfd");
  }
  CsvReader reader(fd);
  std::vector<CsvRecord> records;
  CsvRecord record;
  std::uint64_t line = 0;
  while (reader.next(record)) {
    std::size_t kept = 0;
    for (const std::string& field : record.fields) {
      if (field.size() > CsvReader::kMaxField) {
        fail("a field past its limit");
      }
      kept += field.size();
    }
    if (kept > CsvReader::kMaxRecord || record.fields.size() > CsvReader::kMaxFields ||
        record.fields.empty()) {
      fail("a record past its limits");
    }
    if (record.line <= line) {
      fail("records out of line order");
    }
    line = record.line;
    records.push_back(record);
  }
  ::close(fd);
  return records;
}

std::string written(const std::vector<CsvRecord>& records) {
  std::string text;
  for (const CsvRecord& record : records) {
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
      text += i == 0 ? "\"" : ",\"";
      for (const char c : record.fields[i]) {
        text += c == '"' ? std::string("\"\"") : std::string(1, c);
      }
      text += '"';
    }
    text += "\r\n";
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<CsvRecord> whole;
  for (CsvRecord& record : read_all(adrvet_fuzz::text_of(data, size))) {
    if (record.problem == nullptr) {
      whole.push_back(std::move(record));
    }
  }
  const std::vector<CsvRecord> again = read_all(written(whole));
  if (again.size() != whole.size()) {
    fail("records written back read as another number of records");
  }
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (again[i].problem != nullptr || again[i].fields != whole[i].fields) {
      fail("a record written back reads differently");
    }
  }
  return 0;
}
