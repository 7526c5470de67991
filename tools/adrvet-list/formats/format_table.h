// The peer formats adrvet-list writes (export --format) and reads (pack and
// add --from), one row each in format_table.cpp.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "formats/peer_format.h"

namespace adrvet_list {

// Every format, in the order help texts list them.
std::span<const PeerFormat> peer_formats();

// "plain", "hostapd", "dnsmasq", ...; nullptr for any other name.
const PeerFormat* find_peer_format(std::string_view name);

// Whether `format`'s file names its set's "name", or its "table" and
// "family" too: an option or key of that name is refused where not.
bool uses_name(const PeerFormat& format, std::string_view name);

// The export of `values` (in their order) as `format`; see PeerFormat::write.
std::string export_text(const PeerFormat& format, const Addresses& values, const ExportNames& names,
                        Addresses& left_out);

}  // namespace adrvet_list
