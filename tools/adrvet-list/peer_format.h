// The formats of the systems that enforce MAC lists, shared by export and
// import so that every format written can be read back.
#pragma once

#include <optional>
#include <string_view>

namespace adrvet_list {

enum class PeerFormat { plain, hostapd, dnsmasq, dnsmasq_hosts, ipset, nft, freeradius };

// "plain", "hostapd", "dnsmasq", "dnsmasq-hosts", "ipset", "nft", "freeradius".
std::optional<PeerFormat> parse_peer_format(std::string_view name);

}  // namespace adrvet_list
