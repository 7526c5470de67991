#include "import_input.h"

#include <cerrno>
#include <cstring>

#include "address_parser.h"
#include "crypto/file_io.h"
#include "import_formats.h"

namespace adrvet_list {
namespace {

constexpr std::size_t kReportLimit = 20;

bool read_input(const std::string& input, std::vector<unsigned char>& data) {
  errno = 0;
  if (input == "-" ? read_standard_input(data)
                   : orbitforge::util::detail::load_file(input.c_str(), data)) {
    return true;
  }
  error("%s: cannot read: %s", input.c_str(),
        errno != 0 ? std::strerror(errno) : "not a regular file");
  return false;
}

void report(bool invalid, std::size_t& count, const std::string& input, std::size_t line,
            const char* reason, std::string_view text) {
  if (count++ < kReportLimit) {
    (invalid ? error : warning)("%s:%zu: %s: '%.*s'", input.c_str(), line, reason,
                                static_cast<int>(text.size()), text.data());
  }
}

// One input; returns the number of invalid lines.
std::size_t import_one(const std::string& input, const std::vector<unsigned char>& text,
                       PeerFormat format, bool quiet, std::vector<std::uint64_t>& values) {
  Importer importer(format);
  std::size_t invalid = 0;
  std::size_t unusual = 0;
  std::size_t line_number = 0;
  for_each_line(text, [&](std::string_view line) {
    ++line_number;
    for (const ParsedLine& parsed : importer.read(line)) {
      if (parsed.kind == ParsedLine::Kind::invalid) {
        report(true, invalid, input, line_number, parsed.reason, parsed.content);
        continue;
      }
      values.push_back(parsed.value);
      if (const char* kind = unusual_address_kind(parsed.value); kind != nullptr && !quiet) {
        report(false, unusual, input, line_number, kind, parsed.content);
      }
    }
  });
  if (const char* reason = importer.finish()) {
    report(true, invalid, input, line_number, reason, "");
  }
  if (invalid > kReportLimit) {
    error("... and %zu more invalid lines in %s", invalid - kReportLimit, input.c_str());
  }
  return invalid;
}

}  // namespace

std::optional<PeerFormat> import_format(const Options& options, const char* command) {
  const auto format = parse_peer_format(options.from.value_or("plain"));
  if (!format) {
    error("%s: unknown format '%s'; see 'adrvet-list %s --help'", command, options.from->c_str(),
          command);
  }
  return format;
}

bool import_inputs(const std::vector<std::string>& inputs, PeerFormat format, bool quiet,
                   std::vector<std::uint64_t>& values) {
  bool all_valid = true;
  for (const std::string& input : inputs) {
    std::vector<unsigned char> text;
    if (!read_input(input, text) || import_one(input, text, format, quiet, values) > 0) {
      all_valid = false;
    }
  }
  return all_valid;
}

}  // namespace adrvet_list
