// The addresses a peer file holds, read without a word: what an export's
// dry run compares the new export with.
#pragma once

#include <optional>
#include <string>

#include "common/addresses.h"
#include "formats/peer_format.h"

namespace adrvet_list {

// The addresses the regular file at `path` leaves in its peer's set as
// `format` reads it, ascending and unique; nullopt when it is not a
// regular file, cannot be read whole, or holds a line `format` refuses.
std::optional<Addresses> file_addresses(const std::string& path, const PeerFormat& format);

}  // namespace adrvet_list
