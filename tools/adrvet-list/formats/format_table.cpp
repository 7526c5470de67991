#include "formats/format_table.h"

#include <algorithm>

#include "formats/peers.h"

namespace adrvet_list {
namespace {

using namespace peers;  // NOLINT(google-build-using-namespace): the table names every peer

// A new peer is one file beside this one and one row here.
constexpr PeerFormat kFormats[] = {
    {"plain", write_plain, plain_reader, nullptr,  //
     "aa:bb:cc:dd:ee:ff, one per line (the default)", SetNames::none},
    {"hostapd", write_hostapd, hostapd_reader, nullptr,
     "an accept_mac_file (or deny_mac_file): one address per line", SetNames::none},
    {"dnsmasq", write_dnsmasq, dnsmasq_reader, nullptr,
     "dhcp-host=aa:bb:cc:dd:ee:ff lines, for conf-file= (restart)", SetNames::none},
    {"dnsmasq-hosts", write_dnsmasq_hosts, dnsmasq_hosts_reader, nullptr,
     "aa:bb:cc:dd:ee:ff lines, for dhcp-hostsfile= (reread on SIGHUP)", SetNames::none},
    {"ipset", write_ipset, ipset_reader, ipset_names_problem,
     "an 'ipset restore' script: fills the temporary set SET-new,\n"
     "                 swaps it with SET (created when missing), destroys it; the\n"
     "                 all-zero address, which hash:mac cannot hold, is left out",
     SetNames::set},
    {"nft", write_nft, nft_reader, nft_names_problem,
     "an 'nft -f' file: creates table FAMILY TABLE and its set SET\n"
     "                 of type ether_addr when missing, flushes the set and adds\n"
     "                 the addresses, in one transaction",
     SetNames::set_table_family},
    {"freeradius", write_freeradius, freeradius_reader, nullptr,
     "AA-BB-CC-DD-EE-FF lines for the files module, as FreeRADIUS's\n"
     "                 rewrite_calling_station_id writes addresses",
     SetNames::none},
};

}  // namespace

std::span<const PeerFormat> peer_formats() { return kFormats; }

const PeerFormat* find_peer_format(std::string_view name) {
  for (const PeerFormat& format : kFormats) {
    if (format.name == name) {
      return &format;
    }
  }
  return nullptr;
}

const DeviceNote* ExportNotes::find(std::uint64_t address) const {
  const auto at = std::lower_bound(
      notes.begin(), notes.end(), address,
      [](const DeviceNote& note, std::uint64_t wanted) { return note.address < wanted; });
  return at != notes.end() && at->address == address ? &*at : nullptr;
}

const DeviceNote* note_of(const ExportNames& names, std::uint64_t address) {
  return names.notes != nullptr ? names.notes->find(address) : nullptr;
}

bool uses_name(const PeerFormat& format, std::string_view name) {
  if (name == "name") {
    return format.names != SetNames::none;
  }
  return format.names == SetNames::set_table_family;
}

std::string export_text(const PeerFormat& format, const Addresses& values, const ExportNames& names,
                        Addresses& left_out) {
  std::string out;
  format.write(out, values, names, left_out);
  return out;
}

}  // namespace adrvet_list
