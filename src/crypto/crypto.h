// Protected containers: the key (key.h) and the operations that write and
// open containers; and the digest of a file.
//
// A container is the AES-128-CTR transform of
//   "Orbit Forge" (11 bytes) | pad count (1 byte) | payload | pad count zero bytes
// under a key derived from the Key's first 16 bytes, always starting at the
// same counter block. It hides the payload from casual reading; it does not
// authenticate it.
#pragma once

#include <vector>

#include "crypto/key.h"

namespace orbitforge::util {

// Opens the container at `path` into `*out`, replacing its content.
// 1: `*out` holds the payload. -1: the file is missing, unreadable, not a
// regular file, truncated before its header, declares more padding than it
// holds, or is 4 GiB or larger. -2: the decrypted head is not the magic (the
// other key version, or not a container). On failure `*out` is untouched.
int decrypt_file(const char* path, std::vector<unsigned char>* out, const Key& key);

// Opens the container at `in_path` and writes its payload to `out_path`.
// False on every failure of the in-memory form, without touching `out_path`,
// and when writing fails (the old `out_path` then stays as it was).
bool decrypt_file(const char* in_path, const char* out_path, const Key& key);

// Protects the plain file `in_path` into the container `out_path`. The input
// is read whole before the output is replaced, so both may name one file.
// False when the input cannot be read whole, when the container would reach
// 4 GiB, or when writing fails; the old `out_path` then stays as it was.
bool encrypt_file(const char* in_path, const char* out_path, const Key& key);

// Writes the 32-byte SHA-256 digest of the file at `path`, as stored (a
// container is digested encrypted), to `out`. `size` must be 32. False, with
// `out` untouched, for any other size or when the file cannot be read whole.
bool hash_file(const char* path, char* out, int size);

}  // namespace orbitforge::util
