#include "cli.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace adrvet_list {
namespace {

void message(const char* prefix, const char* format, va_list args) {
  std::string text = prefix;
  char chunk[1024];
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(chunk, sizeof chunk, format,
                                    copy);  // NOLINT(clang-analyzer-valist.Uninitialized)
  va_end(copy);
  if (needed >= static_cast<int>(sizeof chunk)) {
    std::string large(static_cast<std::size_t>(needed) + 1, '\0');
    (void)std::vsnprintf(
        large.data(), large.size(), format,
        args);  // NOLINT(clang-analyzer-valist.Uninitialized): started by the caller
    large.resize(static_cast<std::size_t>(needed));
    text += large;
  } else if (needed > 0) {
    text += chunk;
  }
  text += '\n';
  (void)std::fwrite(text.data(), 1, text.size(), stderr);
}

constexpr std::size_t kOutputChunk = std::size_t{1} << 20;

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

void error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  message("adrvet-list: ", format, args);
  va_end(args);
}

void warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  message("adrvet-list: warning: ", format, args);
  va_end(args);
}

std::optional<int> parse_key_version(const std::string& text) {
  if (text == "S" || text == "s") {
    return 1;
  }
  if (text == "U" || text == "u") {
    return 2;
  }
  return std::nullopt;
}

std::optional<Options> parse_options(int argc, char* argv[], unsigned allowed,
                                     const char* command) {
  static const option long_options[] = {
      {"key", required_argument, nullptr, 'k'},    {"key-b", required_argument, nullptr, 'B'},
      {"to", required_argument, nullptr, 'T'},     {"format", required_argument, nullptr, 'f'},
      {"name", required_argument, nullptr, 'n'},   {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},         {"table", required_argument, nullptr, 't'},
      {"family", required_argument, nullptr, 'F'}, {"output", required_argument, nullptr, 'o'},
      {"from", required_argument, nullptr, 'I'},   {nullptr, 0, nullptr, 0}};
  struct Rule {
    int code;
    unsigned flag;
    const char* name;
  };
  static const Rule rules[] = {{'k', kOptKey, "-k"},          {'B', kOptKeyB, "--key-b"},
                               {'T', kOptTo, "--to"},         {'f', kOptFormat, "--format"},
                               {'n', kOptName, "--name"},     {'q', kOptQuiet, "--quiet"},
                               {'t', kOptTable, "--table"},   {'F', kOptFamily, "--family"},
                               {'o', kOptOutput, "--output"}, {'I', kOptFrom, "--from"}};
  Options options;
  unsigned seen = 0;
  opterr = 0;
  optind = 0;  // full re-initialisation of GNU getopt
  int code = 0;
  while ((code = ::getopt_long(argc, argv, "k:qh", long_options, nullptr)) != -1) {
    if (code == 'h') {
      options.help = true;
      continue;
    }
    if (code == '?' || code == ':') {
      if (optopt != 0) {
        error("%s: unknown option or missing value: '-%c'", command, optopt);
      } else {
        error("%s: unknown option or missing value: '%s'", command, argv[optind - 1]);
      }
      return std::nullopt;
    }
    const Rule* rule = nullptr;
    for (const Rule& r : rules) {
      if (r.code == code) {
        rule = &r;
      }
    }
    if (rule == nullptr || (allowed & rule->flag) == 0) {
      error("%s: option %s does not apply to this command", command,
            rule != nullptr ? rule->name : "?");
      return std::nullopt;
    }
    if ((seen & rule->flag) != 0) {
      error("%s: option %s given twice", command, rule->name);
      return std::nullopt;
    }
    seen |= rule->flag;
    const std::string value = optarg != nullptr ? optarg : "";
    if (code == 'k' || code == 'B' || code == 'T') {
      const auto version = parse_key_version(value);
      if (!version) {
        error("%s: %s takes a key version, S or U, not '%s'", command, rule->name, value.c_str());
        return std::nullopt;
      }
      (code == 'k' ? options.key : code == 'B' ? options.key_b : options.to) = version;
    } else if (code == 'f') {
      options.format = value;
    } else if (code == 'n') {
      options.name = value;
    } else if (code == 'q') {
      options.quiet = true;
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

Output::~Output() {
  if (!finished_) {
    (void)finish();
  }
}

void Output::add(const char* data, std::size_t size) {
  wrote_ = wrote_ || size > 0;
  buffer_.append(data, size);
  if (buffer_.size() >= kOutputChunk) {
    (void)flush();
  }
}

bool Output::flush() {
  std::size_t done = 0;
  while (done < buffer_.size() && !failed_) {
    const ssize_t put = ::write(STDOUT_FILENO, buffer_.data() + done, buffer_.size() - done);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      failed_ = true;
    } else {
      done += static_cast<std::size_t>(put);
    }
  }
  buffer_.clear();
  return !failed_;
}

bool Output::finish() {
  finished_ = true;
  const bool flushed = flush();
  // Closing reports delayed write errors (NFS, full disks behind a pipe).
  return flushed && (!wrote_ || ::close(STDOUT_FILENO) == 0);
}

int finish_output(Output& out, int status) {
  if (!out.finish()) {
    error("cannot write to standard output: %s", std::strerror(errno));
    return kExitData;
  }
  return status;
}

int show_help(const char* text) {
  Output out;
  out.add(text, std::strlen(text));
  return finish_output(out, kExitOk);
}

bool read_standard_input(std::vector<unsigned char>& data) {
  unsigned char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      return true;
    }
    data.insert(data.end(), chunk, chunk + got);
  }
}

}  // namespace adrvet_list
