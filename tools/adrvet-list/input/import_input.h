// Whole inputs, plain or in a peer's format, read line by line for pack,
// add --from and add's '-'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/addresses.h"
#include "formats/peer_format.h"
#include "store/inventory_edit.h"

namespace adrvet_list {

struct ImportCount {
  std::size_t invalid = 0;     // invalid lines
  std::size_t duplicates = 0;  // dropped already while reading
  bool read = true;            // false when the input could not be read whole
};

// Appends the addresses of INPUT (a file, or - for standard input) in
// `format` (of the set `choice` names, where the file may hold several) to
// `values`, holding no more of a line than parsing needs. When
// `values` grows large it is sorted and freed of duplicates on the way, so
// that memory follows the distinct addresses, not the lines read.
// Invalid lines are reported as INPUT:LINE: reason: 'text' (a short,
// escaped excerpt; the first 20, then a count), unusual addresses as
// warnings unless `quiet`.
// With `devices`, the labels and expiries the file gives its entries (a
// comment, a host name, a timeout) are appended there too, checked as
// --label and --expires are: a bad one is an invalid line.
ImportCount import_input(const std::string& input, const PeerFormat& format,
                         const SetChoice& choice, bool quiet, Addresses& values,
                         std::vector<RequestedDevice>* devices = nullptr);

// The same for several inputs; false when any could not be read or held an
// invalid line.
bool import_inputs(const std::vector<std::string>& inputs, const PeerFormat& format,
                   const SetChoice& choice, bool quiet, Addresses& values,
                   std::vector<RequestedDevice>* devices = nullptr);

}  // namespace adrvet_list
