#include "fs/detail/update_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>

namespace orbitforge::util::detail {
namespace {

constexpr int kMaxReopens = 16;

std::string lock_name(const std::string& name) { return hidden_name_beside(name, ".lock"); }

// Reading suffices for flock, so group members need no write access. A
// FIFO planted at the name must not block the open.
constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

FileDescriptor open_or_create(const WriteTarget& target, const std::string& name,
                              const LockOptions& options) {
  FileDescriptor fd(::openat(target.directory.get(), name.c_str(), kOpenFlags | O_CREAT | O_EXCL,
                             options.mode & 0666));
  if (fd.valid()) {
    // The mode and group of the list, so that whoever may update it may lock it.
    (void)::fchmod(fd.get(), options.mode & 0666);
    (void)::fchown(fd.get(), static_cast<uid_t>(-1), options.group);
    return fd;
  }
  if (errno != EEXIST) {
    return fd;
  }
  return FileDescriptor(::openat(target.directory.get(), name.c_str(), kOpenFlags));
}

FileResult check_trusted(const WriteTarget& target, const struct stat& lock) {
  if (!S_ISREG(lock.st_mode) || lock.st_nlink != 1) {
    return FileResult::failure(FileStatus::untrusted_lock);
  }
  struct stat directory {};
  if (::fstat(target.directory.get(), &directory) != 0) {
    return FileResult::failure(FileStatus::lock_failed, errno);
  }
  const bool sticky = (directory.st_mode & S_ISVTX) != 0;
  const bool owner_trusted =
      lock.st_uid == 0 || lock.st_uid == ::geteuid() || lock.st_uid == directory.st_uid;
  if (sticky && !owner_trusted) {
    FileResult refused = FileResult::failure(FileStatus::untrusted_lock);
    refused.owner = lock.st_uid;
    return refused;
  }
  return {};
}

// Polls with a growing pause: flock(2) has no timeout of its own.
bool wait_for_lock(int fd, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      errno = EWOULDBLOCK;
      return false;
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(25));
  }
}

// True when the name still leads to the locked file; a writer that locked
// a file since replaced by another would not exclude anybody.
bool still_in_place(const WriteTarget& target, const std::string& name, int fd) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 &&
         ::fstatat(target.directory.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Whoever may update the list must be able to open its lock: when the list
// has since been given another mode or group, the lock's owner carries it
// over.
void follow_list_access(int fd, const struct stat& lock, const LockOptions& options) {
  if (lock.st_uid != ::geteuid()) {
    return;
  }
  if ((lock.st_mode & 0777) != (options.mode & 0666)) {
    (void)::fchmod(fd, options.mode & 0666);
  }
  if (options.group != static_cast<gid_t>(-1) && lock.st_gid != options.group) {
    (void)::fchown(fd, static_cast<uid_t>(-1), options.group);
  }
}

}  // namespace

FileResult lock_for_update(const WriteTarget& target, const LockOptions& options,
                           FileDescriptor& lock) {
  const std::string name = lock_name(target.name);
  for (int attempt = 0; attempt < kMaxReopens; ++attempt) {
    FileDescriptor fd = open_or_create(target, name, options);
    if (!fd.valid()) {
      return FileResult::failure(
          errno == ELOOP ? FileStatus::untrusted_lock : FileStatus::lock_failed,
          errno == ELOOP ? 0 : errno);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
      return FileResult::failure(FileStatus::lock_failed, errno);
    }
    if (FileResult trusted = check_trusted(target, status); !trusted.ok()) {
      return trusted;
    }
    if (!wait_for_lock(fd.get(), options.wait)) {
      return errno == EWOULDBLOCK ? FileResult::failure(FileStatus::lock_timeout)
                                  : FileResult::failure(FileStatus::lock_failed, errno);
    }
    if (still_in_place(target, name, fd.get())) {
      follow_list_access(fd.get(), status, options);
      lock = std::move(fd);
      return {};
    }
  }
  return FileResult::failure(FileStatus::lock_failed, EAGAIN);
}

}  // namespace orbitforge::util::detail
