// pack: plain list in, validated, sorted, de-duplicated protected list out.
#include <unistd.h>

#include <cstring>

#include "address_parser.h"
#include "cli.h"
#include "commands.h"
#include "crypto/file_descriptor.h"
#include "crypto/key_versions.h"
#include "line_reader.h"
#include "list_file.h"
#include "text_excerpt.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list pack -k S|U [--quiet] [--allow-empty] [--wait SECONDS]\n"
    "                        [--mode MODE] INPUT DEST\n"
    "\n"
    "Reads a plain list (INPUT a file, or - for standard input), checks every line,\n"
    "sorts the addresses, drops duplicates and writes the protected list DEST (a\n"
    "directory, for DIR/engine.dat, or a file). One address per line, in any notation\n"
    "ADRVET accepts (aa:bb:cc:dd:ee:ff, AA-BB-CC-DD-EE-FF, aabbccddeeff) or as\n"
    "aabb.ccdd.eeff; '#' starts a comment; blank lines are ignored. Invalid lines are\n"
    "reported and nothing is written; so is an input with no address at all, unless\n"
    "--allow-empty. All-zero, broadcast, multicast and locally administered\n"
    "addresses are accepted with a warning (--quiet: no warnings). A new DEST gets\n"
    "mode MODE (600 by default); an existing one keeps its mode. Waits up to\n"
    "SECONDS (10) for another writer of DEST.\n";

constexpr std::size_t kReportLimit = 20;

// Reports at most kReportLimit messages, then how many more there were.
class LimitedReport {
 public:
  explicit LimitedReport(bool is_warning) : is_warning_(is_warning) {}
  template <typename... Args>
  void add(const char* format, Args... args) {
    if (count_++ < kReportLimit) {
      (is_warning_ ? warning : error)(format, args...);
    }
  }
  void close(const char* what) const {
    if (count_ > kReportLimit) {
      (is_warning_ ? warning : error)("... and %zu more %s", count_ - kReportLimit, what);
    }
  }
  [[nodiscard]] std::size_t count() const { return count_; }

 private:
  bool is_warning_;
  std::size_t count_ = 0;
};

struct PackInput {
  std::vector<std::uint64_t> values;
  std::size_t invalid = 0;
  bool read = false;  // the whole input was read
};

// Parses the input line by line, holding no more of a line than parsing needs.
PackInput parse_input(const std::string& input, int fd, bool quiet) {
  PackInput parsed;
  LimitedReport invalid(false);
  LimitedReport unusual(true);
  const char* name = input.c_str();
  LineReader reader(fd);
  InputLine line;
  while (reader.next(line)) {
    if (line.cut() && line.kept.find('#') == std::string_view::npos) {
      invalid.add("%s:%llu: line too long: %s", name, static_cast<unsigned long long>(line.number),
                  quoted_excerpt(line.kept, line.length).c_str());
      continue;
    }
    const ParsedLine address = parse_list_line(line.kept);
    if (address.kind == ParsedLine::Kind::invalid) {
      invalid.add("%s:%llu: %s: %s", name, static_cast<unsigned long long>(line.number),
                  address.reason, quoted_excerpt(address.content).c_str());
    } else if (address.kind == ParsedLine::Kind::address) {
      parsed.values.push_back(address.value);
      if (const char* kind = unusual_address_kind(address.value); kind != nullptr && !quiet) {
        unusual.add("%s:%llu: %s: %s", name, static_cast<unsigned long long>(line.number), kind,
                    quoted_excerpt(address.content).c_str());
      }
    }
  }
  unusual.close("warnings");
  invalid.close("invalid lines");
  parsed.invalid = invalid.count();
  if (reader.error() != 0) {
    error("%s: cannot read: %s", name, std::strerror(reader.error()));
    return parsed;
  }
  parsed.read = true;
  return parsed;
}

}  // namespace

int run_pack(int argc, char* argv[]) {
  int status = kExitOk;
  const auto options = start_command(
      argc, argv, {"pack", kUsage, kOptKey | kOptQuiet | kOptAllowEmpty | kWriterOptions, 2, 2},
      status);
  if (!options) {
    return status;
  }
  const std::string& input = options->positional[0];
  const std::string dest = list_file_path(options->positional[1]);
  if (input != "-" && same_file(input, dest)) {
    error("pack: DEST '%s' is the input file itself; write the list elsewhere", dest.c_str());
    return kExitUsage;
  }

  std::string reason;
  const int fd = open_input(input, reason);
  if (fd < 0) {
    error("%s: cannot read: %s", input.c_str(), reason.c_str());
    return kExitData;
  }
  const orbitforge::util::detail::FileDescriptor owned(fd == STDIN_FILENO ? -1 : fd);
  PackInput parsed = parse_input(input, fd, options->quiet);
  if (!parsed.read) {
    return kExitData;
  }
  if (parsed.invalid > 0) {
    error("%s: %zu invalid line%s; nothing written", input.c_str(), parsed.invalid,
          parsed.invalid == 1 ? "" : "s");
    return kExitData;
  }
  if (parsed.values.empty() && !options->allow_empty) {
    error(
        "%s: no addresses; nothing written (an empty list refuses every device: "
        "--allow-empty writes one)",
        input.c_str());
    return kExitData;
  }

  const std::size_t dropped = sort_unique(parsed.values);
  orbitforge::util::FileUpdate update;
  if (!begin_update(dest, *options, update) ||
      !write_list(update, dest, parsed.values, orbitforge::util::key_for_version(*options->key))) {
    return kExitData;
  }
  error("wrote %zu address%s to %s (%zu duplicate%s dropped)", parsed.values.size(),
        parsed.values.size() == 1 ? "" : "es", dest.c_str(), dropped, dropped == 1 ? "" : "s");
  return kExitOk;
}

}  // namespace adrvet_list
