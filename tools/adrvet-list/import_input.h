// Whole inputs, plain or in a peer's format, read line by line for pack,
// add --from and add's '-'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "peer_format.h"

namespace adrvet_list {

// The format --from names (plain when absent), or nullopt after a message.
std::optional<PeerFormat> import_format(const Options& options, const char* command);

struct ImportCount {
  std::size_t invalid = 0;  // invalid lines
  bool read = true;         // false when the input could not be read whole
};

// Appends the addresses of INPUT (a file, or - for standard input) in
// `format` to `values`, holding no more of a line than parsing needs.
// Invalid lines are reported as INPUT:LINE: reason: 'text' (a short,
// escaped excerpt; the first 20, then a count), unusual addresses as
// warnings unless `quiet`.
ImportCount import_input(const std::string& input, PeerFormat format, bool quiet,
                         std::vector<std::uint64_t>& values);

// The same for several inputs; false when any could not be read or held an
// invalid line.
bool import_inputs(const std::vector<std::string>& inputs, PeerFormat format, bool quiet,
                   std::vector<std::uint64_t>& values);

}  // namespace adrvet_list
