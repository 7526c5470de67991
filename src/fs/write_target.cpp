#include "fs/detail/write_target.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <utility>

namespace orbitforge::util::detail {
namespace {

constexpr int kMaxLinks = 40;  // what the kernel allows in one path

bool trusted_owner(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

FileResult refusal(FileStatus status, uid_t owner) {
  FileResult refused = FileResult::failure(status);
  refused.owner = owner;
  return refused;
}

// The components of `text`, without empty ones and ".".
void push_components(const std::string& text, std::deque<std::string>& pending) {
  std::deque<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t slash = std::min(text.find('/', start), text.size());
    std::string part = text.substr(start, slash - start);
    if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    start = slash + 1;
  }
  pending.insert(pending.begin(), parts.begin(), parts.end());
}

// The state of the walk: the directory reached so far and what is left.
struct Walk {
  FileDescriptor directory;
  struct stat directory_status {};
  std::deque<std::string> pending;  // the last one is the file's name
  int links = 0;
  bool through_link = false;
};

FileResult open_start(Walk& walk, bool absolute) {
  walk.directory.reset(::open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!walk.directory.valid() || ::fstat(walk.directory.get(), &walk.directory_status) != 0) {
    return FileResult::failure(FileStatus::cannot_open_directory, errno);
  }
  return {};
}

// A link at `name` owned by root or the writer: its text takes the name's
// place in what is left to walk.
FileResult take_link(Walk& walk, int entry, const struct stat& status) {
  if (++walk.links > kMaxLinks) {
    return FileResult::failure(FileStatus::link_loop, ELOOP);
  }
  if (!trusted_owner(status.st_uid)) {
    return refusal(FileStatus::untrusted_link, status.st_uid);
  }
  char text[PATH_MAX];
  const ssize_t length = ::readlinkat(entry, "", text, sizeof text - 1);
  if (length <= 0) {
    return FileResult::failure(FileStatus::cannot_open_directory, length < 0 ? errno : ENOENT);
  }
  const std::string target(text, static_cast<std::size_t>(length));
  walk.through_link = true;
  push_components(target, walk.pending);
  return target[0] == '/' ? open_start(walk, true) : FileResult{};
}

// Steps into the directory `name` of the walk's directory.
FileResult enter_directory(Walk& walk, const std::string& name) {
  FileDescriptor next(::openat(walk.directory.get(), name.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat status {};
  if (!next.valid() || ::fstat(next.get(), &status) != 0) {
    return FileResult::failure(FileStatus::cannot_open_directory, errno);
  }
  // Root's own directory where another user could swap it for another of
  // root's: the write could land in the wrong one.
  if (name != ".." && trusted_owner(status.st_uid) && others_may_change(walk.directory_status) &&
      ((walk.directory_status.st_mode & S_ISVTX) == 0 ||
       !trusted_owner(walk.directory_status.st_uid))) {
    FileResult refused = refusal(
        FileStatus::untrusted_directory,
        trusted_owner(walk.directory_status.st_uid) ? kOwnerUnknown : walk.directory_status.st_uid);
    refused.detail = "it could put another directory at '" + name + "'";
    return refused;
  }
  walk.directory = std::move(next);
  walk.directory_status = status;
  return {};
}

// One directory component: a directory is entered, a trusted link expanded.
FileResult walk_component(Walk& walk, const std::string& name) {
  if (name == "..") {
    return enter_directory(walk, name);
  }
  FileDescriptor entry(
      ::openat(walk.directory.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat status {};
  if (!entry.valid() || ::fstat(entry.get(), &status) != 0) {
    return FileResult::failure(FileStatus::cannot_open_directory, errno);
  }
  if (S_ISLNK(status.st_mode)) {
    return take_link(walk, entry.get(), status);
  }
  if (!S_ISDIR(status.st_mode)) {
    return FileResult::failure(FileStatus::cannot_open_directory, ENOTDIR);
  }
  return enter_directory(walk, name);
}

// The last component: what the name holds, a trusted link expanded.
FileResult walk_name(Walk& walk, const std::string& name, WriteTarget& target) {
  if (name == "..") {
    return FileResult::failure(FileStatus::bad_path, EISDIR);
  }
  FileDescriptor entry(
      ::openat(walk.directory.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!entry.valid()) {
    if (errno != ENOENT) {
      return FileResult::failure(FileStatus::cannot_open_directory, errno);
    }
    target.exists = false;
    target.name = name;
    return {};
  }
  if (::fstat(entry.get(), &target.status) != 0) {
    return FileResult::failure(FileStatus::cannot_open_directory, errno);
  }
  if (S_ISLNK(target.status.st_mode)) {
    return take_link(walk, entry.get(), target.status);
  }
  target.exists = true;
  target.name = name;
  return {};
}

}  // namespace

bool others_may_change(const struct stat& directory) {
  return !trusted_owner(directory.st_uid) || (directory.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

FileResult check_replaceable(const WriteTarget& target, const struct stat& status) {
  if (S_ISDIR(status.st_mode)) {
    return FileResult::failure(FileStatus::bad_path, EISDIR);
  }
  if (!S_ISREG(status.st_mode)) {
    if (target.through_link) {
      return FileResult::failure(FileStatus::special_through_link);
    }
    return trusted_owner(status.st_uid) ? FileResult{}
                                        : refusal(FileStatus::untrusted_special, status.st_uid);
  }
  if (status.st_uid == ::geteuid()) {
    return {};
  }
  if (::geteuid() != 0) {
    // Only root can give the new file to the old one's owner.
    FileResult refused = refusal(FileStatus::cannot_keep_owner, status.st_uid);
    refused.detail = "a rewrite by uid " + std::to_string(::geteuid()) +
                     " would make it theirs; only root or its owner may update it";
    return refused;
  }
  if (status.st_uid != 0 && others_may_change(target.directory_status)) {
    FileResult refused = refusal(FileStatus::untrusted_file, status.st_uid);
    refused.detail = "others can write its directory";
    return refused;
  }
  return {};
}

std::string hidden_name_beside(const std::string& name, const char* suffix) {
  constexpr std::size_t kMaxBaseInName = 128;
  return "." + name.substr(0, kMaxBaseInName) + suffix;
}

FileResult resolve_write_target(const char* path, WriteTarget& target) {
  target = WriteTarget{};
  if (path == nullptr || *path == '\0') {
    return FileResult::failure(FileStatus::bad_path, ENOENT);
  }
  const std::string text = path;
  const std::string last = text.substr(text.find_last_of('/') + 1);
  if (last.empty() || last == "." || last == "..") {
    return FileResult::failure(FileStatus::bad_path, EISDIR);
  }
  Walk walk;
  if (FileResult started = open_start(walk, text[0] == '/'); !started.ok()) {
    return started;
  }
  push_components(text, walk.pending);
  while (!walk.pending.empty()) {
    const std::string name = std::move(walk.pending.front());
    walk.pending.pop_front();
    FileResult stepped =
        walk.pending.empty() ? walk_name(walk, name, target) : walk_component(walk, name);
    if (!stepped.ok()) {
      return stepped;
    }
  }
  if (target.name.empty()) {
    return FileResult::failure(FileStatus::bad_path, EISDIR);  // a link to "/"
  }
  target.directory = std::move(walk.directory);
  target.directory_status = walk.directory_status;
  target.through_link = walk.through_link;
  if (target.exists) {
    return check_replaceable(target, target.status);
  }
  return {};
}

}  // namespace orbitforge::util::detail
