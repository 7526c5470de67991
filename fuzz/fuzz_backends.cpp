// The AES and SHA-256 fast paths against the portable code on arbitrary
// keys, counters, lengths and piece sizes: every fast AES implementation in
// the table (AES-NI, VAES on 256 and 512 bits), its key expansion included.
// Where the processor lacks the instructions there is nothing to compare,
// and the target says so once.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/detail/aes_impl.h"
#include "crypto/detail/sha256_impl.h"

namespace {

using orbitforge::util::detail::AesBackend;

void same(const void* a, const void* b, size_t n, const char* what) {
  if (std::memcmp(a, b, n) != 0) {
    std::fprintf(stderr, "fast and portable differ: %s\n", what);
    std::abort();
  }
}

void compare_aes(const AesBackend& fast, const AesBackend& slow, const uint8_t* key,
                 const uint8_t* iv, unsigned mode, const uint8_t* pieces, size_t piece_count,
                 std::vector<uint8_t> data) {
  AES_ctx a;
  AES_ctx b;
  fast.key_expansion(a.round_keys, key);
  slow.key_expansion(b.round_keys, key);
  same(a.round_keys, b.round_keys, sizeof a.round_keys, "key expansion");
  AES_ctx_set_iv(&a, iv);
  AES_ctx_set_iv(&b, iv);
  std::vector<uint8_t> fast_data = data;
  if (mode == 1) {  // ECB, one block at a time
    for (size_t at = 0; at + 16 <= data.size(); at += 16) {
      fast.ecb_encrypt(&a, fast_data.data() + at);
      slow.ecb_encrypt(&b, data.data() + at);
      same(fast_data.data() + at, data.data() + at, 16, "ECB encryption");
      fast.ecb_decrypt(&a, fast_data.data() + at);
      slow.ecb_decrypt(&b, data.data() + at);
      same(fast_data.data() + at, data.data() + at, 16, "ECB decryption");
    }
    return;
  }
  size_t at = 0;
  for (size_t p = 0; at < data.size(); ++p) {
    size_t n = piece_count == 0 ? data.size() : pieces[p % piece_count];
    n = std::min(std::max<size_t>(n, 1), data.size() - at);  // always some progress
    if (mode >= 2) {
      n -= n % 16;  // CBC works on whole blocks
      if (n == 0) {
        n = std::min<size_t>(16, (data.size() - at) / 16 * 16);
        if (n == 0) {
          break;
        }
      }
    }
    const auto length = static_cast<uint32_t>(n);
    if (mode == 0) {
      fast.ctr_xcrypt(&a, fast_data.data() + at, length);
      slow.ctr_xcrypt(&b, data.data() + at, length);
    } else if (mode == 2) {
      fast.cbc_encrypt(&a, fast_data.data() + at, length);
      slow.cbc_encrypt(&b, data.data() + at, length);
    } else {
      fast.cbc_decrypt(&a, fast_data.data() + at, length);
      slow.cbc_decrypt(&b, data.data() + at, length);
    }
    same(fast_data.data(), data.data(), data.size(), "buffer");
    same(a.iv, b.iv, 16, "counter or chaining value");
    at += n;
  }
}

}  // namespace

// Input: key (16), counter or IV (16), mode, piece count and sizes, data.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using orbitforge::util::detail::AesBackendEntry;
  using orbitforge::util::detail::kAesBackendCount;
  static AesBackendEntry aes[kAesBackendCount];
  const auto* fast_sha = orbitforge::util::detail::sha256_ni_backend();
  static const bool reported = [&] {
    orbitforge::util::detail::aes_backends(aes);
    for (const AesBackendEntry& entry : aes) {
      if (entry.backend == nullptr) {
        std::fprintf(stderr, "this processor cannot run AES %s: nothing to compare there\n",
                     entry.name);
      }
    }
    if (fast_sha == nullptr) {
      std::fprintf(stderr, "this processor lacks the SHA extensions: nothing to compare there\n");
    }
    return true;
  }();
  (void)reported;
  if (size < 34) {
    return 0;
  }
  const uint8_t* key = data;
  const uint8_t* iv = data + 16;
  const unsigned mode = data[32] % 5;
  const size_t piece_count = std::min<size_t>(data[33] % 8, size - 34);
  const uint8_t* pieces = data + 34;
  const uint8_t* body = pieces + piece_count;
  const size_t body_size = size - 34 - piece_count;
  if (mode == 4) {
    if (fast_sha == nullptr) {
      return 0;
    }
    uint32_t a[8];
    std::memcpy(a, key, sizeof a);  // any chaining state, not only the initial one
    uint32_t b[8];
    std::memcpy(b, a, sizeof a);
    fast_sha->compress(a, body, body_size / 64);
    orbitforge::util::detail::sha256_portable_backend().compress(b, body, body_size / 64);
    same(a, b, sizeof a, "SHA-256 compression");
    return 0;
  }
  const AesBackend& portable = *aes[0].backend;
  for (std::size_t i = 1; i < kAesBackendCount; ++i) {
    if (aes[i].backend != nullptr) {
      compare_aes(*aes[i].backend, portable, key, iv, mode, pieces, piece_count,
                  std::vector<uint8_t>(body, body + body_size));
    }
  }
  return 0;
}
