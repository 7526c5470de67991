// Portable SHA-256 compression, straight from FIPS 180-4.
#include "crypto/detail/sha256_impl.h"

#include <cstddef>
#include <cstring>

namespace orbitforge::util::detail {

// FIPS 180-4 K0..K63; aligned for the vector code that loads four at a time.
alignas(16) const uint32_t sha256_k[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

}  // namespace orbitforge::util::detail

namespace {

constexpr const auto& k = orbitforge::util::detail::sha256_k;

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

void compress_block(uint32_t* hash_words, const uint8_t* block) {
  uint32_t w[64];
  for (std::size_t t = 0; t < 16; ++t) {
    w[t] = load_be32(block + 4 * t);
  }
  for (std::size_t t = 16; t < 64; ++t) {
    w[t] = small_sigma1(w[t - 2]) + w[t - 7] + small_sigma0(w[t - 15]) + w[t - 16];
  }
  uint32_t a = hash_words[0];
  uint32_t b = hash_words[1];
  uint32_t c = hash_words[2];
  uint32_t d = hash_words[3];
  uint32_t e = hash_words[4];
  uint32_t f = hash_words[5];
  uint32_t g = hash_words[6];
  uint32_t h = hash_words[7];
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
  hash_words[0] += a;
  hash_words[1] += b;
  hash_words[2] += c;
  hash_words[3] += d;
  hash_words[4] += e;
  hash_words[5] += f;
  hash_words[6] += g;
  hash_words[7] += h;
}

void portable_compress(uint32_t* hash_words, const uint8_t* blocks, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    compress_block(hash_words, blocks + 64 * i);
  }
}

}  // namespace

namespace orbitforge::util::detail {

const Sha256Backend& sha256_portable_backend() {
  static constexpr Sha256Backend backend = {"portable", portable_compress};
  return backend;
}

}  // namespace orbitforge::util::detail
