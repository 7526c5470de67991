// Protected containers in detail: why an opening failed, and writing a
// container from bytes in memory, so that a plain list never has to touch
// the disk. decrypt_file and encrypt_file (crypto.h) are built on these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/secret_bytes.h"
#include "crypto/aes.h"
#include "crypto/crypto.h"
#include "fs/file_update.h"

namespace orbitforge::util {

enum class ContainerStatus {
  ok,
  cannot_open,       // missing, no permission, bad path
  not_regular_file,  // a directory, FIFO or device
  too_large,         // 4 GiB or more: outside the format
  read_failed,       // an I/O error or a short read
  too_short,         // fewer than 11 bytes, or the magic with no pad count
  wrong_key,         // the decrypted head is not the magic
  bad_pad_count,     // more padding declared than bytes after the header
};

// Opens the container at `path`; on ok `payload` holds exactly its payload,
// otherwise `payload` is untouched.
ContainerStatus open_container(const char* path, std::vector<unsigned char>& payload,
                               const Key& key);

// What an opening found beyond its status.
struct OpenDetails {
  // Framed as the writer frames it (whole 16-byte blocks, a zero pad): a
  // list cut short at an entry boundary opens as a shorter list, and only
  // this tells it apart. Set when the opening succeeds.
  bool intact = true;
  int error = 0;  // the system's error number when opening or reading failed
};

// The same into a buffer that is wiped when released, with the details.
ContainerStatus open_container(const char* path, SecretBytes& payload, const Key& key,
                               OpenDetails& details);

// Opens the file of a locked update (file_update.h) as a container; a file
// that does not exist gives cannot_open.
ContainerStatus open_container(const FileUpdate& update, SecretBytes& payload, const Key& key,
                               OpenDetails& details);

// The same for the file "<name><suffix>" beside the file of a locked update
// (FileUpdate::read_beside); one that does not exist gives cannot_open with
// the error ENOENT.
ContainerStatus open_container_beside(const FileUpdate& update, const char* suffix,
                                      SecretBytes& payload, const Key& key, OpenDetails& details);

// decrypt_file's result for a status: 1, -1, or -2 for the wrong key.
int opening_result(ContainerStatus status);

// A short English description, for messages.
const char* describe(ContainerStatus status);

// Writes `payload` as a container to `path`, crash-safe like encrypt_file
// and under the list's lock (file_update.h). False when the container would
// reach 4 GiB or when writing fails; the old file then stays as it was.
bool write_container(const char* path, const unsigned char* payload, std::size_t size,
                     const Key& key);

// The same, as the write of a locked update, with the reason of a failure.
FileResult write_container(FileUpdate& update, const unsigned char* payload, std::size_t size,
                           const Key& key);

// Room beyond a payload's own bytes (the header and the largest pad) that
// lets the next form seal the payload where it is.
inline constexpr std::size_t kContainerOverheadBytes = 12 + 16;

// The same for a payload handed over: with kContainerOverheadBytes of spare
// capacity it becomes the container in its own memory, without a second
// buffer of the list's size; otherwise it is copied.
FileResult write_container(FileUpdate& update, SecretBytes&& payload, const Key& key);

// Writes `payload` as a container to the file "<name><suffix>" beside the
// file of a locked update (FileUpdate::commit_beside), under the same lock.
FileResult write_container_beside(FileUpdate& update, const char* suffix, SecretBytes&& payload,
                                  const Key& key);

// Reads a container piece by piece instead of whole: open() checks the
// header and framing (the same statuses as open_container, except that a
// read error may also surface later, from read_payload), and payload bytes
// are decrypted on request, since counter mode can start anywhere.
class ContainerReader {
 public:
  ContainerReader();
  ContainerReader(const ContainerReader&) = delete;
  ContainerReader& operator=(const ContainerReader&) = delete;
  ~ContainerReader();

  // A file of at most kWholeReadBytes is read with one system call and
  // decrypted at once; read_payload then copies from memory.
  static constexpr std::uint64_t kWholeReadBytes = std::uint64_t{64} << 10U;

  // May be called again: the file opened before is closed first.
  ContainerStatus open(const char* path, const Key& key);
  // The file of a locked update as it is under the lock (file_update.h),
  // with the system's error number and the framing (intact: whole blocks,
  // a zero pad) in `details`; a missing file gives cannot_open.
  ContainerStatus open(const FileUpdate& update, const Key& key, OpenDetails& details);
  [[nodiscard]] std::uint64_t payload_size() const noexcept;
  // Decrypts payload bytes [offset, offset + size) into `out`; false on a
  // read error or a range past the payload. Several threads may read at
  // once.
  bool read_payload(std::uint64_t offset, unsigned char* out, std::size_t size);

  struct State;  // opaque: the descriptor, the cipher context, the decrypted file

 private:
  std::unique_ptr<State> state_;
};

// Writes a container piece by piece through the sink of a streamed commit
// (FileUpdate::commit_stream), so that neither the payload nor the
// container is ever whole in memory: payload bytes are appended in pieces
// of any size, encrypted as whole blocks, and finish() adds the pad and
// sets the pad count in the head, which only then is known.
class ContainerWriter {
 public:
  ContainerWriter(ContentSink& sink, const Key& key);
  ContainerWriter(const ContainerWriter&) = delete;
  ContainerWriter& operator=(const ContainerWriter&) = delete;
  ~ContainerWriter();

  // False once the sink failed (nothing more is written) or when the
  // payload would make a container of 4 GiB or more (too_large()).
  bool append(const unsigned char* payload, std::size_t size);
  bool finish();
  [[nodiscard]] bool too_large() const noexcept;
  [[nodiscard]] std::uint64_t payload_size() const noexcept;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace orbitforge::util
