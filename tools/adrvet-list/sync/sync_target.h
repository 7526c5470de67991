// Bringing one enforcement point in step with a list: render the peer's file,
// compare it with the live one, check it with the peer's own checker, replace
// the live file crash-safe under the output's lock, and reload the peer;
// a failed reload puts the old file back.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "common/addresses.h"
#include "formats/peer_format.h"
#include "sync/targets_file.h"

namespace adrvet_list {

enum class SyncMode { sync, check, dry_run };

enum class TargetState { in_step, updated, would_update, missing, drifted, failed };

// "in_step", "updated", ...: as JSON and the printed report name them.
const char* state_name(TargetState state);

struct TargetReport {
  std::string name;
  std::string format;
  std::string output;
  TargetState state = TargetState::in_step;
  std::size_t added = 0;    // addresses the live file lacks
  std::size_t removed = 0;  // addresses the live file has in excess
  std::optional<std::string> message;
};

struct SyncSettings {
  SyncMode mode = SyncMode::sync;
  std::chrono::milliseconds wait{300000};   // for another sync of the same output
  std::chrono::seconds command_limit{300};  // for each check and reload
};

// `notes`: the labels the list's inventory gives, as export writes them.
TargetReport sync_target(const SyncTarget& target, const Addresses& values,
                         const ExportNotes& notes, const SyncSettings& settings);

}  // namespace adrvet_list
