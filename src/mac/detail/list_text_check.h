// The list check on list text behind a reader callback, so that tests and
// fuzz targets can feed it from memory and fail reads at will. Internal:
// not part of the installed interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "mac/result_code.h"

namespace orbitforge::mac {

// Reads list text bytes [offset, offset + size) into `out`; false on failure.
using ListTextReader =
    std::function<bool(std::uint64_t offset, unsigned char* out, std::size_t size)>;

// Whole canonical lines ("aa:bb:cc:dd:ee:ff\n") read at once: about 72 KiB,
// small enough to stay in the L2 cache while it is decrypted and checked.
inline constexpr std::size_t kCheckPieceBytes = std::size_t{18} * 8 * 512;

// Checks `mac_text` against the `size` bytes of list text behind `read`.
// Text in the canonical layout is validated in pieces of `piece_bytes`
// (rounded down to whole lines) and then binary-searched through `read`;
// other text is read whole and decoded. A failed read gives cannot_load.
ResultCode check_list_text(std::uint64_t size, const ListTextReader& read, const char* mac_text,
                           std::size_t piece_bytes = kCheckPieceBytes);

}  // namespace orbitforge::mac
