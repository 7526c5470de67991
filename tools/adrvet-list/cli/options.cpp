#include "cli/options.h"

#include <getopt.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cli/output.h"
#include "common/messages.h"
#include "crypto/key_versions.h"
#include "formats/format_table.h"

namespace adrvet_list {
namespace {

// getopt has just refused the word `word` (argv[optind - 1]): an option it
// does not know, or one that needs a value and is last. A short option's
// letter is in optopt; the word then may hold several ("-qk").
void report_bad_option(const char* command, bool missing_value, const char* word) {
  std::string name = word;
  if (name.rfind("--", 0) != 0) {
    name = std::string("-") + static_cast<char>(optopt);
  } else {
    name = name.substr(0, name.find('='));
  }
  if (missing_value) {
    error("%s: option %s needs a value", command, name.c_str());
  } else {
    error("%s: unknown option '%s'", command, name.c_str());
  }
}

// "0", "10", "2.5": seconds, at most a day.
std::optional<std::chrono::milliseconds> parse_wait(const std::string& text) {
  constexpr double kMaxSeconds = 86400;
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) {
    return std::nullopt;
  }
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !(seconds >= 0) || seconds > kMaxSeconds) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

std::optional<unsigned> parse_mode(const std::string& text) {
  constexpr unsigned long kMaxMode = 0777;
  if (text.empty() || text.size() > 4 || text.find_first_not_of("01234567") != std::string::npos) {
    return std::nullopt;
  }
  const unsigned long mode = std::strtoul(text.c_str(), nullptr, 8);
  if (mode > kMaxMode) {
    return std::nullopt;
  }
  return static_cast<unsigned>(mode);
}

// Where the value of a peer-format option goes, or nullptr for other options.
std::optional<std::string>* peer_format_option(Options& options, int code) {
  switch (code) {
    case 't':
      return &options.table;
    case 'F':
      return &options.family;
    case 'o':
      return &options.output;
    case 'I':
      return &options.from;
    default:
      return nullptr;
  }
}

}  // namespace

std::optional<Options> parse_options(int argc, char* argv[], unsigned allowed,
                                     const char* command) {
  static const option long_options[] = {
      {"key", required_argument, nullptr, 'k'},    {"key-b", required_argument, nullptr, 'B'},
      {"to", required_argument, nullptr, 'T'},     {"format", required_argument, nullptr, 'f'},
      {"name", required_argument, nullptr, 'n'},   {"quiet", no_argument, nullptr, 'q'},
      {"wait", required_argument, nullptr, 'w'},   {"mode", required_argument, nullptr, 'm'},
      {"force", no_argument, nullptr, 'R'},        {"allow-empty", no_argument, nullptr, 'E'},
      {"table", required_argument, nullptr, 't'},  {"family", required_argument, nullptr, 'F'},
      {"output", required_argument, nullptr, 'o'}, {"from", required_argument, nullptr, 'I'},
      {"help", no_argument, nullptr, 'h'},         {nullptr, 0, nullptr, 0}};
  struct Rule {
    int code;
    unsigned flag;
  };
  static const Rule rules[] = {{'k', kOptKey},        {'B', kOptKeyB},  {'T', kOptTo},
                               {'f', kOptFormat},     {'n', kOptName},  {'q', kOptQuiet},
                               {'w', kOptWait},       {'m', kOptMode},  {'R', kOptForce},
                               {'E', kOptAllowEmpty}, {'t', kOptTable}, {'F', kOptFamily},
                               {'o', kOptOutput},     {'I', kOptFrom}};
  Options options;
  unsigned seen = 0;
  opterr = 0;
  optind = 0;  // full re-initialisation of GNU getopt
  int code = 0;
  int long_index = -1;
  while ((code = ::getopt_long(argc, argv, ":k:qh", long_options, &long_index)) != -1) {
    // Messages name the option as the user typed it: "--key" or "-k".
    const std::string typed = long_index >= 0 ? std::string("--") + long_options[long_index].name
                                              : std::string("-") + static_cast<char>(code);
    long_index = -1;
    if (code == 'h') {
      options.help = true;
      continue;
    }
    if (code == '?' || code == ':') {
      report_bad_option(command, code == ':', argv[optind - 1]);
      return std::nullopt;
    }
    const Rule* rule = nullptr;
    for (const Rule& r : rules) {
      if (r.code == code) {
        rule = &r;
      }
    }
    if (rule == nullptr || (allowed & rule->flag) == 0) {
      error("%s: option %s does not apply to this command", command, typed.c_str());
      return std::nullopt;
    }
    if ((seen & rule->flag) != 0) {
      error("%s: option %s given twice", command, typed.c_str());
      return std::nullopt;
    }
    seen |= rule->flag;
    const std::string value = optarg != nullptr ? optarg : "";
    if (code == 'k' || code == 'B' || code == 'T') {
      const auto version = orbitforge::util::parse_key_version(value);
      if (!version) {
        error("%s: %s takes a key version, S or U, not '%s'", command, typed.c_str(),
              value.c_str());
        return std::nullopt;
      }
      (code == 'k' ? options.key : code == 'B' ? options.key_b : options.to) = version;
    } else if (code == 'f') {
      options.format = value;
    } else if (code == 'n') {
      options.name = value;
    } else if (code == 'q') {
      options.quiet = true;
    } else if (code == 'w') {
      options.wait = parse_wait(value);
      if (!options.wait) {
        error("%s: --wait takes a number of seconds, not '%s'", command, value.c_str());
        return std::nullopt;
      }
    } else if (code == 'm') {
      options.mode = parse_mode(value);
      if (!options.mode) {
        error("%s: --mode takes permission bits in octal, 0 to 0777, not '%s'", command,
              value.c_str());
        return std::nullopt;
      }
    } else if (code == 'R') {
      options.force = true;
    } else if (code == 'E') {
      options.allow_empty = true;
    } else if (std::optional<std::string>* peer_option = peer_format_option(options, code)) {
      *peer_option = value;
    }
  }
  for (int i = optind; i < argc; ++i) {
    options.positional.emplace_back(argv[i]);
  }
  if (!options.help && (allowed & kOptKey) != 0 && !options.key) {
    error("%s: the key version is required: -k S or -k U", command);
    return std::nullopt;
  }
  return options;
}

namespace {

bool expect_positionals(const Options& options, std::size_t min, std::size_t max,
                        const char* command) {
  const std::size_t count = options.positional.size();
  if (count < min) {
    error("%s: missing arguments; see 'adrvet-list %s --help'", command, command);
    return false;
  }
  if (count > max) {
    error("%s: unexpected argument '%s'; see 'adrvet-list %s --help'", command,
          options.positional[max].c_str(), command);
    return false;
  }
  return true;
}

}  // namespace

std::optional<Options> start_command(int argc, char* argv[], const CommandSpec& spec, int& status) {
  status = kExitUsage;
  auto options = parse_options(argc, argv, spec.options, spec.name);
  if (!options) {
    return std::nullopt;
  }
  if (options->help) {
    status = show_help(spec.usage);
    return std::nullopt;
  }
  if (!expect_positionals(*options, spec.min_arguments, spec.max_arguments, spec.name)) {
    return std::nullopt;
  }
  status = kExitOk;
  return options;
}

const PeerFormat* import_format(const Options& options, const char* command) {
  const PeerFormat* format = find_peer_format(options.from.value_or("plain"));
  if (format == nullptr) {
    error("%s: unknown format '%s'; see 'adrvet-list %s --help'", command, options.from->c_str(),
          command);
  }
  return format;
}

}  // namespace adrvet_list
