// The text of a list in the form each peer loads, and reloads in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "peer_format.h"

namespace adrvet_list {

struct ExportNames {
  std::string family = "inet";   // nft: inet, bridge or netdev
  std::string table = "adrvet";  // nft
  std::string set = "adrvet";    // nft and ipset
};

// ipset's maxelem: one value for every export, so that the live set, once
// swapped, still matches the next export's "create -exist" (the kernel
// compares maxelem but not hashsize); larger lists raise it.
inline constexpr std::size_t kIpsetMaxElements = std::size_t{1} << 24U;

// The export of `values` (in their order) as `format`. Addresses the peer
// cannot hold (ipset: the all-zero address) are left out and appended to
// `left_out`.
std::string export_text(PeerFormat format, const std::vector<std::uint64_t>& values,
                        const ExportNames& names, std::vector<std::uint64_t>& left_out);

}  // namespace adrvet_list
