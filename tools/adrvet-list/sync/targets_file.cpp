#include "sync/targets_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

#include "base/file_descriptor.h"
#include "formats/format_table.h"
#include "store/list_store.h"

namespace adrvet_list {
namespace {

// A targets file is a few lines per peer; anything far larger is a mistake.
constexpr std::size_t kMaxTargetsFileSize = std::size_t{1} << 20U;

struct Value {
  std::string text;
  std::size_t line = 0;
};

// The keys of one section as written, before the format is known.
struct Section {
  std::string name;
  std::size_t line = 0;
  std::map<std::string, Value, std::less<>> values;
};

struct KeyRule {
  std::string_view key;
  bool names_set;  // applies only to the formats whose file uses that name
};

constexpr std::array kKeys = {
    KeyRule{"format", false}, KeyRule{"output", false}, KeyRule{"mode", false},
    KeyRule{"check", false},  KeyRule{"reload", false}, KeyRule{"name", true},
    KeyRule{"table", true},   KeyRule{"family", true},
};

const KeyRule* find_key(std::string_view key) {
  for (const KeyRule& rule : kKeys) {
    if (rule.key == key) {
      return &rule;
    }
  }
  return nullptr;
}

bool key_applies(const KeyRule& rule, const PeerFormat& format) {
  return !rule.names_set || uses_name(format, rule.key);
}

std::string_view trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool valid_section_name(std::string_view name) {
  if (name.empty() || name.size() > 64) {
    return false;
  }
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-' || c == '.';
    if (!ok) {
      return false;
    }
  }
  return true;
}

std::optional<unsigned> parse_octal_mode(std::string_view text) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("01234567") != std::string::npos) {
    return std::nullopt;
  }
  unsigned mode = 0;
  for (const char c : text) {
    mode = mode * 8 + static_cast<unsigned>(c - '0');
  }
  if (mode > 0777) {
    return std::nullopt;
  }
  return mode;
}

class Parser {
 public:
  Parser(const std::string& path, std::string& problem) : path_(path), problem_(problem) {}

  std::optional<std::vector<SyncTarget>> run(std::string_view text) {
    std::size_t line_number = 0;
    while (!text.empty()) {
      const std::size_t newline = text.find('\n');
      const std::string_view line = text.substr(0, newline);
      text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
      if (!take_line(trim(line), ++line_number)) {
        return std::nullopt;
      }
    }
    if (current_ && !finish_section()) {
      return std::nullopt;
    }
    if (targets_.empty()) {
      problem_ = path_ + ": names no target; each starts with a [name] line";
      return std::nullopt;
    }
    return std::move(targets_);
  }

 private:
  bool fail(std::size_t line, const std::string& what) {
    problem_ = path_ + ":" + std::to_string(line) + ": " + what;
    return false;
  }

  bool take_line(std::string_view line, std::size_t number) {
    if (line.empty() || line.front() == '#' || line.front() == ';') {
      return true;
    }
    if (line.front() == '[') {
      return start_section(line, number);
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return fail(number, "expected [name] or key = value, not '" + std::string(line) + "'");
    }
    const std::string key(trim(line.substr(0, equals)));
    if (find_key(key) == nullptr) {
      return fail(number, "unknown key '" + key +
                              "'; keys are format, output, mode, check, reload, name, table, "
                              "family");
    }
    if (!current_) {
      return fail(number, "'" + key + "' comes before the first [name] line");
    }
    if (current_->values.count(key) != 0) {
      return fail(number, "'" + key + "' given twice in [" + current_->name + "]");
    }
    current_->values[key] = Value{std::string(trim(line.substr(equals + 1))), number};
    return true;
  }

  bool start_section(std::string_view line, std::size_t number) {
    if (current_ && !finish_section()) {
      return false;
    }
    if (line.back() != ']') {
      return fail(number, "a section line is [name]");
    }
    const std::string name(trim(line.substr(1, line.size() - 2)));
    if (!valid_section_name(name)) {
      return fail(number, "'" + name +
                              "' cannot name a target: letters, digits, '_', '-' and '.', at "
                              "most 64");
    }
    for (const SyncTarget& target : targets_) {
      if (target.name == name) {
        return fail(number, "[" + name + "] comes twice (first on line " +
                                std::to_string(target.line) + ")");
      }
    }
    current_ = Section{name, number, {}};
    return true;
  }

  const Value* value(std::string_view key) const {
    const auto found = current_->values.find(key);
    return found == current_->values.end() ? nullptr : &found->second;
  }

  bool finish_section() {
    const Section& section = *current_;
    SyncTarget target;
    target.name = section.name;
    target.line = section.line;
    if (!take_format(section, target) || !take_output(section, target) ||
        !take_names(section, target) || !take_mode(section, target) ||
        !take_command(section, "check", target.check) ||
        !take_command(section, "reload", target.reload)) {
      return false;
    }
    current_.reset();
    targets_.push_back(std::move(target));
    return true;
  }

  bool take_format(const Section& section, SyncTarget& target) {
    const Value* format = value("format");
    if (format == nullptr) {
      return fail(section.line, "[" + section.name + "] has no format");
    }
    target.format = find_peer_format(format->text);
    if (target.format == nullptr) {
      return fail(format->line, "unknown format '" + format->text + "'");
    }
    for (const auto& [key, given] : section.values) {
      if (!key_applies(*find_key(key), *target.format)) {
        return fail(given.line, "'" + key + "' does not apply to format " + format->text);
      }
    }
    return true;
  }

  bool take_output(const Section& section, SyncTarget& target) {
    const Value* output = value("output");
    if (output == nullptr) {
      return fail(section.line, "[" + section.name + "] has no output");
    }
    if (output->text.empty() || output->text.front() != '/' || output->text.back() == '/') {
      return fail(output->line,
                  "output must be the absolute path of a file, not '" + output->text + "'");
    }
    for (const SyncTarget& other : targets_) {
      if (other.output == output->text) {
        return fail(output->line, "[" + other.name + "] already writes " + output->text);
      }
    }
    target.output = output->text;
    return true;
  }

  bool take_names(const Section& section, SyncTarget& target) {
    std::size_t names_line = section.line;
    for (const auto& [key, field] :
         {std::pair{"name", &ExportNames::set}, std::pair{"table", &ExportNames::table},
          std::pair{"family", &ExportNames::family}}) {
      if (const Value* given = value(key)) {
        target.names.*field = given->text;
        names_line = given->line;
      }
    }
    if (target.format->names_problem == nullptr) {
      return true;
    }
    const std::string problem = target.format->names_problem(target.names);
    return problem.empty() || fail(names_line, problem);
  }

  bool take_mode(const Section& /*section*/, SyncTarget& target) {
    const Value* mode = value("mode");
    if (mode == nullptr) {
      return true;
    }
    target.mode = parse_octal_mode(mode->text);
    return target.mode.has_value() ||
           fail(mode->line,
                "mode takes permission bits in octal, 0 to 0777, not '" + mode->text + "'");
  }

  bool take_command(const Section& /*section*/, const char* key,
                    std::optional<CommandWords>& command) {
    const Value* given = value(key);
    if (given == nullptr) {
      return true;
    }
    std::string problem;
    command = split_command(given->text, problem);
    if (!command) {
      return fail(given->line, std::string(key) + ": " + problem);
    }
    if (std::string_view(key) == "check" && !command->empty() && !names_path(*command)) {
      return fail(given->line, "check must name the new file as {}");
    }
    return true;
  }

  const std::string& path_;
  std::string& problem_;
  std::optional<Section> current_;
  std::vector<SyncTarget> targets_;
};

// Why a user other than the caller and root could change `status`'s file,
// or nullptr. Directories are writable safely only when sticky: then others
// cannot rename or remove what they do not own.
const char* open_to_others(const struct stat& status, bool directory) {
  const uid_t self = ::geteuid();
  if (status.st_uid != 0 && status.st_uid != self) {
    return "it belongs to another user";
  }
  const bool writable = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  if (writable && !(directory && (status.st_mode & S_ISVTX) != 0)) {
    return directory ? "others may write to its directory" : "others may write to it";
  }
  return nullptr;
}

// Checks every directory above `real_path` (links already resolved).
bool directories_trusted(const std::string& real_path, std::string& problem) {
  std::string directory = real_path;
  while (directory.size() > 1) {
    const std::size_t slash = directory.rfind('/');
    directory.resize(slash == 0 ? 1 : slash);
    struct stat status {};
    if (::stat(directory.c_str(), &status) != 0) {
      problem = directory + ": " + std::strerror(errno);
      return false;
    }
    if (const char* why = open_to_others(status, true)) {
      problem =
          std::string("refused: it names commands that run as you, and ") + directory + ": " + why;
      return false;
    }
  }
  return true;
}

}  // namespace

std::string default_targets_path(const std::string& list_argument) {
  const std::string file = list_file_path(list_argument);
  const std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) {
    return "targets.conf";
  }
  return file.substr(0, slash + 1) + "targets.conf";
}

std::optional<std::vector<SyncTarget>> parse_targets(std::string_view text, const std::string& path,
                                                     std::string& problem) {
  return Parser(path, problem).run(text);
}

std::optional<std::vector<SyncTarget>> load_targets(const std::string& path, std::string& problem) {
  std::array<char, PATH_MAX> resolved{};
  if (::realpath(path.c_str(), resolved.data()) == nullptr) {
    problem = path + ": cannot read: " + std::strerror(errno);
    return std::nullopt;
  }
  std::string why;
  if (!directories_trusted(resolved.data(), why)) {
    problem = path + ": " + why;
    return std::nullopt;
  }
  orbitforge::util::FileDescriptor file(
      ::open(resolved.data(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  struct stat status {};
  if (!file.valid() || ::fstat(file.get(), &status) != 0) {
    problem = path + ": cannot read: " + std::strerror(errno);
    return std::nullopt;
  }
  if (!S_ISREG(status.st_mode)) {
    problem = path + ": not a regular file";
    return std::nullopt;
  }
  if (const char* reason = open_to_others(status, false)) {
    problem = path + ": refused: it names commands that run as you, and " + reason;
    return std::nullopt;
  }
  if (static_cast<std::uint64_t>(status.st_size) > kMaxTargetsFileSize) {
    problem = path + ": too large for a targets file";
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t got = ::read(file.get(), text.data() + done, text.size() - done);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      problem = path + ": cannot read: " + std::strerror(got < 0 ? errno : EIO);
      return std::nullopt;
    }
    done += static_cast<std::size_t>(got);
  }
  return parse_targets(text, path, problem);
}

}  // namespace adrvet_list
