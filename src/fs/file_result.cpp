#include "fs/file_result.h"

#include <cstring>

namespace orbitforge::util {
namespace {

const char* what_failed(FileStatus status) {
  switch (status) {
    case FileStatus::ok:
      return "ok";
    case FileStatus::bad_path:
      return "not a path to a file";
    case FileStatus::cannot_open_directory:
      return "cannot open the directory that holds it";
    case FileStatus::untrusted_link:
      return "refusing to follow a symbolic link owned by another user";
    case FileStatus::link_loop:
      return "too many levels of symbolic links";
    case FileStatus::special_through_link:
      return "refusing to write a FIFO, device or socket through a symbolic link";
    case FileStatus::cannot_open_special:
      return "cannot open the FIFO, device or socket for writing";
    case FileStatus::cannot_read:
      return "cannot read the current file";
    case FileStatus::lock_failed:
      return "cannot open the lock file";
    case FileStatus::untrusted_lock:
      return "refusing a lock file that another user could remove or replace";
    case FileStatus::lock_timeout:
      return "another writer holds the lock; gave up waiting";
    case FileStatus::target_changed:
      return "it was replaced by a symbolic link during the update";
    case FileStatus::cannot_create:
      return "cannot create the temporary file";
    case FileStatus::write_failed:
      return "cannot write";
    case FileStatus::rename_failed:
      return "cannot put the new file in place";
    case FileStatus::too_large:
      return "too large for a protected list (4 GiB or more)";
    case FileStatus::not_durable:
      return "the new file is in place, but its directory could not be synced";
    case FileStatus::untrusted_file:
      return "refusing to replace a file owned by another user";
    case FileStatus::untrusted_special:
      return "refusing to write a FIFO, device or socket owned by another user";
    case FileStatus::cannot_keep_owner:
      return "it belongs to another user";
    case FileStatus::untrusted_directory:
      return "refusing a path through a directory that another user can change";
    case FileStatus::reader_stalled:
      return "its reader stopped taking data; gave up waiting";
    case FileStatus::cannot_open_file:
      return "cannot open the current file";
  }
  return "unknown failure";
}

}  // namespace

std::string describe(const FileResult& result) {
  std::string text = what_failed(result.status);
  if (result.owner != kOwnerUnknown) {
    text += " (uid " + std::to_string(result.owner) + ")";
  }
  if (!result.detail.empty()) {
    text += ": " + result.detail;
  }
  if (result.error != 0) {
    text += ": ";
    text += std::strerror(result.error);
  }
  return text;
}

}  // namespace orbitforge::util
