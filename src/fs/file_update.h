// Safe writing of lists and other files: every write is crash-safe (the
// old file or the new one, whole), cannot be redirected by other users
// (links, swapped directories, planted files: see write_target.h), and
// never waits on a FIFO without limit; every write holds the file's lock
// from before it reads the file until after its new content is durable,
// so that concurrent writers never lose each other's changes, and removes
// the temporaries of writers that were killed. Readers take no lock: a
// rename shows them the old or the new file, whole.
//
// The lock: flock(2) on ".<name>.lock" beside the file (update_lock.h).
// Writers create it when missing and never remove it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/file_descriptor.h"
#include "base/secret_bytes.h"
#include "fs/file_result.h"

namespace orbitforge::util {

struct WriteOptions {
  mode_t new_file_mode = 0600;  // a file that does not exist yet; an existing one keeps its mode
  bool apply_umask = false;     // new_file_mode less the process's umask
  // An update gives an existing file new_file_mode too (and the files beside
  // it and its lock follow), when asked for a mode explicitly.
  bool mode_for_existing = false;
};

// Writes `size` bytes to `path` crash-safely, under the file's lock for the
// moment of the write (waiting up to 10 s for another writer), which also
// removes the temporaries of writers that were killed.
FileResult write_file(const char* path, const unsigned char* data, std::size_t size,
                      const WriteOptions& options = {});

// Removes the temporary file of a write in progress, if any: for the
// handler of a signal that ends the process (SIGTERM, SIGINT, SIGHUP),
// which then lets the signal take its course. Async-signal-safe.
void remove_unfinished_temporary() noexcept;

// Creates the directory `path` (mode less the umask) with the same rules
// as a write: no link or directory that another user controls on the way
// can redirect it. An existing directory is fine; `created` says whether
// this call made it.
FileResult make_directory(const char* path, mode_t mode, bool& created);

struct UpdateOptions {
  std::chrono::milliseconds wait{10000};  // for the lock held by another writer
  WriteOptions write;
  // Called once when another writer still holds the lock after
  // `notice_after`, with who holds it ("held by pid 1234 (flock, uid 0)",
  // or empty when the system does not tell), so that a waiting writer can
  // say why it waits.
  std::function<void(const std::string& holders)> on_wait;
  std::chrono::milliseconds notice_after{1000};
};

// Where FileUpdate::commit_stream puts the new content: appended in order,
// and bytes already appended written again where a format knows them only
// at the end. The first failure is kept; every call after it does nothing
// and gives false.
class ContentSink {
 public:
  ContentSink() = default;
  ContentSink(const ContentSink&) = delete;
  ContentSink& operator=(const ContentSink&) = delete;
  virtual ~ContentSink() = default;
  virtual bool append(const unsigned char* data, std::size_t size) = 0;
  virtual bool rewrite(std::uint64_t offset, const unsigned char* data, std::size_t size) = 0;
  // The first failure, or ok.
  [[nodiscard]] virtual FileResult failure() const = 0;
};

// Writes the new content through the sink; false keeps the old file.
using ContentProducer = std::function<bool(ContentSink&)>;

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
  // Reads the first `size` bytes (fewer when the file is shorter) into
  // `out`, `got` of them: enough to tell a list under another key before
  // reading gigabytes.
  FileResult read_head(unsigned char* out, std::size_t size, std::size_t& got) const;
  // Replaces the file, still under the lock; the lock is kept until the
  // update ends, so further commits are serialised too.
  FileResult commit(const unsigned char* data, std::size_t size);
  // The same with content written piece by piece, for files too large to
  // hold in memory twice: `produce` writes it through the sink and says
  // whether it is to replace the file. When it says no, the file stays as
  // it was and the result is ok (even after a failure of the sink, which
  // then does not matter). Regular or missing files only: a FIFO or device
  // gives cannot_open_special.
  FileResult commit_stream(const ContentProducer& produce);
  // Opens the file as it is under the lock for reading, never through a
  // link; cannot_open_file when it does not exist.
  FileResult open_current(FileDescriptor& fd) const;

  // The file "<name><suffix>" beside this one, read and replaced under this
  // update's lock, so that the two change only together. It is never
  // reached through a link; it is written with the owner, group and mode
  // this file has (when it exists). Reading one that does not exist gives ok and leaves `exists`
  // false. A FIFO or device has nothing beside it: reading finds nothing,
  // and a commit writes nothing.
  FileResult read_beside(const char* suffix, SecretBytes& data, std::uint64_t max_length,
                         bool& exists) const;
  FileResult commit_beside(const char* suffix, const unsigned char* data, std::size_t size);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace orbitforge::util
