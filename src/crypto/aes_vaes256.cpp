// AES-128 with VAES on 256-bit vectors (AVX2): one instruction runs a round
// on two blocks, and eight vectors (16 blocks) are in flight to cover its
// latency. Only CTR and CBC decryption can go wide; single blocks and CBC
// encryption are the AES-NI code. Only the functions that use the
// instructions carry the target attribute, and they are reached only after
// the CPUID check in cpu_features(), so the file needs no special flags.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/detail/cpu_features.h"
#include "base/wipe.h"
#include "crypto/detail/aes_counter.h"
#include "crypto/detail/aes_impl.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define ADRVET_TARGET_VAES256 __attribute__((target("aes,vaes,avx2,ssse3,sse4.1")))

namespace {

using orbitforge::util::detail::Counter;

constexpr std::size_t kBlockBytes = 16;
constexpr std::size_t kRounds = 10;
constexpr std::size_t kLaneBlocks = 2;  // blocks per vector
constexpr std::size_t kVectorBytes = kLaneBlocks * kBlockBytes;
constexpr std::size_t kInFlight = 8;  // vectors per step
constexpr std::size_t kStepBlocks = kLaneBlocks * kInFlight;
constexpr std::size_t kStepBytes = kStepBlocks * kBlockBytes;
// Cache lines are asked for this far ahead: the hardware prefetcher alone
// leaves a big buffer's loads waiting (a fifth slower over 16 MiB).
constexpr std::size_t kPrefetchAhead = 4096;

// A copy of the key schedule; CTR and CBC decryption here wipe theirs on
// return, since the compiler may have spilled it to the stack (single
// blocks and CBC encryption are the AES-NI code, which does the same).
struct WideKeys {
  __m256i k[kRounds + 1];
};

ADRVET_TARGET_VAES256 inline __m128i load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

ADRVET_TARGET_VAES256 inline __m256i load(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

ADRVET_TARGET_VAES256 inline void store(uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

ADRVET_TARGET_VAES256 inline WideKeys encryption_keys(const AES_ctx* ctx) {
  WideKeys keys;
#pragma GCC unroll 16
  for (std::size_t r = 0; r <= kRounds; ++r) {
    keys.k[r] = _mm256_broadcastsi128_si256(load128(ctx->round_keys + kBlockBytes * r));
  }
  return keys;
}

// The equivalent inverse cipher's schedule, which VAESDEC expects.
ADRVET_TARGET_VAES256 inline WideKeys decryption_keys(const AES_ctx* ctx) {
  WideKeys keys;
  keys.k[0] = _mm256_broadcastsi128_si256(load128(ctx->round_keys + kBlockBytes * kRounds));
#pragma GCC unroll 16
  for (std::size_t r = 1; r < kRounds; ++r) {
    keys.k[r] = _mm256_broadcastsi128_si256(
        _mm_aesimc_si128(load128(ctx->round_keys + kBlockBytes * (kRounds - r))));
  }
  keys.k[kRounds] = _mm256_broadcastsi128_si256(load128(ctx->round_keys));
  return keys;
}

// The cache lines of the step kPrefetchAhead bytes after `at`; callers
// make sure they are in the buffer. (Computing the address from the length
// left, with a minimum or a branch, made g++ 12 drop the prefetches.)
ADRVET_TARGET_VAES256 inline void prefetch_ahead(const uint8_t* at) {
#pragma GCC unroll 16
  for (std::size_t line = 0; line < kStepBytes; line += 64) {
    _mm_prefetch(reinterpret_cast<const char*>(at + kPrefetchAhead + line), _MM_HINT_T0);
  }
}

// The ten rounds on every block of `v`: the cipher, or with Decrypt the
// equivalent inverse cipher (keys from decryption_keys).
template <bool Decrypt, std::size_t N>
ADRVET_TARGET_VAES256 inline void cipher_rounds(__m256i (&v)[N], const WideKeys& keys) {
#pragma GCC unroll 16
  for (auto& b : v) {
    b = _mm256_xor_si256(b, keys.k[0]);
  }
#pragma GCC unroll 16
  for (std::size_t r = 1; r < kRounds; ++r) {
#pragma GCC unroll 16
    for (auto& b : v) {
      if constexpr (Decrypt) {
        b = _mm256_aesdec_epi128(b, keys.k[r]);
      } else {
        b = _mm256_aesenc_epi128(b, keys.k[r]);
      }
    }
  }
#pragma GCC unroll 16
  for (auto& b : v) {
    if constexpr (Decrypt) {
      b = _mm256_aesdeclast_epi128(b, keys.k[kRounds]);
    } else {
      b = _mm256_aesenclast_epi128(b, keys.k[kRounds]);
    }
  }
}

// A counter half as an intrinsic's signed 64-bit lane, bit for bit.
ADRVET_TARGET_VAES256 inline long long lane(uint64_t half) { return static_cast<long long>(half); }

// Counter blocks c + first and c + first + 1, byte 0 most significant. The
// additions stay in the low 64 bits: callers check that no carry crosses.
ADRVET_TARGET_VAES256 inline __m256i counters_in_low_half(const Counter& c, uint64_t first) {
  const __m256i native =
      _mm256_add_epi64(_mm256_broadcastsi128_si256(_mm_set_epi64x(lane(c.hi), lane(c.lo))),
                       _mm256_set_epi64x(0, lane(first + 1), 0, lane(first)));
  const __m256i reverse = _mm256_broadcastsi128_si256(
      _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  return _mm256_shuffle_epi8(native, reverse);
}

// The same across a carry into the high half, one block at a time: met
// once in 2^64 blocks, and by the tests.
ADRVET_TARGET_VAES256 inline __m256i counters_across_carry(const Counter& c, uint64_t first) {
  alignas(32) uint8_t blocks[kVectorBytes];
  for (std::size_t j = 0; j < kLaneBlocks; ++j) {
    c.plus(first + j).store(blocks + kBlockBytes * j);
  }
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(blocks));
}

template <std::size_t N>
ADRVET_TARGET_VAES256 inline void make_counters(__m256i (&v)[N], const Counter& c) {
  if (c.low_half_holds(N * kLaneBlocks - 1)) {
#pragma GCC unroll 16
    for (std::size_t k = 0; k < N; ++k) {
      v[k] = counters_in_low_half(c, k * kLaneBlocks);
    }
  } else {
    for (std::size_t k = 0; k < N; ++k) {
      v[k] = counters_across_carry(c, k * kLaneBlocks);
    }
  }
}

template <std::size_t N, bool kPrefetch = false>
ADRVET_TARGET_VAES256 inline void ctr_vectors(uint8_t* at, Counter& counter, const WideKeys& keys) {
  __m256i stream[N];
  make_counters(stream, counter);
  counter.advance(N * kLaneBlocks);
  cipher_rounds<false>(stream, keys);
  if constexpr (kPrefetch) {
    prefetch_ahead(at);
  }
#pragma GCC unroll 16
  for (std::size_t k = 0; k < N; ++k) {
    store(at + kVectorBytes * k, _mm256_xor_si256(load(at + kVectorBytes * k), stream[k]));
  }
}

// Up to 64 bytes the AES-NI code is quicker: it keeps the schedule in
// registers instead of building a wide copy and wiping it.
constexpr uint32_t kShortBytes = 64;

ADRVET_TARGET_VAES256 void vaes256_ctr_xcrypt(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  if (length <= kShortBytes) {
    orbitforge::util::detail::aes_ni_functions().ctr_xcrypt(ctx, buf, length);
    return;
  }
  WideKeys keys = encryption_keys(ctx);
  Counter counter = Counter::load(ctx->iv);
  std::size_t done = 0;
  for (; length - done >= kPrefetchAhead + kStepBytes; done += kStepBytes) {
    ctr_vectors<kInFlight, true>(buf + done, counter, keys);
  }
  for (; length - done >= kStepBytes; done += kStepBytes) {
    ctr_vectors<kInFlight>(buf + done, counter, keys);
  }
  for (; length - done >= kVectorBytes; done += kVectorBytes) {
    ctr_vectors<1>(buf + done, counter, keys);
  }
  const std::size_t rest = length - done;
  if (rest != 0) {  // through a copy; a partial block still uses up a counter value
    alignas(32) uint8_t last[kVectorBytes] = {};
    std::memcpy(last, buf + done, rest);
    Counter scratch = counter;
    ctr_vectors<1>(last, scratch, keys);
    counter.advance((rest + kBlockBytes - 1) / kBlockBytes);
    std::memcpy(buf + done, last, rest);
    orbitforge::util::wipe(last, sizeof last);
  }
  counter.store(ctx->iv);
  orbitforge::util::wipe(&keys, sizeof keys);
}

// Each plaintext block is the decrypted block XOR the ciphertext block
// before it: the vector of ciphertext one block back, from this vector and
// the previous one (or the chaining value).
ADRVET_TARGET_VAES256 inline __m256i one_block_back(__m256i current, __m256i previous) {
  return _mm256_permute2x128_si256(previous, current, 0x21);
}

template <std::size_t N>
ADRVET_TARGET_VAES256 inline void cbc_decrypt_vectors(uint8_t* at, __m128i chain,
                                                      const WideKeys& keys) {
  __m256i cipher[N];
  __m256i plain[N];
#pragma GCC unroll 16
  for (std::size_t k = 0; k < N; ++k) {
    cipher[k] = load(at + kVectorBytes * k);
    plain[k] = cipher[k];
  }
  cipher_rounds<true>(plain, keys);
  __m256i previous = _mm256_broadcastsi128_si256(chain);
#pragma GCC unroll 16
  for (std::size_t k = 0; k < N; ++k) {
    store(at + kVectorBytes * k, _mm256_xor_si256(plain[k], one_block_back(cipher[k], previous)));
    previous = cipher[k];
  }
}

// One step of 16 blocks at `at`; gives the chaining value for the next.
ADRVET_TARGET_VAES256 inline __m128i cbc_step(uint8_t* at, __m128i chain, const WideKeys& keys) {
  const __m128i next = load128(at + kBlockBytes * (kStepBlocks - 1));
  cbc_decrypt_vectors<kInFlight>(at, chain, keys);
  return next;
}

// One last block in the low lane of a vector.
ADRVET_TARGET_VAES256 inline void cbc_decrypt_block(uint8_t* at, __m128i chain,
                                                    const WideKeys& keys) {
  __m256i block[1] = {_mm256_broadcastsi128_si256(load128(at))};
  cipher_rounds<true>(block, keys);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                   _mm_xor_si128(_mm256_castsi256_si128(block[0]), chain));
}

// Whole blocks, ceil(length / 16) of them, as in the portable code.
ADRVET_TARGET_VAES256 void vaes256_cbc_decrypt(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  const std::size_t blocks = (std::size_t{length} + kBlockBytes - 1) / kBlockBytes;
  if (blocks == 0) {
    return;
  }
  WideKeys keys = decryption_keys(ctx);
  __m128i chain = load128(ctx->iv);
  std::size_t block = 0;
  for (; block + kStepBlocks + kPrefetchAhead / kBlockBytes <= blocks; block += kStepBlocks) {
    uint8_t* at = buf + kBlockBytes * block;
    prefetch_ahead(at);
    chain = cbc_step(at, chain, keys);
  }
  for (; block + kStepBlocks <= blocks; block += kStepBlocks) {
    chain = cbc_step(buf + kBlockBytes * block, chain, keys);
  }
  for (; block + kLaneBlocks <= blocks; block += kLaneBlocks) {
    uint8_t* at = buf + kBlockBytes * block;
    const __m128i next = load128(at + kBlockBytes * (kLaneBlocks - 1));
    cbc_decrypt_vectors<1>(at, chain, keys);
    chain = next;
  }
  if (block < blocks) {
    uint8_t* at = buf + kBlockBytes * block;
    const __m128i next = load128(at);
    cbc_decrypt_block(at, chain, keys);
    chain = next;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(ctx->iv), chain);
  orbitforge::util::wipe(&keys, sizeof keys);
}

}  // namespace

namespace orbitforge::util::detail {

const AesBackend* aes_vaes256_backend() {
  if (!cpu_features().vaes_avx2) {
    return nullptr;
  }
  static const AesBackend backend = [] {
    AesBackend b = aes_ni_functions();
    b.name = "vaes256";
    b.ctr_xcrypt = vaes256_ctr_xcrypt;
    b.cbc_decrypt = vaes256_cbc_decrypt;
    return b;
  }();
  return &backend;
}

}  // namespace orbitforge::util::detail

#else  // not x86

namespace orbitforge::util::detail {

const AesBackend* aes_vaes256_backend() { return nullptr; }

}  // namespace orbitforge::util::detail

#endif
