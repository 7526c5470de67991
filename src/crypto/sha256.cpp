// Portable SHA-256, straight from FIPS 180-4.
#include "crypto/sha256.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr uint32_t k[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t initial_hash[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::size_t kBlockBytes = 64;
constexpr std::size_t kLengthField = 56;  // where the 64-bit bit count starts

constexpr uint32_t rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32U - n)); }
constexpr uint32_t ch(uint32_t x, uint32_t y, uint32_t z) { return (x & y) ^ (~x & z); }
constexpr uint32_t maj(uint32_t x, uint32_t y, uint32_t z) { return (x & y) ^ (x & z) ^ (y & z); }
constexpr uint32_t big_sigma0(uint32_t x) { return rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22); }
constexpr uint32_t big_sigma1(uint32_t x) { return rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25); }
constexpr uint32_t small_sigma0(uint32_t x) { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
constexpr uint32_t small_sigma1(uint32_t x) { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }

uint32_t load_be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void store_be32(uint8_t* p, uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) {
    p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  }
}

void store_be64(uint8_t* p, uint64_t v) {
  for (std::size_t i = 0; i < 8; ++i) {
    p[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
  }
}

}  // namespace

extern "C" {

void sha256_init(sha256_ctx* ctx) {
  ctx->block_fill = 0;
  ctx->bit_count = 0;
  std::memcpy(ctx->hash_words, initial_hash, sizeof initial_hash);
}

void sha256_transform(sha256_ctx* ctx, const uint8_t* block) {
  uint32_t w[64];
  for (std::size_t t = 0; t < 16; ++t) {
    w[t] = load_be32(block + 4 * t);
  }
  for (std::size_t t = 16; t < 64; ++t) {
    w[t] = small_sigma1(w[t - 2]) + w[t - 7] + small_sigma0(w[t - 15]) + w[t - 16];
  }
  uint32_t a = ctx->hash_words[0];
  uint32_t b = ctx->hash_words[1];
  uint32_t c = ctx->hash_words[2];
  uint32_t d = ctx->hash_words[3];
  uint32_t e = ctx->hash_words[4];
  uint32_t f = ctx->hash_words[5];
  uint32_t g = ctx->hash_words[6];
  uint32_t h = ctx->hash_words[7];
  for (std::size_t t = 0; t < 64; ++t) {
    const uint32_t t1 = h + big_sigma1(e) + ch(e, f, g) + k[t] + w[t];
    const uint32_t t2 = big_sigma0(a) + maj(a, b, c);
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  ctx->hash_words[0] += a;
  ctx->hash_words[1] += b;
  ctx->hash_words[2] += c;
  ctx->hash_words[3] += d;
  ctx->hash_words[4] += e;
  ctx->hash_words[5] += f;
  ctx->hash_words[6] += g;
  ctx->hash_words[7] += h;
}

// Fills the pending block and compresses it as soon as its 64th byte arrives.
void sha256_update(sha256_ctx* ctx, const uint8_t* data, uint64_t length) {
  while (length > 0) {
    const std::size_t room = kBlockBytes - ctx->block_fill;
    const std::size_t take = length < room ? static_cast<std::size_t>(length) : room;
    std::memcpy(ctx->block + ctx->block_fill, data, take);
    ctx->block_fill += static_cast<uint32_t>(take);
    data += take;
    length -= take;
    if (ctx->block_fill == kBlockBytes) {
      sha256_transform(ctx, ctx->block);
      ctx->bit_count += 512;
      ctx->block_fill = 0;
    }
  }
}

void sha256_final(sha256_ctx* ctx, uint8_t* digest) {
  const std::size_t n = ctx->block_fill;
  ctx->block[n] = 0x80;
  if (n < kLengthField) {
    std::memset(ctx->block + n + 1, 0, kLengthField - n - 1);
  } else {
    // No room for the length: pad this block out and start another.
    std::memset(ctx->block + n + 1, 0, kBlockBytes - n - 1);
    sha256_transform(ctx, ctx->block);
    std::memset(ctx->block, 0, kLengthField);
  }
  ctx->bit_count += 8 * uint64_t{n};
  store_be64(ctx->block + kLengthField, ctx->bit_count);
  sha256_transform(ctx, ctx->block);
  for (std::size_t j = 0; j < 8; ++j) {
    store_be32(digest + 4 * j, ctx->hash_words[j]);
  }
}

}  // extern "C"
