// The SHA-256 compression implementations behind the exported sha256_*
// functions. Internal: tests and benchmarks reach each one here; the program
// always uses the one sha256_active_backend() picks from the processor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orbitforge::util::detail {

// The round constants K0..K63 of FIPS 180-4.
extern const uint32_t sha256_k[64];

struct Sha256Backend {
  const char* name;
  // Compresses `count` consecutive 64-byte blocks into the eight hash words.
  void (*compress)(uint32_t* hash_words, const uint8_t* blocks, std::size_t count);
};

// Straight from FIPS 180-4: runs anywhere. Constant-time.
const Sha256Backend& sha256_portable_backend();
// x86 SHA extensions; nullptr where the processor lacks them. Constant-time.
const Sha256Backend* sha256_ni_backend();
// The fastest implementation this processor runs.
const Sha256Backend& sha256_active_backend();

}  // namespace orbitforge::util::detail
