#include "fs/detail/update_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "fs/detail/lock_holder.h"

namespace orbitforge::util::detail {
namespace {

constexpr int kMaxReopens = 16;

std::string lock_name(const std::string& name) { return hidden_name_beside(name, ".lock"); }

// Opened for writing, so that the lock's mode decides who can hold it. A
// FIFO planted at the name must not block the open.
constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

FileDescriptor open_or_create(const WriteTarget& target, const std::string& name,
                              const LockOptions& options) {
  FileDescriptor fd(::openat(target.directory.get(), name.c_str(), kOpenFlags | O_CREAT | O_EXCL,
                             lock_mode_for(options.mode)));
  if (fd.valid() || errno != EEXIST) {
    return fd;
  }
  return FileDescriptor(::openat(target.directory.get(), name.c_str(), kOpenFlags));
}

FileResult refuse_lock(const std::string& name, uid_t owner, const std::string& why) {
  FileResult refused = FileResult::failure(FileStatus::untrusted_lock);
  refused.owner = owner;
  refused.detail = why + "; remove '" + name + "' beside it once no writer runs";
  return refused;
}

// Why the lock at `name` could not be opened: a planted link, FIFO or
// directory is named with its owner.
FileResult open_failure(const WriteTarget& target, const std::string& name, int error) {
  struct stat planted {};
  if (::fstatat(target.directory.get(), name.c_str(), &planted, AT_SYMLINK_NOFOLLOW) == 0 &&
      !S_ISREG(planted.st_mode)) {
    return refuse_lock(
        name, planted.st_uid,
        S_ISLNK(planted.st_mode) ? "it is a symbolic link" : "it is not a regular file");
  }
  return FileResult::failure(FileStatus::lock_failed, error);
}

enum class Verdict { trusted, take_back, refused };

Verdict judge(const WriteTarget& target, const struct stat& lock, const std::string& name,
              FileResult& refusal) {
  const bool sticky = (target.directory_status.st_mode & S_ISVTX) != 0;
  const bool owner_trusted = lock.st_uid == 0 || lock.st_uid == ::geteuid() ||
                             lock.st_uid == target.directory_status.st_uid;
  if (!S_ISREG(lock.st_mode)) {
    refusal = refuse_lock(name, lock.st_uid, "it is not a regular file");
    return Verdict::refused;
  }
  if (sticky && !owner_trusted) {
    refusal = refuse_lock(name, lock.st_uid, "another user could remove or replace it");
    return Verdict::refused;
  }
  return lock.st_nlink == 1 ? Verdict::trusted : Verdict::take_back;
}

// "held by pid 1234 (flock, uid 0), ..." for the lock `lock`, or empty.
std::string holders_of(const struct stat& lock) {
  std::string text;
  for (const LockHolder& holder : lock_holders(lock)) {
    text += (text.empty() ? "held by " : ", ") + describe(holder);
  }
  return text;
}

// Polls with a growing pause: flock(2) has no timeout of its own. Tells
// options.on_wait once when the wait outlasts options.notice_after.
bool wait_for_lock(int fd, const struct stat& lock, const LockOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + options.wait;
  auto pause = std::chrono::milliseconds(1);
  bool told = !options.on_wait;
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
    if (!told && now - start >= options.notice_after) {
      told = true;
      options.on_wait(holders_of(lock));
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(25));
  }
}

FileResult wait_failure(const struct stat& lock) {
  if (errno != EWOULDBLOCK) {
    return FileResult::failure(FileStatus::lock_failed, errno);
  }
  FileResult result = FileResult::failure(FileStatus::lock_timeout);
  result.detail = holders_of(lock);
  return result;
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

// Whoever may update the list, and nobody else, must be able to open its
// lock: root gives it the list's owner, group and mode; its owner its
// group and mode. Done before locking, so that a lock left open to readers
// by an older writer is closed to them from now on.
void follow_list_access(int fd, const struct stat& lock, const LockOptions& options) {
  const uid_t writer = ::geteuid();
  if (writer != 0 && lock.st_uid != writer) {
    return;
  }
  const uid_t owner = writer == 0 ? options.owner : static_cast<uid_t>(-1);
  if ((owner != static_cast<uid_t>(-1) && lock.st_uid != owner) ||
      (options.group != static_cast<gid_t>(-1) && lock.st_gid != options.group)) {
    (void)::fchown(fd, owner, options.group);
  }
  const mode_t wanted = lock_mode_for(options.mode);
  if ((lock.st_mode & 07777) != wanted) {
    (void)::fchmod(fd, wanted);
  }
}

// A lock with another name somewhere (a hard link another user made) is
// replaced: locked first, so that no writer holds it meanwhile, then a
// fresh lock is renamed over its name. Writers that wait on the old one
// find it gone from the name and open the new one.
FileResult take_back(const WriteTarget& target, const std::string& name, int old_lock,
                     const struct stat& old_status, const LockOptions& options) {
  if (!wait_for_lock(old_lock, old_status, options)) {
    return wait_failure(old_status);
  }
  const std::string fresh_name =
      hidden_name_beside(target.name, ".lock.new-") + std::to_string(::getpid());
  FileDescriptor fresh(::openat(target.directory.get(), fresh_name.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                lock_mode_for(options.mode)));
  struct stat fresh_status {};
  if (!fresh.valid() || ::fstat(fresh.get(), &fresh_status) != 0) {
    return FileResult::failure(FileStatus::lock_failed, errno);
  }
  follow_list_access(fresh.get(), fresh_status, options);
  if (::renameat(target.directory.get(), fresh_name.c_str(), target.directory.get(),
                 name.c_str()) != 0) {
    const int error = errno;
    ::unlinkat(target.directory.get(), fresh_name.c_str(), 0);
    return refuse_lock(name, old_status.st_uid,
                       std::string("it has other names (hard links) and cannot be replaced: ") +
                           std::strerror(error));
  }
  return {};
}

}  // namespace

mode_t lock_mode_for(mode_t list_mode) {
  return static_cast<mode_t>(S_IRUSR | S_IWUSR |
                             ((list_mode & S_IWGRP) != 0 ? S_IRGRP | S_IWGRP : 0U) |
                             ((list_mode & S_IWOTH) != 0 ? S_IROTH | S_IWOTH : 0U));
}

FileResult lock_for_update(const WriteTarget& target, const LockOptions& options,
                           FileDescriptor& lock) {
  const std::string name = lock_name(target.name);
  for (int attempt = 0; attempt < kMaxReopens; ++attempt) {
    FileDescriptor fd = open_or_create(target, name, options);
    if (!fd.valid()) {
      return open_failure(target, name, errno);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
      return FileResult::failure(FileStatus::lock_failed, errno);
    }
    FileResult refusal;
    switch (judge(target, status, name, refusal)) {
      case Verdict::refused:
        return refusal;
      case Verdict::take_back:
        if (FileResult taken = take_back(target, name, fd.get(), status, options); !taken.ok()) {
          return taken;
        }
        continue;
      case Verdict::trusted:
        break;
    }
    follow_list_access(fd.get(), status, options);
    if (!wait_for_lock(fd.get(), status, options)) {
      return wait_failure(status);
    }
    if (still_in_place(target, name, fd.get())) {
      lock = std::move(fd);
      return {};
    }
  }
  return FileResult::failure(FileStatus::lock_failed, EAGAIN);
}

}  // namespace orbitforge::util::detail
