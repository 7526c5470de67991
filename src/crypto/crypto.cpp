#include "crypto/crypto.h"

#include <cstdint>
#include <cstring>

#include "crypto/aes.h"
#include "crypto/file_io.h"
#include "crypto/wipe.h"

namespace orbitforge::util {
namespace {

using detail::load_file;
using detail::save_file;

constexpr unsigned char magic[11] = {'O', 'r', 'b', 'i', 't', ' ', 'F', 'o', 'r', 'g', 'e'};
constexpr std::size_t kMagicBytes = sizeof magic;
constexpr std::size_t kHeaderBytes = kMagicBytes + 1;  // magic, then the pad count
constexpr std::size_t kPadPosition = kMagicBytes;
constexpr std::size_t kBlockBytes = 16;

// Fixed for all time: every list ever written depends on these bytes.
constexpr std::uint8_t key_mask[16] = {0x74, 0xbd, 0xa9, 0x60, 0x79, 0xe1, 0xc2, 0xee,
                                       0x72, 0x0b, 0x35, 0x93, 0xad, 0x60, 0x82, 0x9f};

constexpr std::uint8_t initial_counter_block[16] = {0x5a, 0x3e, 0x91, 0xc7, 0x08, 0xd2, 0x6b, 0x4f,
                                                    0xa1, 0xe3, 0x77, 0x19, 0xbc, 0x02, 0x8d, 0x64};

// The counter-mode byte count is 32 bits wide, so a container stays below 4 GiB.
constexpr std::uint64_t kMaxContainerBytes = (std::uint64_t{1} << 32) - 1;
// Largest plain file whose container (rounded up past the next block) still fits.
constexpr std::uint64_t kMaxPlainBytes = kMaxContainerBytes + 1 - kBlockBytes - kHeaderBytes - 1;

void setup_aes_context(AES_ctx& ctx, const Key& key) {
  std::uint8_t aes_key[16];
  std::memcpy(aes_key, key_mask, sizeof aes_key);
  if (key.size() > 0) {
    for (int i = 0; i < 16; ++i) {
      aes_key[i] ^= static_cast<std::uint8_t>(key[i]);
    }
  }
  AES_init_ctx_iv(&ctx, aes_key, initial_counter_block);
  wipe(aes_key, sizeof aes_key);
}

void clear_aes_context(AES_ctx& ctx) { wipe(&ctx, sizeof ctx); }

// Applies the container keystream to the whole buffer, from byte 0.
void transform(std::vector<unsigned char>& buffer, const Key& key) {
  AES_ctx ctx;
  setup_aes_context(ctx, key);
  AES_CTR_xcrypt_buffer(&ctx, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  clear_aes_context(ctx);
}

// A working buffer that is wiped on every way out, exceptions included,
// since it may hold decrypted bytes.
struct WorkingBuffer {
  std::vector<unsigned char> bytes;
  WorkingBuffer() = default;
  WorkingBuffer(const WorkingBuffer&) = delete;
  WorkingBuffer& operator=(const WorkingBuffer&) = delete;
  ~WorkingBuffer() { wipe(bytes.data(), bytes.size()); }
};

struct OpenedContainer {
  int result;                // 1, -1 or -2, as decrypt_file reports them
  std::size_t payload_size;  // payload starts at kHeaderBytes
};

// Loads and decrypts a container in place and checks its framing.
OpenedContainer open_container(const char* path, std::vector<unsigned char>& buffer,
                               const Key& key) {
  if (!load_file(path, buffer, kMaxContainerBytes) || buffer.size() < kMagicBytes) {
    return {-1, 0};
  }
  transform(buffer, key);
  if (std::memcmp(buffer.data(), magic, kMagicBytes) != 0) {
    return {-2, 0};
  }
  if (buffer.size() < kHeaderBytes) {
    return {-1, 0};
  }
  const std::size_t pad_count = buffer[kPadPosition];
  const std::size_t after_header = buffer.size() - kHeaderBytes;
  if (pad_count > after_header) {
    return {-1, 0};
  }
  return {1, after_header - pad_count};
}

// Turns "magic | pad count placeholder | payload" into a finished container.
void seal_container(std::vector<unsigned char>& buffer, const Key& key) {
  const std::size_t pad_count = kBlockBytes - buffer.size() % kBlockBytes;
  buffer.resize(buffer.size() + pad_count, 0);
  buffer[kPadPosition] = static_cast<unsigned char>(pad_count);
  transform(buffer, key);
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

int decrypt_file(const char* path, std::vector<unsigned char>* out, const Key& key) {
  WorkingBuffer buffer;
  const OpenedContainer opened = open_container(path, buffer.bytes, key);
  if (opened.result == 1) {
    const auto payload = buffer.bytes.begin() + static_cast<std::ptrdiff_t>(kHeaderBytes);
    out->assign(payload, payload + static_cast<std::ptrdiff_t>(opened.payload_size));
  }
  return opened.result;
}

bool decrypt_file(const char* in_path, const char* out_path, const Key& key) {
  WorkingBuffer buffer;
  const OpenedContainer opened = open_container(in_path, buffer.bytes, key);
  if (opened.result != 1) {
    return false;
  }
  const unsigned char* payload = buffer.bytes.data() + kHeaderBytes;
  return save_file(out_path, payload, payload + opened.payload_size);
}

bool encrypt_file(const char* in_path, const char* out_path, const Key& key) {
  WorkingBuffer buffer;
  buffer.bytes.assign(magic, magic + kMagicBytes);
  buffer.bytes.push_back(0);  // pad count, set once the payload is in
  if (!load_file(in_path, buffer.bytes, kMaxPlainBytes)) {
    return false;
  }
  seal_container(buffer.bytes, key);
  return save_file(out_path, buffer.bytes);
}

}  // namespace orbitforge::util
