// The check ADRVET runs: one entered address against the list text of an
// opened container, with ADRVET's result codes and their precedence: a
// faulty list (-4, -5) decides before a faulty address (-6, -7).
#pragma once

#include "crypto/container.h"
#include "mac/result_code.h"

namespace orbitforge::mac {

// Checks `mac_text` against the list in `reader`, which open() accepted.
// A list in the canonical layout ("aa:bb:cc:dd:ee:ff\n" lines) is validated
// piece by piece and binary-searched in the file, never held whole.
ResultCode check_list(util::ContainerReader& reader, const char* mac_text);

}  // namespace orbitforge::mac
