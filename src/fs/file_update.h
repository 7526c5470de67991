// Safe writing of lists and other files: every write is crash-safe (the
// old file or the new one, whole), trusts no symbolic link that another
// user planted, and never waits on a FIFO; an update of a list also holds
// the list's lock from before it reads the list until after its new
// content is durable, so that concurrent writers never lose each other's
// changes. Readers take no lock: a rename shows them the old or the new
// file, whole.
//
// Links: a symbolic link at the file, or at the directory that holds it,
// is followed only when it is owned by root or by the writer; a FIFO,
// device or socket reached through a link is refused, and one named
// directly is opened without waiting and written in place.
//
// The lock: flock(2) on ".<name>.lock" beside the file that is replaced.
// Writers create it when missing and never remove it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "base/secret_bytes.h"
#include "fs/file_result.h"

namespace orbitforge::util {

struct WriteOptions {
  mode_t new_file_mode = 0600;  // a file that does not exist yet; an existing one keeps its mode
  bool apply_umask = false;     // new_file_mode less the process's umask
};

// Writes `size` bytes to `path` crash-safely, without the lock.
FileResult write_file(const char* path, const unsigned char* data, std::size_t size,
                      const WriteOptions& options = {});

struct UpdateOptions {
  std::chrono::milliseconds wait{10000};  // for the lock held by another writer
  WriteOptions write;
};

// One locked read-change-write of a file.
class FileUpdate {
 public:
  FileUpdate();
  FileUpdate(const FileUpdate&) = delete;
  FileUpdate& operator=(const FileUpdate&) = delete;
  ~FileUpdate();  // releases the lock

  // Finds the file and takes its lock, waiting up to options.wait.
  FileResult begin(const char* path, const UpdateOptions& options = {});
  // Whether the file existed once the lock was held.
  [[nodiscard]] bool exists() const;
  // Reads the current content whole, appending it to `data`.
  FileResult read(SecretBytes& data, std::uint64_t max_length) const;
  // Replaces the file, still under the lock; the lock is kept until the
  // update ends, so further commits are serialised too.
  FileResult commit(const unsigned char* data, std::size_t size);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace orbitforge::util
