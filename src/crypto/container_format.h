// The protected container format, for the code that reads and writes it.
// Internal: not part of the installed interface.
//
//   offset 0   11 bytes  "Orbit Forge"
//   offset 11   1 byte   pad count P
//   offset 12            payload
//   end - P    P bytes   zero
// all AES-128-CTR encrypted from one fixed counter block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/aes.h"
#include "crypto/crypto.h"

namespace orbitforge::util::detail {

inline constexpr unsigned char magic[11] = {'O', 'r', 'b', 'i', 't', ' ', 'F', 'o', 'r', 'g', 'e'};
inline constexpr std::size_t kMagicBytes = sizeof magic;
inline constexpr std::size_t kHeaderBytes = kMagicBytes + 1;  // magic, then the pad count
inline constexpr std::size_t kPadPosition = kMagicBytes;
inline constexpr std::size_t kBlockBytes = 16;

// The counter-mode byte count is 32 bits wide, so a container stays below 4 GiB.
inline constexpr std::uint64_t kMaxContainerBytes = (std::uint64_t{1} << 32) - 1;
// Largest plain file whose container (rounded up past the next block) still fits.
inline constexpr std::uint64_t kMaxPlainBytes =
    kMaxContainerBytes + 1 - kBlockBytes - kHeaderBytes - 1;

// The AES-128 key derived from `key` and the initial counter block of every
// container, for tests and benchmarks that check the format from outside.
void container_key_material(const Key& key, unsigned char* aes_key, unsigned char* counter);

// A context ready to transform a container from its byte 0.
void setup_aes_context(AES_ctx& ctx, const Key& key);
// Overwrites the whole context with zeros.
void clear_aes_context(AES_ctx& ctx);

}  // namespace orbitforge::util::detail
