#include "peer_format.h"

namespace adrvet_list {

std::optional<PeerFormat> parse_peer_format(std::string_view name) {
  static constexpr struct {
    std::string_view name;
    PeerFormat format;
  } kFormats[] = {
      {"plain", PeerFormat::plain},          {"hostapd", PeerFormat::hostapd},
      {"dnsmasq", PeerFormat::dnsmasq},      {"dnsmasq-hosts", PeerFormat::dnsmasq_hosts},
      {"ipset", PeerFormat::ipset},          {"nft", PeerFormat::nft},
      {"freeradius", PeerFormat::freeradius}};
  for (const auto& f : kFormats) {
    if (name == f.name) {
      return f.format;
    }
  }
  return std::nullopt;
}

}  // namespace adrvet_list
