// pack: plain list in, validated, sorted, de-duplicated protected list out.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "address_parser.h"
#include "cli.h"
#include "commands.h"
#include "crypto/file_io.h"
#include "crypto/key_versions.h"
#include "import_formats.h"
#include "import_input.h"
#include "list_file.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list pack -k S|U [--quiet] [--from FORMAT] INPUT DEST\n"
    "\n"
    "Reads a plain list (INPUT a file, or - for standard input), checks every line,\n"
    "sorts the addresses, drops duplicates and writes the protected list DEST (a\n"
    "directory, for DIR/engine.dat, or a file). One address per line, in any notation\n"
    "ADRVET accepts (aa:bb:cc:dd:ee:ff, AA-BB-CC-DD-EE-FF, aabbccddeeff) or as\n"
    "aabb.ccdd.eeff; '#' starts a comment; blank lines are ignored. Invalid lines are\n"
    "reported and nothing is written. All-zero, broadcast, multicast and locally\n"
    "administered addresses are accepted with a warning (--quiet: no warnings).\n"
    "--from FORMAT reads INPUT as a peer has it instead: hostapd (accept_mac_file,\n"
    "VLAN IDs allowed), dnsmasq (dhcp-host= lines, any fields), dnsmasq-hosts\n"
    "(dhcp-hostsfile lines), ipset (ipset save output or an export), nft (nft list\n"
    "set or nft list ruleset output, or an export: the one set of type ether_addr),\n"
    "freeradius (files module entries with their attributes), or plain.\n";

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

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool read_input(const std::string& input, std::vector<unsigned char>& data) {
  if (input == "-") {
    if (read_standard_input(data)) {
      return true;
    }
  } else if (orbitforge::util::detail::load_file(input.c_str(), data)) {
    return true;
  }
  error("%s: cannot read: %s", input.c_str(),
        errno != 0 ? std::strerror(errno) : "not a regular file");
  return false;
}

}  // namespace

int run_pack(int argc, char* argv[]) {
  int status = kExitOk;
  const auto options =
      start_command(argc, argv, {"pack", kUsage, kOptKey | kOptQuiet | kOptFrom, 2, 2}, status);
  if (!options) {
    return status;
  }
  const auto from = import_format(*options, "pack");
  if (!from) {
    return kExitUsage;
  }
  const std::string& input = options->positional[0];
  const std::string dest = list_file_path(options->positional[1]);
  if (input != "-" && same_file(input, dest)) {
    error("pack: DEST '%s' is the input file itself; write the list elsewhere", dest.c_str());
    return kExitUsage;
  }

  std::vector<unsigned char> text;
  errno = 0;
  if (!read_input(input, text)) {
    return kExitData;
  }
  std::vector<std::uint64_t> values;
  values.reserve(text.size() / 18 + 1);
  LimitedReport invalid(false);
  LimitedReport unusual(true);
  std::size_t line_number = 0;
  const char* name = input.c_str();
  Importer importer(*from);
  for_each_line(text, [&](std::string_view line) {
    ++line_number;
    for (const ParsedLine& parsed : importer.read(line)) {
      if (parsed.kind == ParsedLine::Kind::invalid) {
        invalid.add("%s:%zu: %s: '%.*s'", name, line_number, parsed.reason,
                    static_cast<int>(parsed.content.size()), parsed.content.data());
      } else if (parsed.kind == ParsedLine::Kind::address) {
        values.push_back(parsed.value);
        if (const char* kind = unusual_address_kind(parsed.value);
            kind != nullptr && !options->quiet) {
          unusual.add("%s:%zu: %s: '%.*s'", name, line_number, kind,
                      static_cast<int>(parsed.content.size()), parsed.content.data());
        }
      }
    }
  });
  if (const char* reason = importer.finish()) {
    invalid.add("%s:%zu: %s", name, line_number, reason);
  }
  unusual.close("warnings");
  invalid.close("invalid lines");
  if (invalid.count() > 0) {
    error("%s: %zu invalid line%s; nothing written", name, invalid.count(),
          invalid.count() == 1 ? "" : "s");
    return kExitData;
  }
  text = {};

  const std::size_t dropped = sort_unique(values);
  if (!write_list(dest, values, orbitforge::util::key_for_version(*options->key))) {
    return kExitData;
  }
  error("wrote %zu address%s to %s (%zu duplicate%s dropped)", values.size(),
        values.size() == 1 ? "" : "es", dest.c_str(), dropped, dropped == 1 ? "" : "s");
  return kExitOk;
}

}  // namespace adrvet_list
