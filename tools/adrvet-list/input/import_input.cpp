#include "input/import_input.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/file_descriptor.h"
#include "common/messages.h"
#include "common/text_excerpt.h"
#include "input/line_reader.h"
#include "store/address_set.h"

namespace adrvet_list {
namespace {

constexpr std::size_t kReportLimit = 20;

// Reports at most kReportLimit messages, then how many more there were.
class LimitedReport {
 public:
  LimitedReport(bool is_warning, const std::string& input)
      : is_warning_(is_warning), input_(input) {}
  void add(std::uint64_t line, const char* reason, const std::string& quoted) {
    if (count_++ < kReportLimit) {
      (is_warning_ ? warning : error)("%s:%llu: %s%s%s", input_.c_str(),
                                      static_cast<unsigned long long>(line), reason,
                                      quoted.empty() ? "" : ": ", quoted.c_str());
    }
  }
  void close() const {
    if (count_ > kReportLimit) {
      (is_warning_ ? warning : error)("... and %zu more %s", count_ - kReportLimit,
                                      is_warning_ ? "warnings" : "invalid lines");
    }
  }
  [[nodiscard]] std::size_t count() const { return count_; }

 private:
  bool is_warning_;
  const std::string& input_;
  std::size_t count_ = 0;
};

void take_line(PeerReader& reader, const InputLine& line, bool quiet, LimitedReport& invalid,
               LimitedReport& unusual, Addresses& values) {
  // A line cut short is parsed only when its comment starts within what was
  // kept: an address beyond the cut must not be silently lost.
  if (line.cut() && line.kept.find('#') == std::string_view::npos) {
    invalid.add(line.number, "line too long", quoted_excerpt(line.kept, line.length));
    return;
  }
  for (const ParsedLine& parsed : reader.read(line.kept)) {
    if (parsed.kind == ParsedLine::Kind::invalid) {
      invalid.add(line.number, parsed.reason, quoted_excerpt(parsed.content));
      continue;
    }
    values.push_back(parsed.value);
    if (const char* kind = unusual_address_kind(parsed.value); kind != nullptr && !quiet) {
      unusual.add(line.number, kind, quoted_excerpt(parsed.content));
    }
  }
}

}  // namespace

ImportCount import_input(const std::string& input, const PeerFormat& format, bool quiet,
                         Addresses& values) {
  ImportCount count;
  std::string reason;
  const int fd = open_input(input, reason);
  if (fd < 0) {
    error("%s: cannot read: %s", input.c_str(), reason.c_str());
    count.read = false;
    return count;
  }
  const orbitforge::util::FileDescriptor owned(fd == STDIN_FILENO ? -1 : fd);
  const std::unique_ptr<PeerReader> importer = format.make_reader();
  LimitedReport invalid(false, input);
  LimitedReport unusual(true, input);
  LineReader reader(fd);
  InputLine line;
  constexpr std::size_t kFirstCompaction = std::size_t{1} << 20U;
  std::size_t compact_at = std::max(kFirstCompaction, 2 * values.size());
  while (reader.next(line)) {
    take_line(*importer, line, quiet, invalid, unusual, values);
    if (values.size() >= compact_at) {
      count.duplicates += sort_unique(values);
      compact_at = std::max(kFirstCompaction, 2 * values.size());
    }
  }
  if (const char* ended = importer->finish()) {
    invalid.add(line.number, ended, "");
  }
  unusual.close();
  invalid.close();
  count.invalid = invalid.count();
  if (reader.error() != 0) {
    error("%s: cannot read: %s", input.c_str(), std::strerror(reader.error()));
    count.read = false;
  }
  return count;
}

bool import_inputs(const std::vector<std::string>& inputs, const PeerFormat& format, bool quiet,
                   Addresses& values) {
  bool all_valid = true;
  for (const std::string& input : inputs) {
    const ImportCount count = import_input(input, format, quiet, values);
    all_valid = all_valid && count.read && count.invalid == 0;
  }
  return all_valid;
}

}  // namespace adrvet_list
