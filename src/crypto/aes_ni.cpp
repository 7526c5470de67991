// AES-128 with the x86 AES instructions. Only the functions that use the
// instructions carry the target attribute, and they are reached only after
// the CPUID check in cpu_features(), so the file needs no special flags.
#include <cstring>

#include "crypto/aes_impl.h"
#include "crypto/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define ADRVET_TARGET_AES __attribute__((target("aes,ssse3,sse4.1")))

namespace {

constexpr std::size_t kBlockBytes = 16;
constexpr int kRounds = 10;
constexpr std::size_t kLanes = 8;  // blocks in flight: enough to hide the AESENC latency

struct EncryptionKeys {
  __m128i k[kRounds + 1];
};

ADRVET_TARGET_AES inline EncryptionKeys load_keys(const AES_ctx* ctx) {
  EncryptionKeys keys;
#pragma GCC unroll 16
  for (std::size_t r = 0; r <= kRounds; ++r) {
    keys.k[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ctx->round_keys + 16 * r));
  }
  return keys;
}

// The equivalent inverse cipher's schedule, which AESDEC expects.
ADRVET_TARGET_AES inline EncryptionKeys decryption_keys(const EncryptionKeys& enc) {
  EncryptionKeys dec;
  dec.k[0] = enc.k[kRounds];
#pragma GCC unroll 16
  for (int r = 1; r < kRounds; ++r) {
    dec.k[r] = _mm_aesimc_si128(enc.k[kRounds - r]);
  }
  dec.k[kRounds] = enc.k[0];
  return dec;
}

ADRVET_TARGET_AES inline __m128i encrypt_block(__m128i block, const EncryptionKeys& keys) {
  block = _mm_xor_si128(block, keys.k[0]);
#pragma GCC unroll 16
  for (int r = 1; r < kRounds; ++r) {
    block = _mm_aesenc_si128(block, keys.k[r]);
  }
  return _mm_aesenclast_si128(block, keys.k[kRounds]);
}

ADRVET_TARGET_AES inline __m128i decrypt_block(__m128i block, const EncryptionKeys& dec) {
  block = _mm_xor_si128(block, dec.k[0]);
#pragma GCC unroll 16
  for (int r = 1; r < kRounds; ++r) {
    block = _mm_aesdec_si128(block, dec.k[r]);
  }
  return _mm_aesdeclast_si128(block, dec.k[kRounds]);
}

ADRVET_TARGET_AES inline void encrypt_lanes(__m128i (&blocks)[kLanes], const EncryptionKeys& keys) {
#pragma GCC unroll 16
  for (auto& b : blocks) {
    b = _mm_xor_si128(b, keys.k[0]);
  }
#pragma GCC unroll 16
  for (int r = 1; r < kRounds; ++r) {
#pragma GCC unroll 16
    for (auto& b : blocks) {
      b = _mm_aesenc_si128(b, keys.k[r]);
    }
  }
#pragma GCC unroll 16
  for (auto& b : blocks) {
    b = _mm_aesenclast_si128(b, keys.k[kRounds]);
  }
}

ADRVET_TARGET_AES inline void decrypt_lanes(__m128i (&blocks)[kLanes], const EncryptionKeys& dec) {
#pragma GCC unroll 16
  for (auto& b : blocks) {
    b = _mm_xor_si128(b, dec.k[0]);
  }
#pragma GCC unroll 16
  for (int r = 1; r < kRounds; ++r) {
#pragma GCC unroll 16
    for (auto& b : blocks) {
      b = _mm_aesdec_si128(b, dec.k[r]);
    }
  }
#pragma GCC unroll 16
  for (auto& b : blocks) {
    b = _mm_aesdeclast_si128(b, dec.k[kRounds]);
  }
}

ADRVET_TARGET_AES inline __m128i load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

ADRVET_TARGET_AES inline void store(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

uint64_t load_be64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) {
    v = v << 8U | p[i];
  }
  return v;
}

void store_be64(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<uint8_t>(v);
    v >>= 8U;
  }
}

// The 128-bit big-endian counter, held as two native halves.
struct Counter {
  uint64_t hi;
  uint64_t lo;
  void advance(uint64_t blocks) {
    const uint64_t old = lo;
    lo += blocks;
    hi += lo < old ? 1 : 0;  // wraps silently at 2^128
  }
};

// Counter blocks as the cipher wants them: byte 0 most significant.
ADRVET_TARGET_AES inline __m128i counter_block(uint64_t hi, uint64_t lo) {
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_shuffle_epi8(_mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo)),
                          reverse);
}

ADRVET_TARGET_AES void ni_ctr_xcrypt(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  if (length == 0) {
    return;
  }
  const EncryptionKeys keys = load_keys(ctx);
  Counter counter{load_be64(ctx->iv), load_be64(ctx->iv + 8)};
  const std::size_t full_blocks = length / kBlockBytes;
  std::size_t block = 0;
  for (; block + kLanes <= full_blocks; block += kLanes) {
    __m128i lanes[kLanes];
#pragma GCC unroll 16
    for (std::size_t j = 0; j < kLanes; ++j) {
      Counter c = counter;
      c.advance(j);
      lanes[j] = counter_block(c.hi, c.lo);
    }
    counter.advance(kLanes);
    encrypt_lanes(lanes, keys);
    uint8_t* at = buf + block * kBlockBytes;
#pragma GCC unroll 16
    for (std::size_t j = 0; j < kLanes; ++j) {
      store(at + j * kBlockBytes, _mm_xor_si128(load(at + j * kBlockBytes), lanes[j]));
    }
  }
  for (; block < full_blocks; ++block) {
    const __m128i keystream = encrypt_block(counter_block(counter.hi, counter.lo), keys);
    counter.advance(1);
    uint8_t* at = buf + block * kBlockBytes;
    store(at, _mm_xor_si128(load(at), keystream));
  }
  const std::size_t tail = length % kBlockBytes;
  if (tail != 0) {  // a partial last block still uses up a counter value
    alignas(16) uint8_t keystream[kBlockBytes];
    _mm_store_si128(reinterpret_cast<__m128i*>(keystream),
                    encrypt_block(counter_block(counter.hi, counter.lo), keys));
    counter.advance(1);
    uint8_t* at = buf + full_blocks * kBlockBytes;
    for (std::size_t i = 0; i < tail; ++i) {
      at[i] ^= keystream[i];
    }
  }
  store_be64(ctx->iv, counter.hi);
  store_be64(ctx->iv + 8, counter.lo);
}

ADRVET_TARGET_AES void ni_ecb_encrypt(const AES_ctx* ctx, uint8_t* buf) {
  store(buf, encrypt_block(load(buf), load_keys(ctx)));
}

ADRVET_TARGET_AES void ni_ecb_decrypt(const AES_ctx* ctx, uint8_t* buf) {
  store(buf, decrypt_block(load(buf), decryption_keys(load_keys(ctx))));
}

// Whole blocks, ceil(length / 16) of them, as in the portable code.
std::size_t cbc_blocks(uint32_t length) {
  return (std::size_t{length} + kBlockBytes - 1) / kBlockBytes;
}

ADRVET_TARGET_AES void ni_cbc_encrypt(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  const std::size_t blocks = cbc_blocks(length);
  if (blocks == 0) {
    return;
  }
  const EncryptionKeys keys = load_keys(ctx);
  __m128i chain = load(ctx->iv);
  for (std::size_t i = 0; i < blocks; ++i) {  // each block needs the one before
    chain = encrypt_block(_mm_xor_si128(load(buf + i * kBlockBytes), chain), keys);
    store(buf + i * kBlockBytes, chain);
  }
  store(ctx->iv, chain);
}

ADRVET_TARGET_AES void ni_cbc_decrypt(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  const std::size_t blocks = cbc_blocks(length);
  if (blocks == 0) {
    return;
  }
  const EncryptionKeys dec = decryption_keys(load_keys(ctx));
  __m128i chain = load(ctx->iv);
  std::size_t i = 0;
  for (; i + kLanes <= blocks; i += kLanes) {
    uint8_t* at = buf + i * kBlockBytes;
    __m128i cipher[kLanes];
    __m128i lanes[kLanes];
#pragma GCC unroll 16
    for (std::size_t j = 0; j < kLanes; ++j) {
      cipher[j] = load(at + j * kBlockBytes);
      lanes[j] = cipher[j];
    }
    decrypt_lanes(lanes, dec);
#pragma GCC unroll 16
    for (std::size_t j = 0; j < kLanes; ++j) {
      store(at + j * kBlockBytes, _mm_xor_si128(lanes[j], j == 0 ? chain : cipher[j - 1]));
    }
    chain = cipher[kLanes - 1];
  }
  for (; i < blocks; ++i) {
    uint8_t* at = buf + i * kBlockBytes;
    const __m128i cipher = load(at);
    store(at, _mm_xor_si128(decrypt_block(cipher, dec), chain));
    chain = cipher;
  }
  store(ctx->iv, chain);
}

}  // namespace

namespace orbitforge::util::detail {

const AesBackend* aes_ni_backend() {
  static constexpr AesBackend backend = {"aesni",        ni_ctr_xcrypt,  ni_ecb_encrypt,
                                         ni_ecb_decrypt, ni_cbc_encrypt, ni_cbc_decrypt};
  return cpu_features().aes_ni ? &backend : nullptr;
}

}  // namespace orbitforge::util::detail

#else  // not x86: the portable code is all there is

namespace orbitforge::util::detail {

const AesBackend* aes_ni_backend() { return nullptr; }

}  // namespace orbitforge::util::detail

#endif
