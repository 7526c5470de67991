#include "input/file_addresses.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "base/file_descriptor.h"
#include "input/line_reader.h"
#include "input/peer_statements.h"
#include "store/address_set.h"

namespace adrvet_list {
namespace {

// False when a line holds what the format refuses.
bool take(const std::vector<ParsedLine>& parsed, PeerStatements& statements) {
  for (const ParsedLine& item : parsed) {
    switch (item.kind) {
      case ParsedLine::Kind::invalid:
        return false;
      case ParsedLine::Kind::address:
        statements.add(item.value);
        break;
      case ParsedLine::Kind::removal:
        statements.remove(item.value);
        break;
      case ParsedLine::Kind::flush:
        statements.flush();
        break;
      case ParsedLine::Kind::skipped:
      case ParsedLine::Kind::blank:
        break;
    }
  }
  return true;
}

}  // namespace

std::optional<Addresses> file_addresses(const std::string& path, const PeerFormat& format) {
  // Without blocking: a FIFO at the name must not hold up a dry run.
  const orbitforge::util::FileDescriptor fd(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return std::nullopt;
  }
  const std::unique_ptr<PeerReader> reader = format.make_reader();
  PeerStatements statements;
  LineReader lines(fd.get(), std::max(InputLine::kMaxKept, reader->longest_line()));
  InputLine line;
  while (lines.next(line)) {
    if (line.cut() || !take(reader->read(line.kept), statements)) {
      return std::nullopt;
    }
  }
  if (lines.error() != 0 || reader->finish() != nullptr) {
    return std::nullopt;
  }
  Addresses values;
  statements.move_into(values);
  sort_unique(values);
  return values;
}

}  // namespace adrvet_list
