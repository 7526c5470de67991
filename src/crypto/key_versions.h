// The built-in key versions: 1 ("S") and 2 ("U").
#pragma once

#include "crypto/crypto.h"

namespace orbitforge::util {

inline constexpr int kKeyVersionS = 1;
inline constexpr int kKeyVersionU = 2;

// The Key of a key version: its 16-byte pass phrase, no terminator.
// Any version other than 2 is taken as 1.
Key key_for_version(int version);

}  // namespace orbitforge::util
