// Runs one AES or SHA-256 implementation on secret bytes that memcheck
// sees as undefined, so that valgrind reports every branch and every
// memory index that depends on the key or the data. The implementations
// that claim constant time must run clean; the portable table AES, which
// looks its S-box up by secret bytes, must not (the proof that the check
// sees a leak).
//   constant_time aes|sha NAME     exit 77 when this processor lacks NAME
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "crypto/detail/aes_impl.h"
#include "crypto/detail/sha256_impl.h"

namespace {

namespace detail = orbitforge::util::detail;

constexpr int kUnavailable = 77;

void mark_secret(void* data, std::size_t size) { (void)VALGRIND_MAKE_MEM_UNDEFINED(data, size); }

// Fixed, unremarkable bytes: memcheck cares whether they are defined, not
// what they are.
std::vector<unsigned char> bytes(std::size_t size, unsigned seed) {
  std::vector<unsigned char> out(size);
  for (std::size_t i = 0; i < size; ++i) {
    out[i] = static_cast<unsigned char>(seed + 31 * i);
  }
  return out;
}

// A fresh context from a secret key, with a public counter or chain value.
AES_ctx secret_context(const detail::AesBackend& aes) {
  std::vector<unsigned char> key = bytes(16, 7);
  mark_secret(key.data(), key.size());
  AES_ctx ctx{};
  aes.key_expansion(ctx.round_keys, key.data());
  const std::vector<unsigned char> iv = bytes(16, 99);
  std::memcpy(ctx.iv, iv.data(), iv.size());
  return ctx;
}

int run_aes(const std::string& name) {
  detail::AesBackendEntry entries[detail::kAesBackendCount];
  detail::aes_backends(entries);
  const detail::AesBackend* aes = nullptr;
  for (const auto& entry : entries) {
    if (name == entry.name) {
      aes = entry.backend;
    }
  }
  if (aes == nullptr) {
    std::printf("this processor (or valgrind's model of it) lacks AES implementation %s\n",
                name.c_str());
    return kUnavailable;
  }
  // Long enough for every backend's widest step and a partial block.
  std::vector<unsigned char> data = bytes(16 * 67 + 5, 3);
  mark_secret(data.data(), data.size());
  AES_ctx ctx = secret_context(*aes);
  aes->ctr_xcrypt(&ctx, data.data(), static_cast<uint32_t>(data.size()));
  ctx = secret_context(*aes);
  aes->ecb_encrypt(&ctx, data.data());
  aes->ecb_decrypt(&ctx, data.data());
  ctx = secret_context(*aes);
  aes->cbc_encrypt(&ctx, data.data(), 16 * 67);
  ctx = secret_context(*aes);
  aes->cbc_decrypt(&ctx, data.data(), 16 * 67);
  std::printf("AES %s ran on secret key and data\n", name.c_str());
  return 0;
}

int run_sha(const std::string& name) {
  const detail::Sha256Backend* sha =
      name == "portable" ? &detail::sha256_portable_backend() : detail::sha256_ni_backend();
  if (sha == nullptr) {
    std::printf("this processor (or valgrind's model of it) lacks SHA-256 implementation %s\n",
                name.c_str());
    return kUnavailable;
  }
  std::vector<unsigned char> data = bytes(64 * 5, 11);
  mark_secret(data.data(), data.size());
  uint32_t hash[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  sha->compress(hash, data.data(), 5);
  std::printf("SHA-256 %s ran on secret data\n", name.c_str());
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fputs("usage: constant_time aes|sha NAME\n", stderr);
    return 2;
  }
  if (RUNNING_ON_VALGRIND == 0) {
    std::puts("not under valgrind: nothing would be seen");
    return kUnavailable;
  }
  const std::string kind = argv[1];
  return kind == "aes" ? run_aes(argv[2]) : run_sha(argv[2]);
}
