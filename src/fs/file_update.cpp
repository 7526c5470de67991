#include "fs/file_update.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "fs/detail/file_io.h"
#include "fs/detail/file_replace.h"
#include "fs/detail/update_lock.h"
#include "fs/detail/write_target.h"

namespace orbitforge::util {

using detail::WriteTarget;

struct FileUpdate::State {
  WriteTarget target;
  FileDescriptor lock;
  UpdateOptions options;
};

FileResult write_file(const char* path, const unsigned char* data, std::size_t size,
                      const WriteOptions& options) {
  // Under the file's lock, like a list: concurrent writers of one output
  // are serialised, and the temporaries of killed ones are removed.
  FileUpdate update;
  UpdateOptions settings;
  settings.write = options;
  if (FileResult begun = update.begin(path, settings); !begun.ok()) {
    return begun;
  }
  return update.commit(data, size);
}

void remove_unfinished_temporary() noexcept { detail::remove_unfinished_temporary(); }

FileResult make_directory(const char* path, mode_t mode, bool& created) {
  created = false;
  WriteTarget target;
  const FileResult resolved = detail::resolve_write_target(path, target);
  if (!resolved.ok()) {
    const bool is_directory =
        resolved.status == FileStatus::bad_path && target.exists && S_ISDIR(target.status.st_mode);
    return is_directory ? FileResult{} : resolved;
  }
  if (target.exists) {
    return FileResult::failure(FileStatus::bad_path, EEXIST);  // a file, not a directory
  }
  if (::mkdirat(target.directory.get(), target.name.c_str(), mode) != 0) {
    return errno == EEXIST ? FileResult{} : FileResult::failure(FileStatus::cannot_create, errno);
  }
  created = true;
  return {};
}

namespace {

// The mode asked for, in place of the existing file's: what the rewrite,
// the files beside it and the lock then take from it.
void give_wanted_mode(WriteTarget& target, const WriteOptions& options) {
  if (target.exists && options.mode_for_existing) {
    target.status.st_mode = static_cast<mode_t>((target.status.st_mode & ~mode_t{07777}) |
                                                (options.new_file_mode & 07777));
  }
}

}  // namespace

FileUpdate::FileUpdate() : state_(std::make_unique<State>()) {}
FileUpdate::~FileUpdate() = default;

FileResult FileUpdate::begin(const char* path, const UpdateOptions& options) {
  state_ = std::make_unique<State>();
  state_->options = options;
  WriteTarget& target = state_->target;
  if (FileResult resolved = detail::resolve_write_target(path, target); !resolved.ok()) {
    return resolved;
  }
  if (target.exists && !S_ISREG(target.status.st_mode)) {
    return {};  // a device or FIFO named directly: written in place, nothing to lock beside it
  }
  give_wanted_mode(target, options.write);
  detail::LockOptions lock_options;
  lock_options.wait = options.wait;
  lock_options.on_wait = options.on_wait;
  lock_options.notice_after = options.notice_after;
  lock_options.mode = target.exists ? target.status.st_mode : options.write.new_file_mode;
  lock_options.group = target.exists ? target.status.st_gid : static_cast<gid_t>(-1);
  lock_options.owner = target.exists ? target.status.st_uid : static_cast<uid_t>(-1);
  if (FileResult locked = detail::lock_for_update(target, lock_options, state_->lock);
      !locked.ok()) {
    return locked;
  }
  // Another writer may have created, replaced or removed the file while
  // this one waited: what counts is the file as it is under the lock.
  struct stat now {};
  if (::fstatat(target.directory.get(), target.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) {
      return FileResult::failure(FileStatus::cannot_read, errno);
    }
    target.exists = false;
    return {};
  }
  if (!S_ISREG(now.st_mode)) {
    return FileResult::failure(FileStatus::target_changed);
  }
  if (FileResult replaceable = detail::check_replaceable(target, now); !replaceable.ok()) {
    return replaceable;
  }
  target.exists = true;
  target.status = now;
  give_wanted_mode(target, options.write);
  return {};
}

bool FileUpdate::exists() const { return state_->target.exists; }

namespace {

// The file of the update as it is under the lock, never through a link.
FileResult open_target(const WriteTarget& target, FileDescriptor& fd) {
  if (!target.exists) {
    return FileResult::failure(FileStatus::cannot_open_file, ENOENT);
  }
  fd.reset(::openat(target.directory.get(), target.name.c_str(),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) {
    return FileResult::failure(
        errno == ELOOP ? FileStatus::target_changed : FileStatus::cannot_open_file,
        errno == ELOOP ? 0 : errno);
  }
  return {};
}

}  // namespace

FileResult FileUpdate::read_head(unsigned char* out, std::size_t size, std::size_t& got) const {
  got = 0;
  FileDescriptor fd;
  if (FileResult opened = open_target(state_->target, fd); !opened.ok()) {
    return opened;
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return FileResult::failure(FileStatus::target_changed);
  }
  got = static_cast<std::size_t>(
      std::min<std::uint64_t>(size, static_cast<std::uint64_t>(status.st_size)));
  if (!detail::read_at(fd.get(), out, got, 0)) {
    got = 0;
    return FileResult::failure(FileStatus::cannot_read, errno);
  }
  return {};
}

FileResult FileUpdate::read(SecretBytes& data, std::uint64_t max_length) const {
  const WriteTarget& target = state_->target;
  if (!target.exists) {
    return FileResult::failure(FileStatus::cannot_read, ENOENT);
  }
  FileDescriptor fd;
  if (FileResult opened = open_target(target, fd); !opened.ok()) {
    return opened;
  }
  const detail::LoadResult loaded = detail::read_whole_fd(fd.get(), data, max_length);
  switch (loaded.status) {
    case detail::LoadStatus::ok:
      return {};
    case detail::LoadStatus::too_large:
      return FileResult::failure(FileStatus::too_large);
    case detail::LoadStatus::not_regular_file:
      return FileResult::failure(FileStatus::target_changed);
    case detail::LoadStatus::cannot_open:
    case detail::LoadStatus::read_failed:
      break;
  }
  return FileResult::failure(FileStatus::cannot_read, loaded.error);
}

namespace {

// A FIFO or device named directly has no files beside it: nothing is
// created next to it in /dev or wherever it lives.
bool special(const WriteTarget& target) { return target.exists && !S_ISREG(target.status.st_mode); }

// The file beside `target` named "<name><suffix>", in the same directory.
FileResult beside(const WriteTarget& target, const char* suffix, WriteTarget& other) {
  other = WriteTarget{};
  other.directory = FileDescriptor(::fcntl(target.directory.get(), F_DUPFD_CLOEXEC, 0));
  if (!other.directory.valid()) {
    return FileResult::failure(FileStatus::cannot_open_directory, errno);
  }
  other.name = target.name + suffix;
  if (::fstatat(other.directory.get(), other.name.c_str(), &other.status, AT_SYMLINK_NOFOLLOW) !=
      0) {
    return errno == ENOENT ? FileResult{} : FileResult::failure(FileStatus::cannot_read, errno);
  }
  if (!S_ISREG(other.status.st_mode)) {
    return FileResult::failure(FileStatus::target_changed);
  }
  other.exists = true;
  return {};
}

}  // namespace

FileResult FileUpdate::read_beside(const char* suffix, SecretBytes& data, std::uint64_t max_length,
                                   bool& exists) const {
  exists = false;
  WriteTarget other;
  if (special(state_->target)) {
    return {};
  }
  if (FileResult found = beside(state_->target, suffix, other); !found.ok() || !other.exists) {
    return found;
  }
  FileDescriptor fd(::openat(other.directory.get(), other.name.c_str(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) {
    return FileResult::failure(FileStatus::cannot_read, errno);
  }
  const detail::LoadResult loaded = detail::read_whole_fd(fd.get(), data, max_length);
  if (loaded.status == detail::LoadStatus::too_large) {
    return FileResult::failure(FileStatus::too_large);
  }
  if (loaded.status != detail::LoadStatus::ok) {
    return FileResult::failure(FileStatus::cannot_read, loaded.error);
  }
  exists = true;
  return {};
}

FileResult FileUpdate::commit_beside(const char* suffix, const unsigned char* data,
                                     std::size_t size) {
  const State& state = *state_;
  if (special(state.target)) {
    return {};
  }
  WriteTarget other;
  if (FileResult found = beside(state.target, suffix, other); !found.ok()) {
    return found;
  }
  if (state.target.exists) {
    // Whoever may read or write the file may read or write what lies beside
    // it: owner, group and mode follow the file's, as they are now.
    other.exists = true;
    other.status = state.target.status;
  }
  return detail::replace_file(
      other, data, size,
      {state.options.write.new_file_mode, state.options.write.apply_umask, state.lock.valid()});
}

FileResult FileUpdate::commit(const unsigned char* data, std::size_t size) {
  State& state = *state_;
  const bool locked = state.lock.valid();
  FileResult result = detail::replace_file(
      state.target, data, size,
      {state.options.write.new_file_mode, state.options.write.apply_umask, locked});
  if (result.ok() && !state.target.exists) {
    // Later commits of this update replace the file just made.
    state.target.exists = ::fstatat(state.target.directory.get(), state.target.name.c_str(),
                                    &state.target.status, AT_SYMLINK_NOFOLLOW) == 0;
  }
  return result;
}

namespace {

// Appends to the temporary of a streamed commit. Writeback of what is
// written is started as it goes, so that the final fsync waits for the
// last stretch only, not for the whole file.
class DescriptorSink final : public ContentSink {
 public:
  explicit DescriptorSink(int fd) : fd_(fd) {}

  bool append(const unsigned char* data, std::size_t size) override {
    if (!failure_.ok()) {
      return false;
    }
    if (!detail::write_all(fd_, data, size)) {
      failure_ = FileResult::failure(FileStatus::write_failed, errno);
      return false;
    }
    written_ += size;
    if (written_ - flushed_ >= kWritebackBytes) {
      (void)::sync_file_range(fd_, static_cast<off_t>(flushed_),
                              static_cast<off_t>(written_ - flushed_), SYNC_FILE_RANGE_WRITE);
      flushed_ = written_;
    }
    return true;
  }

  bool rewrite(std::uint64_t offset, const unsigned char* data, std::size_t size) override {
    if (!failure_.ok()) {
      return false;
    }
    if (offset > written_ || size > written_ - offset) {
      failure_ = FileResult::failure(FileStatus::write_failed, EINVAL);
      return false;
    }
    if (!detail::write_all_at(fd_, data, size, offset)) {
      failure_ = FileResult::failure(FileStatus::write_failed, errno);
      return false;
    }
    return true;
  }

  [[nodiscard]] FileResult failure() const override { return failure_; }

 private:
  static constexpr std::uint64_t kWritebackBytes = std::uint64_t{8} << 20U;
  int fd_;
  std::uint64_t written_ = 0;
  std::uint64_t flushed_ = 0;
  FileResult failure_;
};

}  // namespace

FileResult FileUpdate::commit_stream(const ContentProducer& produce) {
  State& state = *state_;
  FileResult result = detail::replace_file_with(
      state.target,
      [&](int fd, bool& replace) {
        DescriptorSink sink(fd);
        replace = produce(sink);
        return replace ? sink.failure() : FileResult{};
      },
      {state.options.write.new_file_mode, state.options.write.apply_umask, state.lock.valid()});
  if (result.ok() && !state.target.exists) {
    state.target.exists = ::fstatat(state.target.directory.get(), state.target.name.c_str(),
                                    &state.target.status, AT_SYMLINK_NOFOLLOW) == 0;
  }
  return result;
}

FileResult FileUpdate::open_current(FileDescriptor& fd) const {
  return open_target(state_->target, fd);
}

}  // namespace orbitforge::util
