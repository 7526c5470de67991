// The protected container format, for the code that reads and writes it.
// Not installed.
//
//   offset 0   11 bytes  "Orbit Forge"
//   offset 11   1 byte   pad count P
//   offset 12            payload
//   end - P    P bytes   zero
// all AES-128-CTR encrypted from one fixed counter block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/secret_bytes.h"
#include "crypto/aes.h"
#include "crypto/container.h"
#include "crypto/key.h"

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

// The rules of a container's head, for every reader: `head` holds the first
// min(file_size, kHeaderBytes) bytes of the file, decrypted. too_short,
// wrong_key or bad_pad_count; on ok, `payload_size` is the payload's length.
ContainerStatus parse_container_head(const unsigned char* head, std::uint64_t file_size,
                                     std::uint64_t& payload_size);

// Makes `buffer` the header with a pad count still to set; the payload is
// appended after it.
void start_container(SecretBytes& buffer);
// Pads the header and payload in `buffer`, sets the pad count and encrypts:
// the one container sealer.
void seal_container(SecretBytes& buffer, const Key& key);

}  // namespace orbitforge::util::detail
