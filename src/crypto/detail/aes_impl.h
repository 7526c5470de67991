// The AES implementations behind the exported AES_* functions. Internal:
// tests and benchmarks reach each implementation here; the program always
// uses the one aes_active_backend() picks from the processor's features.
//
// Constant-time, that is memory accesses and branches independent of the key
// and the data (the one place that says so):
//   portable  no: S-box table lookups, in the key expansion and every round
//   aesni     yes: AES instructions for the key expansion and every round
//   vaes256   yes: AES instructions for the key expansion and every round
//   vaes512   yes: AES instructions for the key expansion and every round
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/aes.h"

namespace orbitforge::util::detail {

struct AesBackend {
  const char* name;
  // FIPS-197 KeyExpansion into round_keys[176], the same bytes in every backend.
  void (*key_expansion)(uint8_t* round_keys, const uint8_t* key);
  void (*ctr_xcrypt)(AES_ctx* ctx, uint8_t* buf, uint32_t length);
  void (*ecb_encrypt)(const AES_ctx* ctx, uint8_t* buf);
  void (*ecb_decrypt)(const AES_ctx* ctx, uint8_t* buf);
  void (*cbc_encrypt)(AES_ctx* ctx, uint8_t* buf, uint32_t length);
  void (*cbc_decrypt)(AES_ctx* ctx, uint8_t* buf, uint32_t length);
};

// Byte-oriented, table S-box, xtime: runs anywhere.
const AesBackend& aes_portable_backend();
// AES-NI, eight blocks in flight; nullptr where the processor lacks it.
const AesBackend* aes_ni_backend();
// VAES on 256-bit vectors (AVX2), two blocks per instruction; nullptr
// without VAES and AVX2. Single blocks and CBC encryption, which cannot go
// wide, are the AES-NI code.
const AesBackend* aes_vaes256_backend();
// VAES on 512-bit vectors (AVX-512), four blocks per instruction; nullptr
// without VAES and AVX-512. Single blocks and CBC encryption as above.
const AesBackend* aes_vaes512_backend();
// The AES-NI table whatever the processor, from which the VAES tables take
// their single-block code; only for use where AES-NI is present.
const AesBackend& aes_ni_functions();
// The fastest implementation this processor runs.
const AesBackend& aes_active_backend();

// Every implementation, the portable one first: {name, nullptr} where the
// processor cannot run it, so that tests and benchmarks can say so.
struct AesBackendEntry {
  const char* name;
  const AesBackend* backend;
};
inline constexpr std::size_t kAesBackendCount = 4;
void aes_backends(AesBackendEntry (&out)[kAesBackendCount]);

}  // namespace orbitforge::util::detail
