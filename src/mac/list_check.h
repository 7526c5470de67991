// The check of one entered address against list text, with ADRVET's result
// codes and their precedence: a faulty list (-4, -5) decides before a faulty
// address (-6, -7). The list text is read through a callback, so that it
// can come from a container on disk piece by piece or from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace orbitforge::mac {

enum CheckResult : int {
  kCheckListed = 1,
  kCheckNotListed = 0,
  kCheckCannotLoad = -2,   // a read failed
  kCheckBadLength = -4,    // not a whole number of 12-digit entries
  kCheckBadContents = -5,  // an entry holds a character that is not a hex digit
  kCheckBadFormat = -6,    // the entered address has the wrong number of digits
  kCheckBadEntered = -7,   // the entered address holds a character that is not a hex digit
};

// Reads list text bytes [offset, offset + size) into `out`; false on failure.
using ListTextReader =
    std::function<bool(std::uint64_t offset, unsigned char* out, std::size_t size)>;

// Whole canonical lines ("aa:bb:cc:dd:ee:ff\n") read at once: about 72 KiB,
// small enough to stay in the L2 cache while it is decrypted and checked.
inline constexpr std::size_t kCheckPieceBytes = std::size_t{18} * 8 * 512;

// Checks `mac_text` against the `size` bytes of list text behind `read`.
// Text in the canonical layout is validated in pieces of `piece_bytes`
// (rounded down to whole lines) and then binary-searched through `read`, so
// it is never held whole; other text is read whole and decoded.
int check_list(std::uint64_t size, const ListTextReader& read, const char* mac_text,
               std::size_t piece_bytes = kCheckPieceBytes);

}  // namespace orbitforge::mac
