// Whole inputs in a peer's format, for the commands that take --from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "peer_format.h"

namespace adrvet_list {

// The format --from names (plain when absent), or nullopt after a message.
std::optional<PeerFormat> import_format(const Options& options, const char* command);

// Appends the addresses of each input (a file, or - for standard input) in
// `format` to `values`. Invalid lines are reported as INPUT:LINE: reason:
// 'text', and unusual addresses as warnings unless `quiet`; false when an
// input could not be read or held an invalid line.
bool import_inputs(const std::vector<std::string>& inputs, PeerFormat format, bool quiet,
                   std::vector<std::uint64_t>& values);

}  // namespace adrvet_list
