// SHA-256 (FIPS 180-4), streaming: init, any number of updates, final.
//
// Plain C functions: no allocation, no failure path, no argument checks.
// Constant-time: no branch or memory index depends on the data.
#pragma once

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdint.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct sha256_ctx {
  uint8_t block[64];       // bytes received but not yet compressed; final pads here
  uint32_t block_fill;     // pending bytes in block, 0 to 63 between calls
  uint64_t bit_count;      // message bits compressed so far
  uint32_t hash_words[8];  // chaining values H0..H7
};

void sha256_init(struct sha256_ctx* ctx);
void sha256_update(struct sha256_ctx* ctx, const uint8_t* data, uint64_t length);
// Writes the 32-byte digest. The context is not reset: start again with init.
void sha256_final(struct sha256_ctx* ctx, uint8_t* digest);
// The compression function on one 64-byte block; block_fill and bit_count stay.
void sha256_transform(struct sha256_ctx* ctx, const uint8_t* block);

#ifdef __cplusplus
}
#endif
