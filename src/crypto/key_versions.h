// The built-in key versions: 1 ("S") and 2 ("U").
#pragma once

#include <optional>
#include <string_view>

#include "crypto/crypto.h"

namespace orbitforge::util {

inline constexpr int kKeyVersionS = 1;
inline constexpr int kKeyVersionU = 2;

// The Key of a key version: its 16-byte pass phrase, no terminator.
// Any version other than 2 is taken as 1.
Key key_for_version(int version);

// The key version a command line names: "S" or "s" gives 1, "U" or "u"
// gives 2, anything else nothing.
std::optional<int> parse_key_version(std::string_view text);

}  // namespace orbitforge::util
