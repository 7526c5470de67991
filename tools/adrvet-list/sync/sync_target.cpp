#include "sync/sync_target.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/file_descriptor.h"
#include "base/secret_bytes.h"
#include "formats/format_table.h"
#include "fs/file_update.h"
#include "sync/command_runner.h"
#include "sync/peer_commands.h"

namespace adrvet_list {
namespace {

using orbitforge::util::FileResult;
using orbitforge::util::SecretBytes;

// Far beyond any peer's file for the largest list a container holds.
constexpr std::uint64_t kMaxLiveFileSize = std::uint64_t{1} << 33U;

bool same_text(const SecretBytes& live, const std::string& text) {
  return live.size() == text.size() && std::equal(live.begin(), live.end(), text.begin());
}

Addresses sorted_unique(Addresses values) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  return values;
}

// How the live file's addresses differ from the export's, read with the
// format's own reader; lines it cannot read are counted, not guessed at.
struct Difference {
  std::size_t added = 0;
  std::size_t removed = 0;
  std::size_t unreadable = 0;
};

Difference compare_addresses(const PeerFormat& format, const SecretBytes& live,
                             const Addresses& expected) {
  Difference difference;
  Addresses found;
  const auto reader = format.make_reader();
  std::string_view rest(reinterpret_cast<const char*>(live.data()), live.size());
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    for (const ParsedLine& parsed : reader->read(rest.substr(0, newline))) {
      if (parsed.kind == ParsedLine::Kind::address) {
        found.push_back(parsed.value);
      } else if (parsed.kind == ParsedLine::Kind::invalid) {
        ++difference.unreadable;
      }
    }
    rest = newline == std::string_view::npos ? std::string_view{} : rest.substr(newline + 1);
  }
  difference.unreadable += reader->finish() != nullptr ? 1U : 0U;
  found = sorted_unique(std::move(found));
  auto in_found = found.begin();
  for (const std::uint64_t value : expected) {
    while (in_found != found.end() && *in_found < value) {
      ++difference.removed;
      ++in_found;
    }
    if (in_found != found.end() && *in_found == value) {
      ++in_found;
    } else {
      ++difference.added;
    }
  }
  difference.removed += static_cast<std::size_t>(found.end() - in_found);
  return difference;
}

std::string describe_difference(const Difference& difference) {
  std::string text;
  const auto part = [&text](std::size_t count, const char* what) {
    if (count > 0) {
      text += (text.empty() ? "" : ", ") + std::to_string(count) + what;
    }
  };
  part(difference.added, difference.added == 1 ? " address missing" : " addresses missing");
  part(difference.removed, " in excess");
  part(difference.unreadable,
       difference.unreadable == 1 ? " line it does not read" : " lines it does not read");
  return text.empty() ? "it differs from the export but holds the same addresses" : text;
}

// A private directory for the file the checker reads, removed with it.
class Scratch {
 public:
  Scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/adrvet-sync.XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    } else {
      error_ = errno;
    }
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    if (!path_.empty()) {
      remove_tree(path_);
    }
  }
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] int error() const { return error_; }

 private:
  // Only what prepare_check wrote: files and one level of directories.
  static void remove_tree(const std::string& directory) {
    if (DIR* listing = ::opendir(directory.c_str())) {
      while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
          const std::string path = directory + "/" + name;
          if (::unlink(path.c_str()) != 0 && errno == EISDIR) {
            remove_tree(path);
          }
        }
      }
      ::closedir(listing);
    }
    ::rmdir(directory.c_str());
  }
  std::string path_;
  int error_ = 0;
};

// Runs the target's check on `text`; empty when it passed (or there is none),
// else why it failed.
std::string run_check(const SyncTarget& target, const std::string& text,
                      const SyncSettings& settings) {
  const Scratch scratch;
  if (scratch.path().empty()) {
    return std::string("cannot make a directory for the file to check: ") +
           std::strerror(scratch.error());
  }
  std::string problem;
  const auto command = prepare_check(target, text, scratch.path(), problem);
  if (!problem.empty()) {
    return problem;
  }
  if (!command) {
    return {};
  }
  const CommandResult result = run_command(*command, settings.command_limit);
  if (result.succeeded()) {
    return {};
  }
  return "check refused the new file (" + command_text(*command) + "): " + describe_outcome(result);
}

// The live file without the output's lock, for --check and --dry-run.
// Gives false with `problem` set when it exists but cannot be read.
bool read_live(const std::string& path, bool& exists, SecretBytes& live, std::string& problem) {
  orbitforge::util::FileDescriptor file(
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!file.valid()) {
    exists = false;
    if (errno == ENOENT) {
      return true;
    }
    problem = std::string("cannot read the live file: ") + std::strerror(errno);
    return false;
  }
  exists = true;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    problem = "the live file is not a regular file";
    return false;
  }
  unsigned char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      problem = std::string("cannot read the live file: ") + std::strerror(errno);
      return false;
    }
    if (got == 0) {
      return true;
    }
    live.insert(live.end(), chunk, chunk + got);
  }
}

void compare_only(const SyncTarget& target, const std::string& text, const Addresses& expected,
                  const SyncSettings& settings, TargetReport& report) {
  bool exists = false;
  SecretBytes live;
  std::string problem;
  if (!read_live(target.output, exists, live, problem)) {
    report.state = TargetState::failed;
    report.message = problem;
    return;
  }
  if (exists && same_text(live, text)) {
    return;
  }
  const Difference difference = compare_addresses(*target.format, live, expected);
  report.added = difference.added;
  report.removed = difference.removed;
  if (settings.mode == SyncMode::check) {
    report.state = exists ? TargetState::drifted : TargetState::missing;
    report.message = exists ? describe_difference(difference) : "the live file does not exist";
    return;
  }
  const std::string refused = run_check(target, text, settings);
  report.state = refused.empty() ? TargetState::would_update : TargetState::failed;
  if (!refused.empty()) {
    report.message = refused + "; the live file would stay as it is";
  } else if (!exists) {
    report.message = "the live file does not exist";
  }
}

// After a failed reload: the old file back (or the new one gone, when there
// was none) and, when there was one, the peer reloaded with it again.
std::string restore(orbitforge::util::FileUpdate& update, const SyncTarget& target, bool existed,
                    const SecretBytes& old, const CommandWords& reload,
                    const SyncSettings& settings) {
  if (!existed) {
    if (::unlink(target.output.c_str()) != 0) {
      return std::string("; removing the new file failed: ") + std::strerror(errno);
    }
    return "; the new file is removed";
  }
  const FileResult put_back = update.commit(old.data(), old.size());
  if (!put_back.ok()) {
    return "; putting the old file back failed: " + orbitforge::util::describe(put_back);
  }
  const CommandResult again = run_command(reload, settings.command_limit);
  if (!again.succeeded()) {
    return "; the old file is back, but reloading it failed too: " + describe_outcome(again);
  }
  return "; the old file is back and reloaded";
}

void update_live(const SyncTarget& target, const std::string& text, const Addresses& expected,
                 const SyncSettings& settings, TargetReport& report) {
  report.state = TargetState::failed;
  orbitforge::util::UpdateOptions options;
  options.wait = settings.wait;
  // A new file is a daemon's configuration: the umask decides, as for a
  // shell's redirection, unless the target gives a mode.
  options.write.new_file_mode = target.mode.value_or(0666);
  options.write.apply_umask = !target.mode;
  orbitforge::util::FileUpdate update;
  FileResult result = update.begin(target.output.c_str(), options);
  const bool existed = result.ok() && update.exists();
  SecretBytes old;
  if (result.ok() && existed) {
    result = update.read(old, kMaxLiveFileSize);
  }
  if (!result.ok()) {
    report.message = "cannot open the live file: " + orbitforge::util::describe(result);
    return;
  }
  if (existed && same_text(old, text)) {
    report.state = TargetState::in_step;
    return;
  }
  const Difference difference = compare_addresses(*target.format, old, expected);
  report.added = difference.added;
  report.removed = difference.removed;
  const std::string refused = run_check(target, text, settings);
  if (!refused.empty()) {
    report.message = refused + "; the live file is unchanged";
    return;
  }
  result = update.commit(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  if (!result.ok()) {
    report.message =
        "cannot write: " + orbitforge::util::describe(result) + "; the live file is unchanged";
    return;
  }
  const CommandWords reload = reload_command(target);
  if (!reload.empty()) {
    const CommandResult reloaded = run_command(reload, settings.command_limit);
    if (!reloaded.succeeded()) {
      report.message = "reload failed (" + command_text(reload) +
                       "): " + describe_outcome(reloaded) +
                       restore(update, target, existed, old, reload, settings);
      return;
    }
  }
  report.state = TargetState::updated;
  if (!existed) {
    report.message = "the live file is new";
  }
}

}  // namespace

const char* state_name(TargetState state) {
  switch (state) {
    case TargetState::in_step:
      return "in_step";
    case TargetState::updated:
      return "updated";
    case TargetState::would_update:
      return "would_update";
    case TargetState::missing:
      return "missing";
    case TargetState::drifted:
      return "drifted";
    case TargetState::failed:
      return "failed";
  }
  return "failed";
}

TargetReport sync_target(const SyncTarget& target, const Addresses& values,
                         const ExportNotes& notes, const SyncSettings& settings) {
  TargetReport report;
  report.name = target.name;
  report.format = std::string(target.format->name);
  report.output = target.output;
  Addresses left_out;
  ExportNames names = target.names;
  names.notes = &notes;
  const std::string text = export_text(*target.format, values, names, left_out);
  Addresses expected = sorted_unique(values);
  for (const std::uint64_t value : sorted_unique(left_out)) {
    expected.erase(std::remove(expected.begin(), expected.end(), value), expected.end());
  }
  if (settings.mode == SyncMode::sync) {
    update_live(target, text, expected, settings, report);
  } else {
    compare_only(target, text, expected, settings, report);
  }
  return report;
}

}  // namespace adrvet_list
