#include "crypto/crypto.h"

#include "crypto/container.h"
#include "crypto/container_format.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "crypto/aes.h"
#include "crypto/file_io.h"
#include "crypto/file_update.h"
#include "crypto/secret_bytes.h"
#include "crypto/wipe.h"

namespace orbitforge::util {
namespace {

using detail::load_file;
using detail::save_file;

// Fixed for all time: every list ever written depends on these bytes.
constexpr std::uint8_t key_mask[16] = {0x74, 0xbd, 0xa9, 0x60, 0x79, 0xe1, 0xc2, 0xee,
                                       0x72, 0x0b, 0x35, 0x93, 0xad, 0x60, 0x82, 0x9f};

constexpr std::uint8_t initial_counter_block[16] = {0x5a, 0x3e, 0x91, 0xc7, 0x08, 0xd2, 0x6b, 0x4f,
                                                    0xa1, 0xe3, 0x77, 0x19, 0xbc, 0x02, 0x8d, 0x64};

void derive_aes_key(const Key& key, std::uint8_t* aes_key) {
  std::memcpy(aes_key, key_mask, sizeof key_mask);
  if (key.size() > 0) {
    for (int i = 0; i < 16; ++i) {
      aes_key[i] ^= static_cast<std::uint8_t>(key[i]);
    }
  }
}

}  // namespace

void detail::setup_aes_context(AES_ctx& ctx, const Key& key) {
  std::uint8_t aes_key[16];
  derive_aes_key(key, aes_key);
  AES_init_ctx_iv(&ctx, aes_key, initial_counter_block);
  wipe(aes_key, sizeof aes_key);
}

void detail::clear_aes_context(AES_ctx& ctx) { wipe(&ctx, sizeof ctx); }

namespace {

using detail::clear_aes_context;
using detail::kBlockBytes;
using detail::kHeaderBytes;
using detail::kMagicBytes;
using detail::kMaxContainerBytes;
using detail::kMaxPlainBytes;
using detail::kPadPosition;
using detail::magic;
using detail::setup_aes_context;

// Applies the container keystream to the whole buffer, from byte 0.
void transform(SecretBytes& buffer, const Key& key) {
  AES_ctx ctx;
  setup_aes_context(ctx, key);
  AES_CTR_xcrypt_buffer(&ctx, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  clear_aes_context(ctx);
}

// A working buffer that is wiped on every way out, exceptions included,
// since it may hold decrypted bytes.
struct WorkingBuffer {
  SecretBytes bytes;
};

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

// Decrypts a loaded container in place and checks its framing; on ok the
// payload is bytes [kHeaderBytes, kHeaderBytes + payload_size).
ContainerStatus open_loaded(SecretBytes& buffer, const Key& key, std::size_t& payload_size) {
  if (buffer.size() < kMagicBytes) {
    return ContainerStatus::too_short;
  }
  transform(buffer, key);
  if (std::memcmp(buffer.data(), magic, kMagicBytes) != 0) {
    return ContainerStatus::wrong_key;
  }
  if (buffer.size() < kHeaderBytes) {
    return ContainerStatus::too_short;
  }
  const std::size_t pad_count = buffer[kPadPosition];
  const std::size_t after_header = buffer.size() - kHeaderBytes;
  if (pad_count > after_header) {
    return ContainerStatus::bad_pad_count;
  }
  payload_size = after_header - pad_count;
  return ContainerStatus::ok;
}

ContainerStatus open_in_place(const char* path, SecretBytes& buffer, const Key& key,
                              std::size_t& payload_size, int* error = nullptr) {
  const detail::LoadResult loaded = detail::read_whole_file(path, buffer, kMaxContainerBytes);
  if (error != nullptr) {
    *error = loaded.error;
  }
  return loaded.ok() ? open_loaded(buffer, key, payload_size) : status_of(loaded.status);
}

// Hands out the payload of an opened buffer.
ContainerStatus take_payload(const WorkingBuffer& buffer, ContainerStatus status,
                             std::size_t payload_size, std::vector<unsigned char>& payload) {
  if (status == ContainerStatus::ok) {
    const auto first = buffer.bytes.begin() + static_cast<std::ptrdiff_t>(kHeaderBytes);
    payload.assign(first, first + static_cast<std::ptrdiff_t>(payload_size));
  }
  return status;
}

// The working buffer itself becomes the payload: no second buffer of the
// list's size to fill, only the header moved out of the way.
ContainerStatus take_payload(WorkingBuffer& buffer, ContainerStatus status,
                             std::size_t payload_size, SecretBytes& payload, OpenDetails& details) {
  if (status == ContainerStatus::ok) {
    details.intact = framing_intact(buffer.bytes, payload_size);
    payload = std::move(buffer.bytes);
    payload.erase(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(kHeaderBytes));
    payload.resize(payload_size);
  }
  return status;
}

// Starts a working buffer with the header; the pad count is set when sealing.
void start_container(SecretBytes& buffer) {
  buffer.assign(magic, magic + kMagicBytes);
  buffer.push_back(0);
}

// The header, then the payload; memcpy, since a vector with its own
// allocator would copy byte by byte.
void fill_container(SecretBytes& buffer, const unsigned char* payload, std::size_t size) {
  buffer.reserve(kHeaderBytes + size + kBlockBytes);
  start_container(buffer);
  buffer.resize(kHeaderBytes + size);
  if (size != 0) {
    std::memcpy(buffer.data() + kHeaderBytes, payload, size);
  }
}

// Pads, sets the pad count and encrypts: the one container sealer.
void seal(SecretBytes& buffer, const Key& key) {
  const std::size_t pad_count = kBlockBytes - buffer.size() % kBlockBytes;
  buffer.resize(buffer.size() + pad_count, 0);
  buffer[kPadPosition] = static_cast<unsigned char>(pad_count);
  transform(buffer, key);
}

// A container is a list: its writers take the list's lock, so that they
// never undo a concurrent update.
bool save_locked(const char* path, const SecretBytes& sealed) {
  FileUpdate update;
  return update.begin(path).ok() && update.commit(sealed.data(), sealed.size()).ok();
}

}  // namespace

Key::~Key() { wipe(bytes_.data(), bytes_.size()); }

char Key::operator[](int i) const {
  if (bytes_.empty()) {
    return 0;
  }
  const auto n = static_cast<long long>(bytes_.size());
  const long long wrapped = ((i % n) + n) % n;  // negative indices wrap too
  return bytes_[static_cast<std::size_t>(wrapped)];
}

ContainerStatus open_container(const char* path, std::vector<unsigned char>& payload,
                               const Key& key) {
  WorkingBuffer buffer;
  std::size_t payload_size = 0;
  const ContainerStatus status = open_in_place(path, buffer.bytes, key, payload_size);
  return take_payload(buffer, status, payload_size, payload);
}

ContainerStatus open_container(const char* path, SecretBytes& payload, const Key& key,
                               OpenDetails& details) {
  WorkingBuffer buffer;
  std::size_t payload_size = 0;
  details = OpenDetails{};
  const ContainerStatus status =
      open_in_place(path, buffer.bytes, key, payload_size, &details.error);
  return take_payload(buffer, status, payload_size, payload, details);
}

ContainerStatus open_container(const FileUpdate& update, SecretBytes& payload, const Key& key,
                               OpenDetails& details) {
  WorkingBuffer buffer;
  details = OpenDetails{};
  const FileResult read = update.read(buffer.bytes, kMaxContainerBytes);
  if (!read.ok()) {
    details.error = read.error;
    return read.status == FileStatus::too_large ? ContainerStatus::too_large
           : read.error == ENOENT               ? ContainerStatus::cannot_open
                                                : ContainerStatus::read_failed;
  }
  std::size_t payload_size = 0;
  const ContainerStatus status = open_loaded(buffer.bytes, key, payload_size);
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
  WorkingBuffer buffer;
  fill_container(buffer.bytes, payload, size);
  seal(buffer.bytes, key);
  return update.commit(buffer.bytes.data(), buffer.bytes.size());
}

FileResult write_container(FileUpdate& update, SecretBytes&& payload, const Key& key) {
  static_assert(kContainerOverheadBytes == kHeaderBytes + kBlockBytes);
  if (payload.capacity() < payload.size() + kContainerOverheadBytes) {
    return write_container(update, payload.data(), payload.size(), key);
  }
  if (payload.size() > kMaxPlainBytes) {
    return FileResult::failure(FileStatus::too_large);
  }
  WorkingBuffer buffer;
  buffer.bytes = std::move(payload);
  buffer.bytes.insert(buffer.bytes.begin(), kHeaderBytes, 0);  // within capacity: a memmove
  std::memcpy(buffer.bytes.data(), magic, kMagicBytes);
  seal(buffer.bytes, key);
  return update.commit(buffer.bytes.data(), buffer.bytes.size());
}

int decrypt_file(const char* path, std::vector<unsigned char>* out, const Key& key) {
  return opening_result(open_container(path, *out, key));
}

bool decrypt_file(const char* in_path, const char* out_path, const Key& key) {
  WorkingBuffer buffer;
  std::size_t payload_size = 0;
  if (open_in_place(in_path, buffer.bytes, key, payload_size) != ContainerStatus::ok) {
    return false;
  }
  const unsigned char* payload = buffer.bytes.data() + kHeaderBytes;
  return save_file(out_path, payload, payload + payload_size);
}

bool encrypt_file(const char* in_path, const char* out_path, const Key& key) {
  WorkingBuffer buffer;
  start_container(buffer.bytes);
  if (!load_file(in_path, buffer.bytes, kMaxPlainBytes)) {
    return false;
  }
  seal(buffer.bytes, key);
  return save_locked(out_path, buffer.bytes);
}

namespace detail {

void container_key_material(const Key& key, unsigned char* aes_key, unsigned char* counter) {
  derive_aes_key(key, aes_key);
  std::memcpy(counter, initial_counter_block, sizeof initial_counter_block);
}

}  // namespace detail

}  // namespace orbitforge::util
