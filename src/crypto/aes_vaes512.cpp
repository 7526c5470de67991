// AES-128 with VAES on 512-bit vectors: one instruction runs a round on four
// blocks, and eight vectors (32 blocks) are in flight to cover its latency.
// Only CTR and CBC decryption can go wide; single blocks and CBC encryption
// are the AES-NI code. Only the functions that use the instructions carry
// the target attribute, and they are reached only after the CPUID check in
// cpu_features(), so the file needs no special flags.
#include <algorithm>
#include <cstddef>

#include "base/detail/cpu_features.h"
#include "base/wipe.h"
#include "crypto/detail/aes_counter.h"
#include "crypto/detail/aes_impl.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define ADRVET_TARGET_VAES512 \
  __attribute__((target("aes,vaes,avx2,avx512f,avx512bw,avx512vl,ssse3,sse4.1")))

namespace {

using orbitforge::util::detail::Counter;

constexpr std::size_t kBlockBytes = 16;
constexpr std::size_t kRounds = 10;
constexpr std::size_t kLaneBlocks = 4;  // blocks per vector
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
  __m512i k[kRounds + 1];
};

// The zero-masking forms with every lane selected: the plain intrinsics
// start from an "undefined" vector that g++ 12 warns about.
ADRVET_TARGET_VAES512 inline __m512i broadcast(__m128i block) {
  return _mm512_maskz_broadcast_i32x4(__mmask16{0xffff}, block);
}

ADRVET_TARGET_VAES512 inline __m128i load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

ADRVET_TARGET_VAES512 inline __m512i load(const uint8_t* p) { return _mm512_loadu_si512(p); }

ADRVET_TARGET_VAES512 inline void store(uint8_t* p, __m512i v) { _mm512_storeu_si512(p, v); }

ADRVET_TARGET_VAES512 inline WideKeys encryption_keys(const AES_ctx* ctx) {
  WideKeys keys;
#pragma GCC unroll 16
  for (std::size_t r = 0; r <= kRounds; ++r) {
    keys.k[r] = broadcast(load128(ctx->round_keys + kBlockBytes * r));
  }
  return keys;
}

// The equivalent inverse cipher's schedule, which VAESDEC expects.
ADRVET_TARGET_VAES512 inline WideKeys decryption_keys(const AES_ctx* ctx) {
  WideKeys keys;
  keys.k[0] = broadcast(load128(ctx->round_keys + kBlockBytes * kRounds));
#pragma GCC unroll 16
  for (std::size_t r = 1; r < kRounds; ++r) {
    keys.k[r] = broadcast(_mm_aesimc_si128(load128(ctx->round_keys + kBlockBytes * (kRounds - r))));
  }
  keys.k[kRounds] = broadcast(load128(ctx->round_keys));
  return keys;
}

// The cache lines of the step kPrefetchAhead bytes after `at`; callers
// make sure they are in the buffer. (Computing the address from the length
// left, with a minimum or a branch, made g++ 12 drop the prefetches.)
ADRVET_TARGET_VAES512 inline void prefetch_ahead(const uint8_t* at) {
#pragma GCC unroll 16
  for (std::size_t line = 0; line < kStepBytes; line += 64) {
    _mm_prefetch(reinterpret_cast<const char*>(at + kPrefetchAhead + line), _MM_HINT_T0);
  }
}

// The ten rounds on every block of `v`: the cipher, or with Decrypt the
// equivalent inverse cipher (keys from decryption_keys).
template <bool Decrypt, std::size_t N>
ADRVET_TARGET_VAES512 inline void cipher_rounds(__m512i (&v)[N], const WideKeys& keys) {
#pragma GCC unroll 16
  for (auto& b : v) {
    b = _mm512_xor_si512(b, keys.k[0]);
  }
#pragma GCC unroll 16
  for (std::size_t r = 1; r < kRounds; ++r) {
#pragma GCC unroll 16
    for (auto& b : v) {
      if constexpr (Decrypt) {
        b = _mm512_aesdec_epi128(b, keys.k[r]);
      } else {
        b = _mm512_aesenc_epi128(b, keys.k[r]);
      }
    }
  }
#pragma GCC unroll 16
  for (auto& b : v) {
    if constexpr (Decrypt) {
      b = _mm512_aesdeclast_epi128(b, keys.k[kRounds]);
    } else {
      b = _mm512_aesenclast_epi128(b, keys.k[kRounds]);
    }
  }
}

// A counter half as an intrinsic's signed 64-bit lane, bit for bit.
ADRVET_TARGET_VAES512 inline long long lane(uint64_t half) { return static_cast<long long>(half); }

// Counter blocks c + first .. c + first + 3, byte 0 most significant. The
// additions stay in the low 64 bits: callers check that no carry crosses.
ADRVET_TARGET_VAES512 inline __m512i counters_in_low_half(const Counter& c, uint64_t first) {
  const __m512i native = _mm512_add_epi64(
      broadcast(_mm_set_epi64x(lane(c.hi), lane(c.lo))),
      _mm512_set_epi64(0, lane(first + 3), 0, lane(first + 2), 0, lane(first + 1), 0, lane(first)));
  const __m512i reverse =
      broadcast(_mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  return _mm512_shuffle_epi8(native, reverse);
}

// The same across a carry into the high half, one block at a time: met
// once in 2^64 blocks, and by the tests.
ADRVET_TARGET_VAES512 inline __m512i counters_across_carry(const Counter& c, uint64_t first) {
  alignas(64) uint8_t blocks[kVectorBytes];
  for (std::size_t j = 0; j < kLaneBlocks; ++j) {
    c.plus(first + j).store(blocks + kBlockBytes * j);
  }
  return _mm512_load_si512(blocks);
}

template <std::size_t N>
ADRVET_TARGET_VAES512 inline void make_counters(__m512i (&v)[N], const Counter& c) {
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

// One step of 32 blocks at `at`.
template <bool kPrefetch>
ADRVET_TARGET_VAES512 inline void ctr_step(uint8_t* at, Counter& counter, const WideKeys& keys) {
  __m512i stream[kInFlight];
  make_counters(stream, counter);
  counter.advance(kStepBlocks);
  cipher_rounds<false>(stream, keys);
  if constexpr (kPrefetch) {
    prefetch_ahead(at);
  }
#pragma GCC unroll 16
  for (std::size_t k = 0; k < kInFlight; ++k) {
    store(at + kVectorBytes * k, _mm512_xor_si512(load(at + kVectorBytes * k), stream[k]));
  }
}

// A short buffer in N vectors, the last masked to the bytes that are left.
// Each round key is broadcast where it is used and lives in a register
// only, so no copy of the schedule reaches memory and none needs wiping:
// the copy and its wipe were most of a 64-byte call.
template <std::size_t N>
ADRVET_TARGET_VAES512 inline void ctr_short(AES_ctx* ctx, uint8_t* buf, std::size_t length) {
  Counter counter = Counter::load(ctx->iv);
  __m512i stream[N];
  make_counters(stream, counter);
  counter.advance((length + kBlockBytes - 1) / kBlockBytes);
  const __m512i first = broadcast(load128(ctx->round_keys));
#pragma GCC unroll 16
  for (auto& v : stream) {
    v = _mm512_xor_si512(v, first);
  }
#pragma GCC unroll 16
  for (std::size_t r = 1; r < kRounds; ++r) {
    const __m512i key = broadcast(load128(ctx->round_keys + kBlockBytes * r));
#pragma GCC unroll 16
    for (auto& v : stream) {
      v = _mm512_aesenc_epi128(v, key);
    }
  }
  const __m512i last = broadcast(load128(ctx->round_keys + kBlockBytes * kRounds));
#pragma GCC unroll 16
  for (auto& v : stream) {
    v = _mm512_aesenclast_epi128(v, last);
  }
  const std::size_t tail = length - kVectorBytes * (N - 1);
  const __mmask64 mask = tail == kVectorBytes ? ~__mmask64{0} : (__mmask64{1} << tail) - 1;
#pragma GCC unroll 16
  for (std::size_t k = 0; k < N; ++k) {
    uint8_t* at = buf + kVectorBytes * k;
    const __mmask64 bytes = k + 1 < N ? ~__mmask64{0} : mask;
    _mm512_mask_storeu_epi8(at, bytes,
                            _mm512_xor_si512(_mm512_maskz_loadu_epi8(bytes, at), stream[k]));
  }
  counter.store(ctx->iv);
}

// Buffers up to this size take ctr_short.
constexpr std::size_t kShortVectors = 4;

// Whole steps of 32 blocks, then the rest a vector at a time.
__attribute__((noinline)) ADRVET_TARGET_VAES512 void ctr_long(AES_ctx* ctx, uint8_t* buf,
                                                              uint32_t length) {
  WideKeys keys = encryption_keys(ctx);
  Counter counter = Counter::load(ctx->iv);
  std::size_t done = 0;
  for (; length - done >= kPrefetchAhead + kStepBytes; done += kStepBytes) {
    ctr_step<true>(buf + done, counter, keys);
  }
  for (; length - done >= kStepBytes; done += kStepBytes) {
    ctr_step<false>(buf + done, counter, keys);
  }
  // The rest a vector at a time; the last one masked to the bytes that are
  // left, so that a partial block needs no copy. It still uses up a counter
  // value.
  while (done < length) {
    const std::size_t bytes = std::min<std::size_t>(length - done, kVectorBytes);
    const __mmask64 mask = bytes == kVectorBytes ? ~__mmask64{0} : (__mmask64{1} << bytes) - 1;
    __m512i stream[1];
    make_counters(stream, counter);
    counter.advance((bytes + kBlockBytes - 1) / kBlockBytes);
    cipher_rounds<false>(stream, keys);
    uint8_t* at = buf + done;
    _mm512_mask_storeu_epi8(at, mask,
                            _mm512_xor_si512(_mm512_maskz_loadu_epi8(mask, at), stream[0]));
    done += bytes;
  }
  counter.store(ctx->iv);
  orbitforge::util::wipe(&keys, sizeof keys);
}

// Short buffers apart, so that they skip the long path's stack frame.
ADRVET_TARGET_VAES512 void vaes512_ctr_xcrypt(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  switch ((std::size_t{length} + kVectorBytes - 1) / kVectorBytes) {
    case 0:
      return;
    case 1:
      return ctr_short<1>(ctx, buf, length);
    case 2:
      return ctr_short<2>(ctx, buf, length);
    case 3:
      return ctr_short<3>(ctx, buf, length);
    case kShortVectors:
      return ctr_short<kShortVectors>(ctx, buf, length);
    default:
      return ctr_long(ctx, buf, length);
  }
}

// Each plaintext block is the decrypted block XOR the ciphertext block
// before it: the vector of ciphertext one block back, from this vector and
// the previous one (or the chaining value).
ADRVET_TARGET_VAES512 inline __m512i one_block_back(__m512i current, __m512i previous) {
  return _mm512_maskz_alignr_epi64(__mmask8{0xff}, current, previous, 6);
}

template <std::size_t N>
ADRVET_TARGET_VAES512 inline void cbc_decrypt_vectors(uint8_t* at, __m128i chain,
                                                      const WideKeys& keys, __mmask64 last) {
  __m512i cipher[N];
  __m512i plain[N];
#pragma GCC unroll 16
  for (std::size_t k = 0; k < N; ++k) {
    cipher[k] = k + 1 < N ? load(at + kVectorBytes * k)
                          : _mm512_maskz_loadu_epi8(last, at + kVectorBytes * k);
    plain[k] = cipher[k];
  }
  cipher_rounds<true>(plain, keys);
  __m512i previous = broadcast(chain);
#pragma GCC unroll 16
  for (std::size_t k = 0; k < N; ++k) {
    const __m512i out = _mm512_xor_si512(plain[k], one_block_back(cipher[k], previous));
    if (k + 1 < N) {
      store(at + kVectorBytes * k, out);
    } else {
      _mm512_mask_storeu_epi8(at + kVectorBytes * k, last, out);
    }
    previous = cipher[k];
  }
}

// One step of 32 blocks at `at`; gives the chaining value for the next.
ADRVET_TARGET_VAES512 inline __m128i cbc_step(uint8_t* at, __m128i chain, const WideKeys& keys) {
  const __m128i next = load128(at + kBlockBytes * (kStepBlocks - 1));
  cbc_decrypt_vectors<kInFlight>(at, chain, keys, ~__mmask64{0});
  return next;
}

// Whole blocks, ceil(length / 16) of them, as in the portable code.
ADRVET_TARGET_VAES512 void vaes512_cbc_decrypt(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
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
  for (; block < blocks; block += kLaneBlocks) {
    const std::size_t count = std::min(blocks - block, kLaneBlocks);
    const __mmask64 mask =
        count == kLaneBlocks ? ~__mmask64{0} : (__mmask64{1} << (kBlockBytes * count)) - 1;
    uint8_t* at = buf + kBlockBytes * block;
    const __m128i next = load128(at + kBlockBytes * (count - 1));
    cbc_decrypt_vectors<1>(at, chain, keys, mask);
    chain = next;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(ctx->iv), chain);
  orbitforge::util::wipe(&keys, sizeof keys);
}

}  // namespace

namespace orbitforge::util::detail {

const AesBackend* aes_vaes512_backend() {
  if (!cpu_features().vaes_avx512) {
    return nullptr;
  }
  static const AesBackend backend = [] {
    AesBackend b = aes_ni_functions();
    b.name = "vaes512";
    b.ctr_xcrypt = vaes512_ctr_xcrypt;
    b.cbc_decrypt = vaes512_cbc_decrypt;
    return b;
  }();
  return &backend;
}

}  // namespace orbitforge::util::detail

#else  // not x86

namespace orbitforge::util::detail {

const AesBackend* aes_vaes512_backend() { return nullptr; }

}  // namespace orbitforge::util::detail

#endif
