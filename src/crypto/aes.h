// AES-128 (FIPS-197) with the counter, ECB and CBC modes (NIST SP 800-38A).
//
// Plain C functions: no allocation, no failure path, no argument checks.
// The implementation is chosen at run time: VAES on 512-bit (AVX-512) or
// 256-bit (AVX2) vectors, else AES-NI, else portable code. The three that
// use the AES instructions are constant-time, key expansion included; the
// portable code looks bytes up in a table S-box and is not.
#pragma once

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdint.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct AES_ctx {
  uint8_t round_keys[176];  // 11 round keys of 16 bytes, FIPS-197 byte order
  uint8_t iv[16];           // counter block (big-endian) or CBC chaining value
};

// Expands the key; leaves iv as it was.
void AES_init_ctx(struct AES_ctx* ctx, const uint8_t* key);
// Expands the key, then copies the 16 iv bytes.
void AES_init_ctx_iv(struct AES_ctx* ctx, const uint8_t* key, const uint8_t* iv);
// Copies the 16 iv bytes; leaves the key schedule as it was.
void AES_ctx_set_iv(struct AES_ctx* ctx, const uint8_t* iv);

// Counter mode, in place, for encryption and decryption alike. Every call
// starts a fresh keystream block; iv advances by ceil(length / 16), wrapping
// silently at 2^128.
void AES_CTR_xcrypt_buffer(struct AES_ctx* ctx, uint8_t* buf, uint32_t length);

// Forward and inverse cipher of one 16-byte block in place; iv is not used.
void AES_ECB_encrypt(const struct AES_ctx* ctx, uint8_t* buf);
void AES_ECB_decrypt(const struct AES_ctx* ctx, uint8_t* buf);

// CBC in place over ceil(length / 16) whole blocks: the buffer must hold
// them all. No padding. Afterwards iv holds the last ciphertext block, so
// consecutive calls continue the chain.
void AES_CBC_encrypt_buffer(struct AES_ctx* ctx, uint8_t* buf, uint32_t length);
void AES_CBC_decrypt_buffer(struct AES_ctx* ctx, uint8_t* buf, uint32_t length);

#ifdef __cplusplus
}
#endif
