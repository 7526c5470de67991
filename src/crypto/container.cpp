// The container format's one home: the head's rules, sealing, and the
// whole-file opening and writing built on them.
#include "crypto/container.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/file_descriptor.h"
#include "base/secret_bytes.h"
#include "crypto/aes.h"
#include "crypto/detail/container_format.h"
#include "fs/detail/file_io.h"
#include "fs/file_update.h"

namespace orbitforge::util {

ContainerStatus detail::parse_container_head(const unsigned char* head, std::uint64_t file_size,
                                             std::uint64_t& payload_size) {
  if (file_size < kMagicBytes) {
    return ContainerStatus::too_short;
  }
  if (std::memcmp(head, magic, kMagicBytes) != 0) {
    return ContainerStatus::wrong_key;
  }
  if (file_size < kHeaderBytes) {
    return ContainerStatus::too_short;
  }
  const std::uint64_t pad_count = head[kPadPosition];
  const std::uint64_t after_header = file_size - kHeaderBytes;
  if (pad_count > after_header) {
    return ContainerStatus::bad_pad_count;
  }
  payload_size = after_header - pad_count;
  return ContainerStatus::ok;
}

void detail::start_container(SecretBytes& buffer) {
  buffer.assign(magic, magic + kMagicBytes);
  buffer.push_back(0);
}

void detail::seal_container(SecretBytes& buffer, const Key& key) {
  const std::size_t pad_count = kBlockBytes - buffer.size() % kBlockBytes;
  buffer.resize(buffer.size() + pad_count, 0);
  buffer[kPadPosition] = static_cast<unsigned char>(pad_count);
  AES_ctx ctx;
  setup_aes_context(ctx, key);
  AES_CTR_xcrypt_buffer(&ctx, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  clear_aes_context(ctx);
}

namespace {

using detail::kBlockBytes;
using detail::kHeaderBytes;
using detail::kMagicBytes;
using detail::kMaxContainerBytes;
using detail::kMaxPlainBytes;
using detail::magic;

ContainerStatus status_of(detail::LoadStatus loaded) {
  switch (loaded) {
    case detail::LoadStatus::ok:
      return ContainerStatus::ok;
    case detail::LoadStatus::cannot_open:
      return ContainerStatus::cannot_open;
    case detail::LoadStatus::not_regular_file:
      return ContainerStatus::not_regular_file;
    case detail::LoadStatus::too_large:
      return ContainerStatus::too_large;
    case detail::LoadStatus::read_failed:
      break;
  }
  return ContainerStatus::read_failed;
}

// What only the writer guarantees: whole blocks and a zero pad. A list cut
// short at an entry boundary still opens, and this tells it apart.
bool framing_intact(const SecretBytes& buffer, std::size_t payload_size) {
  if (buffer.size() % kBlockBytes != 0) {
    return false;
  }
  const auto pad = buffer.begin() + static_cast<std::ptrdiff_t>(kHeaderBytes + payload_size);
  return std::all_of(pad, buffer.end(), [](unsigned char c) { return c == 0; });
}

// Decrypts a loaded container in place and checks its head; on ok the
// payload is bytes [kHeaderBytes, kHeaderBytes + payload_size).
ContainerStatus open_loaded(SecretBytes& buffer, const Key& key, std::size_t& payload_size) {
  AES_ctx ctx;
  detail::setup_aes_context(ctx, key);
  AES_CTR_xcrypt_buffer(&ctx, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  detail::clear_aes_context(ctx);
  std::uint64_t size = 0;
  const ContainerStatus status = detail::parse_container_head(buffer.data(), buffer.size(), size);
  payload_size = static_cast<std::size_t>(size);
  return status;
}

// Whether the first bytes of a container (up to a block) decrypt to the
// magic: a file under another key is told from them, before the rest of a
// file of gigabytes is read.
bool head_opens(const unsigned char* head, std::size_t size, const Key& key) {
  if (size < kMagicBytes) {
    return true;  // too short: the whole opening says so
  }
  SecretBytes block(head, head + std::min(size, kBlockBytes));
  AES_ctx ctx;
  detail::setup_aes_context(ctx, key);
  AES_CTR_xcrypt_buffer(&ctx, block.data(), static_cast<std::uint32_t>(block.size()));
  detail::clear_aes_context(ctx);
  return std::memcmp(block.data(), magic, kMagicBytes) == 0;
}

ContainerStatus open_in_place(const char* path, SecretBytes& buffer, const Key& key,
                              std::size_t& payload_size, int* error = nullptr) {
  int ignored = 0;
  int& error_number = error != nullptr ? *error : ignored;
  const FileDescriptor fd(detail::open_for_reading(path));
  if (!fd.valid()) {
    error_number = errno;
    return ContainerStatus::cannot_open;
  }
  std::uint64_t length = 0;
  if (const detail::LoadStatus sized =
          detail::regular_file_length(fd.get(), kMaxContainerBytes, length);
      sized != detail::LoadStatus::ok) {
    return status_of(sized);
  }
  unsigned char head[kBlockBytes];
  const auto head_size = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBlockBytes));
  if (!detail::read_at(fd.get(), head, head_size, 0)) {
    error_number = errno;
    return ContainerStatus::read_failed;
  }
  if (!head_opens(head, head_size, key)) {
    return ContainerStatus::wrong_key;
  }
  const detail::LoadResult loaded = detail::read_whole_fd(fd.get(), buffer, kMaxContainerBytes);
  error_number = loaded.error;
  return loaded.ok() ? open_loaded(buffer, key, payload_size) : status_of(loaded.status);
}

// Hands out the payload of an opened buffer.
ContainerStatus take_payload(const SecretBytes& buffer, ContainerStatus status,
                             std::size_t payload_size, std::vector<unsigned char>& payload) {
  if (status == ContainerStatus::ok) {
    const auto first = buffer.begin() + static_cast<std::ptrdiff_t>(kHeaderBytes);
    payload.assign(first, first + static_cast<std::ptrdiff_t>(payload_size));
  }
  return status;
}

// The working buffer itself becomes the payload: no second buffer of the
// list's size to fill, only the header moved out of the way.
ContainerStatus take_payload(SecretBytes& buffer, ContainerStatus status, std::size_t payload_size,
                             SecretBytes& payload, OpenDetails& details) {
  if (status == ContainerStatus::ok) {
    details.intact = framing_intact(buffer, payload_size);
    payload = std::move(buffer);
    payload.erase(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(kHeaderBytes));
    payload.resize(payload_size);
  }
  return status;
}

// The header, then the payload; memcpy, since a vector with its own
// allocator would copy byte by byte.
void fill_container(SecretBytes& buffer, const unsigned char* payload, std::size_t size) {
  buffer.reserve(kHeaderBytes + size + kBlockBytes);
  detail::start_container(buffer);
  buffer.resize(kHeaderBytes + size);
  if (size != 0) {
    std::memcpy(buffer.data() + kHeaderBytes, payload, size);
  }
}

}  // namespace

ContainerStatus open_container(const char* path, std::vector<unsigned char>& payload,
                               const Key& key) {
  SecretBytes buffer;
  std::size_t payload_size = 0;
  const ContainerStatus status = open_in_place(path, buffer, key, payload_size);
  return take_payload(buffer, status, payload_size, payload);
}

ContainerStatus open_container(const char* path, SecretBytes& payload, const Key& key,
                               OpenDetails& details) {
  SecretBytes buffer;
  std::size_t payload_size = 0;
  details = OpenDetails{};
  const ContainerStatus status = open_in_place(path, buffer, key, payload_size, &details.error);
  return take_payload(buffer, status, payload_size, payload, details);
}

ContainerStatus open_container(const FileUpdate& update, SecretBytes& payload, const Key& key,
                               OpenDetails& details) {
  SecretBytes buffer;
  details = OpenDetails{};
  unsigned char head[kBlockBytes];
  std::size_t head_size = 0;
  FileResult read = update.read_head(head, sizeof head, head_size);
  if (read.ok() && !head_opens(head, head_size, key)) {
    return ContainerStatus::wrong_key;
  }
  if (read.ok()) {
    read = update.read(buffer, kMaxContainerBytes);
  }
  if (!read.ok()) {
    details.error = read.error;
    return read.status == FileStatus::too_large          ? ContainerStatus::too_large
           : read.status == FileStatus::cannot_open_file ? ContainerStatus::cannot_open
                                                         : ContainerStatus::read_failed;
  }
  std::size_t payload_size = 0;
  const ContainerStatus status = open_loaded(buffer, key, payload_size);
  return take_payload(buffer, status, payload_size, payload, details);
}

ContainerStatus open_container_beside(const FileUpdate& update, const char* suffix,
                                      SecretBytes& payload, const Key& key, OpenDetails& details) {
  SecretBytes buffer;
  details = OpenDetails{};
  bool exists = false;
  const FileResult read = update.read_beside(suffix, buffer, kMaxContainerBytes, exists);
  if (!read.ok() || !exists) {
    details.error = read.ok() ? ENOENT : read.error;
    return read.status == FileStatus::too_large ? ContainerStatus::too_large
           : !read.ok()                         ? ContainerStatus::read_failed
                                                : ContainerStatus::cannot_open;
  }
  std::size_t payload_size = 0;
  const ContainerStatus status = open_loaded(buffer, key, payload_size);
  return take_payload(buffer, status, payload_size, payload, details);
}

int opening_result(ContainerStatus status) {
  switch (status) {
    case ContainerStatus::ok:
      return 1;
    case ContainerStatus::wrong_key:
      return -2;
    default:
      return -1;
  }
}

const char* describe(ContainerStatus status) {
  switch (status) {
    case ContainerStatus::ok:
      return "ok";
    case ContainerStatus::cannot_open:
      return "cannot be opened for reading";
    case ContainerStatus::not_regular_file:
      return "not a regular file";
    case ContainerStatus::too_large:
      return "4 GiB or larger, outside the container format";
    case ContainerStatus::read_failed:
      return "could not be read whole";
    case ContainerStatus::too_short:
      return "too short to hold a container header";
    case ContainerStatus::wrong_key:
      return "wrong key: written under the other key version, or not a protected list";
    case ContainerStatus::bad_pad_count:
      return "damaged: the pad count exceeds the bytes after the header";
  }
  return "unknown";
}

bool write_container(const char* path, const unsigned char* payload, std::size_t size,
                     const Key& key) {
  if (size > kMaxPlainBytes) {
    return false;
  }
  FileUpdate update;
  return update.begin(path).ok() && write_container(update, payload, size, key).ok();
}

FileResult write_container(FileUpdate& update, const unsigned char* payload, std::size_t size,
                           const Key& key) {
  if (size > kMaxPlainBytes) {
    return FileResult::failure(FileStatus::too_large);
  }
  SecretBytes buffer;
  fill_container(buffer, payload, size);
  detail::seal_container(buffer, key);
  return update.commit(buffer.data(), buffer.size());
}

FileResult write_container_beside(FileUpdate& update, const char* suffix, SecretBytes&& payload,
                                  const Key& key) {
  if (payload.size() > kMaxPlainBytes) {
    return FileResult::failure(FileStatus::too_large);
  }
  SecretBytes buffer;
  fill_container(buffer, payload.data(), payload.size());
  SecretBytes().swap(payload);  // one plaintext copy at a time
  detail::seal_container(buffer, key);
  return update.commit_beside(suffix, buffer.data(), buffer.size());
}

FileResult write_container(FileUpdate& update, SecretBytes&& payload, const Key& key) {
  static_assert(kContainerOverheadBytes == kHeaderBytes + kBlockBytes);
  if (payload.capacity() < payload.size() + kContainerOverheadBytes) {
    return write_container(update, payload.data(), payload.size(), key);
  }
  if (payload.size() > kMaxPlainBytes) {
    return FileResult::failure(FileStatus::too_large);
  }
  SecretBytes buffer = std::move(payload);
  buffer.insert(buffer.begin(), kHeaderBytes, 0);  // within capacity: a memmove
  std::memcpy(buffer.data(), magic, kMagicBytes);
  detail::seal_container(buffer, key);
  return update.commit(buffer.data(), buffer.size());
}

}  // namespace orbitforge::util
