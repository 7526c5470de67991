// The labels and lifetimes an export writes beside the addresses, read from
// the inventory of the list; export and sync render the same file with them.
#pragma once

#include <string>

#include "common/addresses.h"
#include "formats/peer_format.h"

namespace adrvet_list {

// The notes of the listed addresses in `values` from the inventory of the
// list file at `list_path`. With `timeouts`, each note gets the seconds its
// address has left, and the addresses whose expiry has passed are taken
// out of `values` (with a warning): a peer must not admit them for a
// second. A damaged inventory gives no notes, with a warning that begins
// with `command`: the list alone still decides what is exported.
ExportNotes load_export_notes(const std::string& list_path, int key_version, bool timeouts,
                              Addresses& values, const char* command);

}  // namespace adrvet_list
