// AES-128 with the x86 AES instructions. Only the functions that use the
// instructions carry the target attribute, and they are reached only after
// the CPUID check in cpu_features(), so the file needs no special flags.
#include <cstring>

#include "base/detail/cpu_features.h"
#include "base/wipe.h"
#include "crypto/detail/aes_counter.h"
#include "crypto/detail/aes_impl.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define ADRVET_TARGET_AES __attribute__((target("aes,ssse3,sse4.1")))

namespace {

using orbitforge::util::detail::Counter;

constexpr std::size_t kBlockBytes = 16;
constexpr int kRounds = 10;
constexpr std::size_t kLanes = 8;  // blocks in flight: enough to hide the AESENC latency

// One step of FIPS-197 KeyExpansion for Nk = 4: AESKEYGENASSIST gives
// SubWord(RotWord(w3)) ^ Rcon in its top word, which is spread to all four
// words and XORed into the running prefix XOR of the previous round key,
// w[i] = w[i-4] ^ w[i-5] ^ ... ^ temp.
ADRVET_TARGET_AES inline __m128i next_round_key(__m128i key, __m128i assist) {
  assist = _mm_shuffle_epi32(assist, 0xff);
  key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
  key = _mm_xor_si128(key, _mm_slli_si128(key, 8));
  return _mm_xor_si128(key, assist);
}

// The Rcon of each step must be an immediate, hence the spelled-out steps.
ADRVET_TARGET_AES void ni_key_expansion(uint8_t* round_keys, const uint8_t* key) {
  __m128i k[11];
  k[0] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
  k[1] = next_round_key(k[0], _mm_aeskeygenassist_si128(k[0], 0x01));
  k[2] = next_round_key(k[1], _mm_aeskeygenassist_si128(k[1], 0x02));
  k[3] = next_round_key(k[2], _mm_aeskeygenassist_si128(k[2], 0x04));
  k[4] = next_round_key(k[3], _mm_aeskeygenassist_si128(k[3], 0x08));
  k[5] = next_round_key(k[4], _mm_aeskeygenassist_si128(k[4], 0x10));
  k[6] = next_round_key(k[5], _mm_aeskeygenassist_si128(k[5], 0x20));
  k[7] = next_round_key(k[6], _mm_aeskeygenassist_si128(k[6], 0x40));
  k[8] = next_round_key(k[7], _mm_aeskeygenassist_si128(k[7], 0x80));
  k[9] = next_round_key(k[8], _mm_aeskeygenassist_si128(k[8], 0x1b));
  k[10] = next_round_key(k[9], _mm_aeskeygenassist_si128(k[9], 0x36));
#pragma GCC unroll 16
  for (std::size_t r = 0; r < 11; ++r) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(round_keys + 16 * r), k[r]);
  }
  orbitforge::util::wipe(k, sizeof k);
}

// A copy of the key schedule; every function here (single blocks, CTR and
// both CBC directions) wipes its copy on return, since the compiler may
// have spilled it to the stack.
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

// Counter blocks as the cipher wants them: byte 0 most significant.
ADRVET_TARGET_AES inline __m128i counter_block(uint64_t hi, uint64_t lo) {
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_shuffle_epi8(_mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo)),
                          reverse);
}

// Up to kShortBlocks blocks. Each round key is loaded where it is used and
// lives in a register only, so no copy of the schedule reaches memory and
// none needs wiping: the copy and its wipe were most of a 64-byte call.
template <std::size_t N>
ADRVET_TARGET_AES inline void ctr_short(AES_ctx* ctx, uint8_t* buf, std::size_t length) {
  Counter counter = Counter::load(ctx->iv);
  __m128i stream[N];
#pragma GCC unroll 16
  for (std::size_t j = 0; j < N; ++j) {
    const Counter c = counter.plus(j);
    stream[j] = _mm_xor_si128(counter_block(c.hi, c.lo), load(ctx->round_keys));
  }
  counter.advance(N);
#pragma GCC unroll 16
  for (int r = 1; r < kRounds; ++r) {
    const __m128i key = load(ctx->round_keys + kBlockBytes * static_cast<std::size_t>(r));
#pragma GCC unroll 16
    for (auto& b : stream) {
      b = _mm_aesenc_si128(b, key);
    }
  }
  const __m128i last = load(ctx->round_keys + kBlockBytes * kRounds);
#pragma GCC unroll 16
  for (auto& b : stream) {
    b = _mm_aesenclast_si128(b, last);
  }
#pragma GCC unroll 16
  for (std::size_t j = 0; j + 1 < N; ++j) {
    uint8_t* at = buf + kBlockBytes * j;
    store(at, _mm_xor_si128(load(at), stream[j]));
  }
  uint8_t* at = buf + kBlockBytes * (N - 1);
  const std::size_t tail = length - kBlockBytes * (N - 1);
  if (tail == kBlockBytes) {
    store(at, _mm_xor_si128(load(at), stream[N - 1]));
  } else {  // through a copy, which then holds output bytes
    alignas(16) uint8_t block[kBlockBytes] = {};
    std::memcpy(block, at, tail);
    store(block, _mm_xor_si128(load(block), stream[N - 1]));
    std::memcpy(at, block, tail);
    orbitforge::util::wipe(block, sizeof block);
  }
  counter.store(ctx->iv);
}

constexpr std::size_t kShortBlocks = 4;

// Whole groups of eight blocks, then single blocks and the tail.
__attribute__((noinline)) ADRVET_TARGET_AES void ctr_long(AES_ctx* ctx, uint8_t* buf,
                                                          uint32_t length) {
  EncryptionKeys keys = load_keys(ctx);
  Counter counter = Counter::load(ctx->iv);
  const std::size_t full_blocks = length / kBlockBytes;
  std::size_t block = 0;
  for (; block + kLanes <= full_blocks; block += kLanes) {
    __m128i lanes[kLanes];
#pragma GCC unroll 16
    for (std::size_t j = 0; j < kLanes; ++j) {
      const Counter c = counter.plus(j);
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
    orbitforge::util::wipe(keystream, sizeof keystream);
  }
  counter.store(ctx->iv);
  orbitforge::util::wipe(&keys, sizeof keys);
}

// Short buffers apart, so that they skip the long path's stack frame.
ADRVET_TARGET_AES void ni_ctr_xcrypt(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  switch ((std::size_t{length} + kBlockBytes - 1) / kBlockBytes) {
    case 0:
      return;
    case 1:
      return ctr_short<1>(ctx, buf, length);
    case 2:
      return ctr_short<2>(ctx, buf, length);
    case 3:
      return ctr_short<3>(ctx, buf, length);
    case kShortBlocks:
      return ctr_short<kShortBlocks>(ctx, buf, length);
    default:
      return ctr_long(ctx, buf, length);
  }
}

ADRVET_TARGET_AES void ni_ecb_encrypt(const AES_ctx* ctx, uint8_t* buf) {
  EncryptionKeys keys = load_keys(ctx);
  store(buf, encrypt_block(load(buf), keys));
  orbitforge::util::wipe(&keys, sizeof keys);
}

ADRVET_TARGET_AES void ni_ecb_decrypt(const AES_ctx* ctx, uint8_t* buf) {
  EncryptionKeys dec = decryption_keys(load_keys(ctx));
  store(buf, decrypt_block(load(buf), dec));
  orbitforge::util::wipe(&dec, sizeof dec);
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
  EncryptionKeys keys = load_keys(ctx);
  __m128i chain = load(ctx->iv);
  for (std::size_t i = 0; i < blocks; ++i) {  // each block needs the one before
    chain = encrypt_block(_mm_xor_si128(load(buf + i * kBlockBytes), chain), keys);
    store(buf + i * kBlockBytes, chain);
  }
  store(ctx->iv, chain);
  orbitforge::util::wipe(&keys, sizeof keys);
}

ADRVET_TARGET_AES void ni_cbc_decrypt(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  const std::size_t blocks = cbc_blocks(length);
  if (blocks == 0) {
    return;
  }
  EncryptionKeys dec = decryption_keys(load_keys(ctx));
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
  orbitforge::util::wipe(&dec, sizeof dec);
}

}  // namespace

namespace orbitforge::util::detail {

const AesBackend& aes_ni_functions() {
  static constexpr AesBackend backend = {"aesni",        ni_key_expansion, ni_ctr_xcrypt,
                                         ni_ecb_encrypt, ni_ecb_decrypt,   ni_cbc_encrypt,
                                         ni_cbc_decrypt};
  return backend;
}

const AesBackend* aes_ni_backend() { return cpu_features().aes_ni ? &aes_ni_functions() : nullptr; }

}  // namespace orbitforge::util::detail

#else  // not x86: the portable code is all there is

namespace orbitforge::util::detail {

const AesBackend& aes_ni_functions() { return aes_portable_backend(); }

const AesBackend* aes_ni_backend() { return nullptr; }

}  // namespace orbitforge::util::detail

#endif
