// Why writing or locking a file failed, as a value that carries the
// system's error number, so that every message can say why.
#pragma once

#include <string>

namespace orbitforge::util {

enum class FileStatus {
  ok,
  bad_path,               // empty, or names a directory
  cannot_open_directory,  // the directory that holds the file
  untrusted_link,         // a symbolic link owned by another user
  link_loop,              // too many symbolic links
  special_through_link,   // a link to a FIFO, device or socket
  cannot_open_special,    // a FIFO, device or socket named directly
  cannot_read,            // the current file, during an update
  lock_failed,            // the lock file cannot be created or opened
  untrusted_lock,         // the lock file is not one the writer can trust
  lock_timeout,           // another writer held the lock for the whole wait
  target_changed,         // no longer a regular file once locked or opened: replaced by a
                          // symbolic link, directory, FIFO, device or socket meanwhile
  cannot_create,          // the temporary file
  write_failed,           // write, flush or close
  rename_failed,
  not_durable,          // the new file is in place, but syncing its directory failed, so
                        // a crash may still bring the old one back
  too_large,            // beyond what the container format holds
  untrusted_file,       // another user's file where others can write: planted, maybe
  untrusted_special,    // another user's FIFO, device or socket at the name
  cannot_keep_owner,    // another user's file that this writer cannot give back to them
  untrusted_directory,  // a directory of the path that other users can swap
  reader_stalled,       // a FIFO or device named directly stopped taking data
  cannot_open_file,     // the current file, during an update: it cannot be opened
};

inline constexpr unsigned kOwnerUnknown = ~0U;

struct FileResult {
  FileStatus status = FileStatus::ok;
  int error = 0;                   // errno of the failed call, or 0
  unsigned owner = kOwnerUnknown;  // for the refusals of other users' things: whose it is
  std::string detail;              // more to say: the lock's name, who holds it

  [[nodiscard]] bool ok() const noexcept { return status == FileStatus::ok; }
  static FileResult failure(FileStatus status, int error = 0) noexcept {
    FileResult result;
    result.status = status;
    result.error = error;
    return result;
  }
};

// "cannot create the temporary file: No space left on device", and so on.
std::string describe(const FileResult& result);

}  // namespace orbitforge::util
