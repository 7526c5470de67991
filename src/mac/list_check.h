// The check ADRVET runs: one entered address against the list text of an
// opened container, with ADRVET's result codes and their precedence: a
// faulty list (-4, -5) decides before a faulty address (-6, -7).
#pragma once

#include <cstddef>

#include "crypto/container.h"
#include "mac/result_code.h"

namespace orbitforge::mac {

// The file of a list directory DIR that ADRVET checks: DIR/engine.dat.
inline constexpr char kListFileName[] = "engine.dat";

// The longest entered address ADRVET accepts, in characters; a longer one
// is a usage error (-8).
inline constexpr std::size_t kMaxEnteredChars = 63;

// Checks `mac_text` against the list in `reader`, which open() accepted.
// A list in the canonical layout ("aa:bb:cc:dd:ee:ff\n" lines) is validated
// piece by piece and binary-searched. One of at most
// ContainerReader::kWholeReadBytes is held whole, decrypted at once; a
// larger one is read from the file a piece at a time, never whole.
ResultCode check_list(util::ContainerReader& reader, const char* mac_text);

}  // namespace orbitforge::mac
