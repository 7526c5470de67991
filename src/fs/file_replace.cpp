#include "fs/detail/file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fs/detail/file_io.h"

namespace orbitforge::util::detail {
namespace {

// Temporary files of `name` start with ".<name>.tmp-".
std::string temporary_prefix(const std::string& name) { return hidden_name_beside(name, ".tmp-"); }

// Hidden, recognisable name beside the target: ".<name>.tmp-<pid>-<n>-<t>".
std::string temporary_name(const std::string& name, unsigned attempt) {
  static std::atomic<unsigned> sequence{0};
  const auto ticks =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char suffix[96];
  (void)std::snprintf(suffix, sizeof suffix, "%ld-%u-%llx", static_cast<long>(::getpid()),
                      sequence.fetch_add(1) + attempt, ticks & 0xffffffULL);
  return temporary_prefix(name) + suffix;
}

// With the lock held no other writer of this file is alive, so every
// temporary of ours is stale. Other users' files and anything that is not
// a regular file are left alone, whatever their names.
void remove_stale_temporaries(const WriteTarget& target) {
  const int scan = ::openat(target.directory.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (scan < 0) {
    return;
  }
  DIR* entries = ::fdopendir(scan);
  if (entries == nullptr) {
    ::close(scan);
    return;
  }
  const std::string prefix = temporary_prefix(target.name);
  while (const dirent* entry = ::readdir(entries)) {
    if (std::string_view(entry->d_name).substr(0, prefix.size()) != prefix) {
      continue;
    }
    struct stat status {};
    if (::fstatat(target.directory.get(), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(status.st_mode) && status.st_uid == ::geteuid()) {
      ::unlinkat(target.directory.get(), entry->d_name, 0);
    }
  }
  ::closedir(entries);
}

// The temporaries being written, for remove_unfinished_temporary() in a
// signal handler: plain storage that the handler may read at any moment.
// Two, since a streamed list may write the file beside it (its inventory)
// while its own temporary is still open.
struct UnfinishedTemporary {
  volatile sig_atomic_t directory = -1;
  char name[NAME_MAX + 1] = {};
};
UnfinishedTemporary unfinished[2];

// Blocks the stopping signals while the record and the directory disagree.
class StopSignalsHeld {
 public:
  StopSignalsHeld() {
    sigset_t stopping;
    sigemptyset(&stopping);
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
      sigaddset(&stopping, signal_number);
    }
    (void)::pthread_sigmask(SIG_BLOCK, &stopping, &previous_);
  }
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;
  ~StopSignalsHeld() { (void)::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_{};
};

// The slot a temporary was recorded in; none when both were taken or the
// name was too long, and then only the next writer removes it, if need be.
constexpr int kNotRecorded = -1;

void forget_temporary(int slot) {
  if (slot == kNotRecorded) {
    return;
  }
  const StopSignalsHeld held;
  unfinished[slot].directory = -1;
}

int record_temporary(const WriteTarget& target, const std::string& temp_name) {
  if (temp_name.size() >= sizeof unfinished[0].name) {
    return kNotRecorded;
  }
  for (int slot = 0; slot < 2; ++slot) {
    if (unfinished[slot].directory < 0) {
      std::memcpy(unfinished[slot].name, temp_name.c_str(), temp_name.size() + 1);
      unfinished[slot].directory = target.directory.get();
      return slot;
    }
  }
  return kNotRecorded;
}

FileDescriptor create_temporary(const WriteTarget& target, std::string& temp_name, int& slot) {
  constexpr unsigned kAttempts = 100;
  const StopSignalsHeld held;  // created and recorded as one step
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    temp_name = temporary_name(target.name, attempt);
    // 0600 from the first moment: the bytes are the list, and the keys are built in.
    FileDescriptor fd(::openat(target.directory.get(), temp_name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.valid()) {
      slot = record_temporary(target, temp_name);
      return fd;
    }
    if (errno != EEXIST) {
      return fd;
    }
  }
  errno = EEXIST;
  return FileDescriptor{};
}

// The process's umask, read without changing it: setting it even for a
// moment races with files that other threads of a host program create.
// Where /proc does not show it, 077 stands in, so that a file is never
// more open than the umask meant.
mode_t current_umask() {
  constexpr mode_t kStrictUmask = 077;
  std::FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) {
    return kStrictUmask;
  }
  mode_t mask = kStrictUmask;
  constexpr char kField[] = "Umask:";
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, kField, sizeof kField - 1) == 0) {
      char* end = nullptr;
      const unsigned long value = std::strtoul(line + sizeof kField - 1, &end, 8);
      if (end != line + sizeof kField - 1) {
        mask = static_cast<mode_t>(value & 0777U);
      }
      break;
    }
  }
  (void)std::fclose(status);
  return mask;
}

// The old file's owner when the writer may keep it; otherwise at least its
// group, as careful editors do, so that group readers keep access.
void keep_ownership(int fd, const struct stat& old_status) {
  if (::fchown(fd, old_status.st_uid, old_status.st_gid) != 0) {
    (void)::fchown(fd, static_cast<uid_t>(-1), old_status.st_gid);
  }
}

bool give_final_attributes(int fd, const WriteTarget& target, const ReplaceOptions& options) {
  if (target.exists) {
    keep_ownership(fd, target.status);
    return ::fchmod(fd, target.status.st_mode & 07777) == 0;
  }
  const mode_t mode =
      options.apply_umask ? options.new_file_mode & ~current_umask() : options.new_file_mode;
  return ::fchmod(fd, mode & 07777) == 0;
}

// Writes to a descriptor opened without blocking: waits for room while the
// reader keeps taking data, and gives up once it has taken nothing for
// kStallLimit.
FileResult write_without_blocking(int fd, const unsigned char* data, std::size_t size) {
  constexpr int kStallLimitMs = 10000;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = retry_on_interrupt(
        [&] { return ::write(fd, data + done, std::min<std::size_t>(size - done, 1U << 20U)); });
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put == 0 || errno != EAGAIN) {
      return FileResult::failure(FileStatus::write_failed, put == 0 ? EIO : errno);
    }
    pollfd ready{fd, POLLOUT, 0};
    const int polled = retry_on_interrupt([&] { return ::poll(&ready, 1, kStallLimitMs); });
    if (polled == 0) {
      return FileResult::failure(FileStatus::reader_stalled);
    }
    if (polled < 0) {
      return FileResult::failure(FileStatus::write_failed, errno);
    }
  }
  return {};
}

FileResult write_special(const WriteTarget& target, const unsigned char* data, std::size_t size) {
  // Opened without waiting (a FIFO with no reader fails at once), and
  // written without waiting for ever on a reader that stopped reading.
  FileDescriptor fd(::openat(target.directory.get(), target.name.c_str(),
                             O_WRONLY | O_TRUNC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) {
    return FileResult::failure(FileStatus::cannot_open_special, errno);
  }
  struct stat opened {};
  if (::fstat(fd.get(), &opened) != 0 || opened.st_dev != target.status.st_dev ||
      opened.st_ino != target.status.st_ino) {
    return FileResult::failure(FileStatus::target_changed);
  }
  if (FileResult written = write_without_blocking(fd.get(), data, size); !written.ok()) {
    return written;
  }
  return fd.close() ? FileResult{} : FileResult::failure(FileStatus::write_failed, errno);
}

}  // namespace

void remove_unfinished_temporary() noexcept {
  for (const UnfinishedTemporary& temporary : unfinished) {
    const int directory = temporary.directory;
    if (directory >= 0) {
      ::unlinkat(directory, temporary.name, 0);
    }
  }
}

FileResult replace_file(const WriteTarget& target, const unsigned char* data, std::size_t size,
                        const ReplaceOptions& options) {
  if (target.exists && !S_ISREG(target.status.st_mode)) {
    return write_special(target, data, size);
  }
  return replace_file_with(
      target,
      [&](int fd, bool&) {
        return write_all(fd, data, size) ? FileResult{}
                                         : FileResult::failure(FileStatus::write_failed, errno);
      },
      options);
}

FileResult replace_file_with(const WriteTarget& target, const ContentWriter& write,
                             const ReplaceOptions& options) {
  if (target.exists && !S_ISREG(target.status.st_mode)) {
    return FileResult::failure(FileStatus::cannot_open_special, ESPIPE);
  }
  if (options.remove_stale_temporaries) {
    remove_stale_temporaries(target);
  }
  std::string temp_name;
  int slot = kNotRecorded;
  FileDescriptor fd = create_temporary(target, temp_name, slot);
  if (!fd.valid()) {
    return FileResult::failure(FileStatus::cannot_create, errno);
  }
  bool replace = true;
  FileResult result = write(fd.get(), replace);
  if (result.ok() && replace &&
      (!give_final_attributes(fd.get(), target, options) || ::fsync(fd.get()) != 0)) {
    result = FileResult::failure(FileStatus::write_failed, errno);
  }
  if (!fd.close() && result.ok() && replace) {
    result = FileResult::failure(FileStatus::write_failed, errno);
  }
  {
    const StopSignalsHeld held;  // renamed (or removed) and forgotten as one step
    if (result.ok() && replace &&
        ::renameat(target.directory.get(), temp_name.c_str(), target.directory.get(),
                   target.name.c_str()) != 0) {
      result = FileResult::failure(FileStatus::rename_failed, errno);
    }
    if (!result.ok() || !replace) {
      ::unlinkat(target.directory.get(), temp_name.c_str(), 0);
    }
    forget_temporary(slot);
  }
  if (!result.ok() || !replace) {
    return result;
  }
  // The rename lasts through a crash only once the directory is synced.
  if (::fsync(target.directory.get()) != 0) {
    return FileResult::failure(FileStatus::not_durable, errno);
  }
  return result;
}

}  // namespace orbitforge::util::detail
