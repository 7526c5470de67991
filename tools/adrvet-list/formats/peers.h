// The pieces each peer's file provides, for the table in format_table.cpp.
// Writers append to `out`; names checkers give "" when the names will do.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "formats/peer_format.h"

namespace adrvet_list::peers {

// plain.cpp: one address per line, in any notation ADRVET accepts.
void write_plain(std::string& out, const Addresses& values, const ExportNames& names,
                 Addresses& left_out);
std::unique_ptr<PeerReader> plain_reader();

// hostapd.cpp: accept_mac_file and deny_mac_file.
void write_hostapd(std::string& out, const Addresses& values, const ExportNames& names,
                   Addresses& left_out);
std::unique_ptr<PeerReader> hostapd_reader();

// dnsmasq.cpp: dhcp-host= lines of a conf-file, and dhcp-hostsfile lines.
void write_dnsmasq(std::string& out, const Addresses& values, const ExportNames& names,
                   Addresses& left_out);
std::unique_ptr<PeerReader> dnsmasq_reader();
void write_dnsmasq_hosts(std::string& out, const Addresses& values, const ExportNames& names,
                         Addresses& left_out);
std::unique_ptr<PeerReader> dnsmasq_hosts_reader();

// ipset.cpp: restore scripts and "ipset save" output.
void write_ipset(std::string& out, const Addresses& values, const ExportNames& names,
                 Addresses& left_out);
std::unique_ptr<PeerReader> ipset_reader();
std::string ipset_names_problem(const ExportNames& names);
// Why ipset would refuse `name` (with the temporary suffix) as a set name,
// or nullptr.
const char* ipset_name_problem(std::string_view name);
// ipset's maxelem: one value for every export, so that the live set, once
// swapped, still matches the next export's "create -exist" (the kernel
// compares maxelem but not hashsize); larger lists raise it.
inline constexpr std::size_t kIpsetMaxElements = std::size_t{1} << 24U;

// nft.cpp: "nft -f" files, "nft list set" and "nft list ruleset" output.
void write_nft(std::string& out, const Addresses& values, const ExportNames& names,
               Addresses& left_out);
std::unique_ptr<PeerReader> nft_reader();
std::string nft_names_problem(const ExportNames& names);
// Whether nft has the family `name` (ip, ip6, inet, arp, bridge, netdev).
bool is_nft_family(std::string_view name);
// Why nft would refuse `name` as a table or set name, or nullptr. nft 1.0.6
// takes no quoted names there, so keywords cannot be written at all.
const char* nft_name_problem(std::string_view name);

// freeradius.cpp: entries of the files module.
void write_freeradius(std::string& out, const Addresses& values, const ExportNames& names,
                      Addresses& left_out);
std::unique_ptr<PeerReader> freeradius_reader();

}  // namespace adrvet_list::peers
