// The AES implementations behind the exported AES_* functions. Internal:
// tests and benchmarks reach each implementation here; the program always
// uses the one aes_active_backend() picks from the processor's features.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/aes.h"

namespace orbitforge::util::detail {

struct AesBackend {
  const char* name;
  void (*ctr_xcrypt)(AES_ctx* ctx, uint8_t* buf, uint32_t length);
  void (*ecb_encrypt)(const AES_ctx* ctx, uint8_t* buf);
  void (*ecb_decrypt)(const AES_ctx* ctx, uint8_t* buf);
  void (*cbc_encrypt)(AES_ctx* ctx, uint8_t* buf, uint32_t length);
  void (*cbc_decrypt)(AES_ctx* ctx, uint8_t* buf, uint32_t length);
};

// Byte-oriented, table S-box, xtime: runs anywhere. Not constant-time.
const AesBackend& aes_portable_backend();
// AES-NI, several blocks in flight; nullptr where the processor lacks it.
// Constant-time.
const AesBackend* aes_ni_backend();
// The fastest implementation this processor runs.
const AesBackend& aes_active_backend();

// FIPS-197 key expansion, shared by every implementation.
void aes_key_expansion(uint8_t* round_keys, const uint8_t* key);

}  // namespace orbitforge::util::detail
