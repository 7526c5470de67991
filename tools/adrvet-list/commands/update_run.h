// What add and remove share between their two ways of changing a list:
// streamed from the old container into the new one (update_streamed.cpp),
// or the whole list in memory (update.cpp), which takes every list the
// stream does not.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "common/addresses.h"
#include "common/audit_log.h"
#include "crypto/crypto.h"
#include "fs/file_update.h"
#include "store/inventory_edit.h"

namespace adrvet_list {

struct UpdateRun {
  const Options& options;
  bool adding;
  const char* command;  // "add" or "remove"
  const std::string& path;
  const orbitforge::util::Key& key;
  const Addresses& requested;  // ascending, free of duplicates
  const DeviceNotes& notes;
  std::int64_t now;
  AuditedChange& audit;
  // What the input says of its addresses: a spreadsheet's rows, the
  // entries a peer's file gives a label or an expiry; `notes` fill in what
  // they leave out (see combine_requests).
  const std::vector<RequestedDevice>& noted;
};

// What the change did, for the messages and the audit line.
struct UpdateDone {
  Addresses changed;    // added or removed
  Addresses unchanged;  // already present, or not on the list
  Addresses updated;    // label or expiry changed
  bool creating = false;
  std::size_t count = 0;  // addresses on the list afterwards
};

// The messages and the audit line of a change that succeeded; the exit status.
int report_update(const UpdateRun& run, const UpdateDone& done);

// The inventory's requests: each requested address with the notes given,
// its own or the command line's.
std::vector<RequestedDevice> device_requests(const UpdateRun& run);

// Makes the change by streaming, when the list of the locked update
// (which exists) is one the stream takes; nullopt, with nothing changed
// and nothing said, when it is not.
std::optional<int> update_streamed(const UpdateRun& run, orbitforge::util::FileUpdate& update);

}  // namespace adrvet_list
