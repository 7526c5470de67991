#include "export_formats.h"

#include <algorithm>
#include <string_view>

#include "mac/mac_text.h"
#include "peer_names.h"

namespace adrvet_list {
namespace {

constexpr std::size_t kAddressSize = orbitforge::mac::kFormattedSize - 1;

void append_address(std::string& out, std::uint64_t value, char separator) {
  char text[orbitforge::mac::kFormattedSize];
  orbitforge::mac::format_address(value, separator, text);
  out.append(text, kAddressSize);
}

void append_upper_address(std::string& out, std::uint64_t value, char separator) {
  const std::size_t start = out.size();
  append_address(out, value, separator);
  for (std::size_t i = start; i < out.size(); ++i) {
    if (out[i] >= 'a' && out[i] <= 'f') {
      out[i] = static_cast<char>(out[i] - 'a' + 'A');
    }
  }
}

void write_lines(std::string& out, const std::vector<std::uint64_t>& values,
                 std::string_view prefix) {
  out.reserve(values.size() * (prefix.size() + kAddressSize + 1));
  for (const std::uint64_t value : values) {
    out += prefix;
    append_address(out, value, ':');
    out += '\n';
  }
}

// FreeRADIUS's rewrite_calling_station_id makes AA-BB-CC-DD-EE-FF, and the
// files module compares names case-sensitively.
void write_freeradius(std::string& out, const std::vector<std::uint64_t>& values) {
  out.reserve(values.size() * (kAddressSize + 1));
  for (const std::uint64_t value : values) {
    append_upper_address(out, value, '-');
    out += '\n';
  }
}

std::size_t power_of_two_at_least(std::size_t n) {
  std::size_t p = 1;
  while (p < n) {
    p <<= 1U;
  }
  return p;
}

// Fill a temporary set, swap it with the live one, destroy it: the live set
// changes in one step, and the script runs again and again.
void write_ipset(std::string& out, const std::vector<std::uint64_t>& values,
                 const std::string& name, std::vector<std::uint64_t>& left_out) {
  constexpr std::size_t kMinHashSize = 1024;  // ipset's own default
  const std::size_t hash_size = power_of_two_at_least(std::max(values.size(), kMinHashSize));
  const std::size_t max_elements = std::max(values.size(), kIpsetMaxElements);
  const std::string temporary = name + std::string(kIpsetTemporarySuffix);
  const std::string sizes = " hash:mac hashsize " + std::to_string(hash_size) + " maxelem " +
                            std::to_string(max_elements);
  out += "create " + name + sizes + " -exist\n";
  // -exist and flush: a temporary set an interrupted run left behind is reused.
  out += "create " + temporary + sizes + " -exist\n";
  out += "flush " + temporary + "\n";
  const std::string prefix = "add " + temporary + " ";
  out.reserve(out.size() + values.size() * (prefix.size() + kAddressSize + 1));
  for (const std::uint64_t value : values) {
    if (value == 0) {  // hash:mac refuses it as a null-valued element
      left_out.push_back(value);
      continue;
    }
    out += prefix;
    append_address(out, value, ':');
    out += '\n';
  }
  out += "swap " + temporary + " " + name + "\n";
  out += "destroy " + temporary + "\n";
}

// Declaring the table and set creates them when missing and leaves them
// otherwise; one file is one nft transaction, so the flush and the new
// elements take effect together.
void write_nft(std::string& out, const std::vector<std::uint64_t>& values,
               const ExportNames& names) {
  const std::string where = names.family + " " + names.table + " " + names.set;
  out += "table " + names.family + " " + names.table + " {\n";
  out += "\tset " + names.set + " {\n\t\ttype ether_addr\n\t}\n}\n";
  out += "flush set " + where + "\n";
  if (values.empty()) {  // nft refuses an empty element list
    return;
  }
  out += "add element " + where + " {\n";
  out.reserve(out.size() + values.size() * (kAddressSize + 3) + 2);
  for (std::size_t i = 0; i < values.size(); ++i) {
    out += '\t';
    append_address(out, values[i], ':');
    out += i + 1 < values.size() ? ",\n" : "\n";
  }
  out += "}\n";
}

}  // namespace

std::string export_text(PeerFormat format, const std::vector<std::uint64_t>& values,
                        const ExportNames& names, std::vector<std::uint64_t>& left_out) {
  std::string out;
  switch (format) {
    case PeerFormat::plain:
    case PeerFormat::hostapd:
    case PeerFormat::dnsmasq_hosts:  // a hosts-file line is what follows "dhcp-host="
      write_lines(out, values, "");
      break;
    case PeerFormat::dnsmasq:
      write_lines(out, values, "dhcp-host=");
      break;
    case PeerFormat::ipset:
      write_ipset(out, values, names.set, left_out);
      break;
    case PeerFormat::nft:
      write_nft(out, values, names);
      break;
    case PeerFormat::freeradius:
      write_freeradius(out, values);
      break;
  }
  return out;
}

}  // namespace adrvet_list
