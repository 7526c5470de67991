#include "fs/detail/write_target.h"

#include <fcntl.h>
#include <unistd.h>
#include <climits>

#include <cerrno>
#include <utility>

namespace orbitforge::util::detail {
namespace {

constexpr int kMaxLinks = 40;  // what the kernel allows in one path

struct PathParts {
  std::string directory;
  std::string name;
};

PathParts split_path(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return {std::string(1, '.'), path};
  }
  return {slash == 0 ? std::string(1, '/') : path.substr(0, slash), path.substr(slash + 1)};
}

bool trusted_owner(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

// One step along a link: the directory its text names and the name in it.
// The link itself is trusted, so the directories its text walks through
// are opened as the kernel resolves them.
FileResult step_through_link(int link, FileDescriptor& directory, std::string& name) {
  char text[PATH_MAX];
  const ssize_t length = ::readlinkat(link, "", text, sizeof text - 1);
  if (length <= 0) {
    return FileResult::failure(FileStatus::cannot_open_directory, length < 0 ? errno : ENOENT);
  }
  const std::string target(text, static_cast<std::size_t>(length));
  PathParts parts = split_path(target);
  name = std::move(parts.name);
  if (name.empty() || name == "." || name == "..") {
    return FileResult::failure(FileStatus::bad_path, EISDIR);
  }
  if (target.find('/') == std::string::npos) {
    return {};  // a name in the same directory
  }
  const int base = target[0] == '/' ? AT_FDCWD : directory.get();
  FileDescriptor next(::openat(base, parts.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!next.valid()) {
    return FileResult::failure(FileStatus::cannot_open_directory, errno);
  }
  directory = std::move(next);
  return {};
}

// Follows `name` in `directory` through trusted links until it names
// something that is not a link, or nothing.
FileResult follow_trusted_links(WriteTarget& target) {
  for (int links = 0;; ++links) {
    FileDescriptor entry(
        ::openat(target.directory.get(), target.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!entry.valid()) {
      if (errno == ENOENT) {
        target.exists = false;
        return {};
      }
      return FileResult::failure(FileStatus::cannot_open_directory, errno);
    }
    if (::fstat(entry.get(), &target.status) != 0) {
      return FileResult::failure(FileStatus::cannot_open_directory, errno);
    }
    if (!S_ISLNK(target.status.st_mode)) {
      target.exists = true;
      return {};
    }
    if (links == kMaxLinks) {
      return FileResult::failure(FileStatus::link_loop, ELOOP);
    }
    if (!trusted_owner(target.status.st_uid)) {
      FileResult refused = FileResult::failure(FileStatus::untrusted_link);
      refused.owner = target.status.st_uid;
      return refused;
    }
    target.through_link = true;
    if (FileResult stepped = step_through_link(entry.get(), target.directory, target.name);
        !stepped.ok()) {
      return stepped;
    }
  }
}

// Opens `path`'s directory, applying the link rule to its last component.
FileResult open_directory_of(const std::string& path, FileDescriptor& directory,
                             std::string& name) {
  PathParts parts = split_path(path);
  const std::string directory_path = std::move(parts.directory);
  name = std::move(parts.name);
  if (name.empty() || name == "." || name == "..") {
    return FileResult::failure(FileStatus::bad_path, EISDIR);
  }
  // The directory's own last component obeys the link rule too; the
  // components above it are the caller's choice.
  WriteTarget holder;
  PathParts holder_parts = split_path(directory_path);
  const std::string grand_parent = std::move(holder_parts.directory);
  holder.name = std::move(holder_parts.name);
  if (holder.name.empty() || holder.name == "." || holder.name == "..") {
    directory.reset(::open(directory_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return directory.valid() ? FileResult{}
                             : FileResult::failure(FileStatus::cannot_open_directory, errno);
  }
  holder.directory.reset(::open(grand_parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!holder.directory.valid()) {
    return FileResult::failure(FileStatus::cannot_open_directory, errno);
  }
  if (FileResult followed = follow_trusted_links(holder); !followed.ok()) {
    return followed;
  }
  directory.reset(::openat(holder.directory.get(), holder.name.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return directory.valid() ? FileResult{}
                           : FileResult::failure(FileStatus::cannot_open_directory, errno);
}

}  // namespace

std::string hidden_name_beside(const std::string& name, const char* suffix) {
  constexpr std::size_t kMaxBaseInName = 128;
  return "." + name.substr(0, kMaxBaseInName) + suffix;
}

FileResult resolve_write_target(const char* path, WriteTarget& target) {
  target = WriteTarget{};
  if (path == nullptr || *path == '\0') {
    return FileResult::failure(FileStatus::bad_path, ENOENT);
  }
  if (FileResult opened = open_directory_of(path, target.directory, target.name); !opened.ok()) {
    return opened;
  }
  if (FileResult followed = follow_trusted_links(target); !followed.ok()) {
    return followed;
  }
  if (target.exists && S_ISDIR(target.status.st_mode)) {
    return FileResult::failure(FileStatus::bad_path, EISDIR);
  }
  if (target.exists && !S_ISREG(target.status.st_mode) && target.through_link) {
    return FileResult::failure(FileStatus::special_through_link);
  }
  return {};
}

}  // namespace orbitforge::util::detail
