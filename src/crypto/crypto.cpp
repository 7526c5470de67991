#include "crypto/crypto.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/file_descriptor.h"
#include "base/secret_bytes.h"
#include "base/wipe.h"
#include "crypto/aes.h"
#include "crypto/container.h"
#include "crypto/detail/container_format.h"
#include "crypto/sha256.h"
#include "fs/detail/file_io.h"
#include "fs/file_update.h"

namespace orbitforge::util {
namespace {

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

Key::~Key() { wipe(bytes_.data(), bytes_.size()); }

char Key::operator[](int i) const {
  if (bytes_.empty()) {
    return 0;
  }
  const auto n = static_cast<long long>(bytes_.size());
  const long long wrapped = ((i % n) + n) % n;  // negative indices wrap too
  return bytes_[static_cast<std::size_t>(wrapped)];
}

void detail::setup_aes_context(AES_ctx& ctx, const Key& key) {
  std::uint8_t aes_key[16];
  derive_aes_key(key, aes_key);
  AES_init_ctx_iv(&ctx, aes_key, initial_counter_block);
  wipe(aes_key, sizeof aes_key);
}

void detail::clear_aes_context(AES_ctx& ctx) { wipe(&ctx, sizeof ctx); }

void detail::container_key_material(const Key& key, unsigned char* aes_key,
                                    unsigned char* counter) {
  derive_aes_key(key, aes_key);
  std::memcpy(counter, initial_counter_block, sizeof initial_counter_block);
}

int decrypt_file(const char* path, std::vector<unsigned char>* out, const Key& key) {
  return opening_result(open_container(path, *out, key));
}

bool decrypt_file(const char* in_path, const char* out_path, const Key& key) {
  SecretBytes payload;
  OpenDetails details;
  return open_container(in_path, payload, key, details) == ContainerStatus::ok &&
         write_file(out_path, payload.data(), payload.size()).ok();
}

bool encrypt_file(const char* in_path, const char* out_path, const Key& key) {
  SecretBytes buffer;
  detail::start_container(buffer);
  if (!detail::load_file(in_path, buffer, detail::kMaxPlainBytes)) {
    return false;
  }
  detail::seal_container(buffer, key);
  // A container is a list: its writers take the list's lock, so that they
  // never undo a concurrent update.
  FileUpdate update;
  return update.begin(out_path).ok() && update.commit(buffer.data(), buffer.size()).ok();
}

// Streams the file through the digest piece by piece, to its end: memory
// stays small for any size, and files whose stated size is not their
// length (those of /proc say 0) are digested whole.
bool hash_file(const char* path, char* out, int size) {
  constexpr int kDigestBytes = 32;
  if (size != kDigestBytes) {
    return false;
  }
  const FileDescriptor fd(detail::open_for_reading(path));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return false;
  }
  sha256_ctx ctx;
  sha256_init(&ctx);
  std::vector<unsigned char> piece(std::size_t{1} << 17U);
  for (;;) {
    const ssize_t got =
        retry_on_interrupt([&] { return ::read(fd.get(), piece.data(), piece.size()); });
    if (got <= 0) {
      if (got < 0) {
        wipe(&ctx, sizeof ctx);
        return false;
      }
      break;
    }
    sha256_update(&ctx, piece.data(), static_cast<std::size_t>(got));
  }
  sha256_final(&ctx, reinterpret_cast<uint8_t*>(out));
  // The digest module leaves its state in the context; this caller clears it.
  wipe(&ctx, sizeof ctx);
  return true;
}

}  // namespace orbitforge::util
