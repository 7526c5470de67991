// dnsmasq: dhcp-host= lines of a conf-file (dnsmasq), and the same without
// "dhcp-host=" in a dhcp-hostsfile (dnsmasq-hosts), reread on SIGHUP.
#include <algorithm>
#include <cstddef>

#include "formats/label_text.h"
#include "formats/peers.h"
#include "formats/text.h"
#include "mac/hex2int.h"

namespace adrvet_list::peers {
namespace {

// dnsmasq writes hardware addresses as six hex pairs joined by ':', where
// '*' stands for any byte, optionally after a hardware type ("01-" is
// Ethernet); any other field of dhcp-host (name, IP, tag, lease time,
// client ID) is not one.
enum class Field { other, address, wildcard, other_hardware };

bool is_hex_pair(std::string_view part) {
  return part.size() == 2 && orbitforge::util::is_hex_digit(static_cast<unsigned char>(part[0])) &&
         orbitforge::util::is_hex_digit(static_cast<unsigned char>(part[1]));
}

Field field_kind(std::string_view field) {
  constexpr std::ptrdiff_t kColons = 5;
  constexpr std::size_t kTypePrefix = 3;  // "01-"
  bool other_type = false;
  if (field.size() > kTypePrefix && field[2] == '-' && is_hex_pair(field.substr(0, 2))) {
    other_type = field.substr(0, 2) != "01";
    field.remove_prefix(kTypePrefix);
  }
  if (std::count(field.begin(), field.end(), ':') != kColons) {
    return Field::other;
  }
  bool wildcard = false;
  for (std::size_t start = 0; start <= field.size();) {
    const std::size_t colon = std::min(field.find(':', start), field.size());
    const std::string_view part = field.substr(start, colon - start);
    if (!is_hex_pair(part) && part != "*") {
      return Field::other;
    }
    wildcard = wildcard || part == "*";
    start = colon + 1;
  }
  if (other_type) {
    return Field::other_hardware;
  }
  return wildcard ? Field::wildcard : Field::address;
}

// dnsmasq reads '#' as a comment at the start of a line or after white space.
std::string_view without_comment(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || text::is_blank(line[i - 1]))) {
      return text::trim(line.substr(0, i));
    }
  }
  return text::trim(line);
}

bool is_ipv4(std::string_view field) {
  return !field.empty() && std::count(field.begin(), field.end(), '.') == 3 &&
         std::all_of(field.begin(), field.end(),
                     [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// Options that bring in more hosts or other files: what they hold is not
// read here, and may keep out a host this file lets in.
bool is_include(std::string_view option) {
  return option == "conf-file" || option == "conf-dir" || option == "dhcp-hostsfile" ||
         option == "dhcp-hostsdir" || option == "dhcp-optsfile" || option == "dhcp-optsdir";
}

// dhcp-host=[addresses,][id:..,][set:..,][tag:..,][ip,][name,][lease,][ignore]
class DnsmasqReader final : public PeerReader {
 public:
  explicit DnsmasqReader(bool hosts_file) : hosts_file_(hosts_file) {}

 protected:
  void take(std::string_view line) override {
    if (comment_.keep(line)) {
      return;
    }
    above_ = comment_.take();
    const std::string_view trimmed = without_comment(line);
    if (trimmed.empty()) {
      return;
    }
    std::string_view value = trimmed;
    if (!hosts_file_) {
      constexpr std::string_view kOption = "dhcp-host";
      const std::size_t equals = trimmed.find('=');
      const std::string_view option = text::trim(trimmed.substr(0, equals));
      if (is_include(option)) {
        add_invalid(trimmed, "an include is not followed; import the included file too");
        return;
      }
      if (equals == std::string_view::npos || option != kOption) {
        add_skipped(trimmed, "not dhcp-host= lines");
        return;
      }
      value = trimmed.substr(equals + 1);
    }
    take_fields(trimmed, value);
  }

 private:
  void take_fields(std::string_view line, std::string_view value);

  bool hosts_file_;
  text::CommentAbove comment_;
  std::string_view above_;  // the comment line above this one
  std::string label_;       // the host name and tags of this line
};

// dnsmasq's lease times: a number with s, m, h, d or w after it, or
// "infinite"; "deleted" in a dhcp-hostsfile.
bool is_lease_time(std::string_view field) {
  if (field == "infinite" || field == "deleted") {
    return true;
  }
  std::size_t digits = 0;
  while (digits < field.size() && field[digits] >= '0' && field[digits] <= '9') {
    ++digits;
  }
  return digits > 0 && (digits == field.size() ||
                        (digits + 1 == field.size() &&
                         std::string_view("smhdw").find(field.back()) != std::string_view::npos));
}

// The host name of a dhcp-host field, or empty: what is not an address,
// IP, client ID, tag or lease time.
std::string_view host_name(std::string_view field) {
  if (field.empty() || is_ipv4(field) || field.starts_with('[') || field.starts_with("id:") ||
      field.starts_with("set:") || field.starts_with("tag:") || is_lease_time(field)) {
    return {};
  }
  return field;
}

void DnsmasqReader::take_fields(std::string_view line, std::string_view value) {
  std::vector<std::string_view> addresses;
  std::string_view name;
  std::string tags;
  bool ipv4 = false;
  bool ipv6 = false;
  for (;;) {
    const std::size_t comma = value.find(',');
    const std::string_view field = text::trim(value.substr(0, comma));
    if (field == "ignore") {
      add_invalid(line, "an 'ignore' entry keeps the host out");
      return;
    }
    if (field.starts_with("tag:")) {
      add_invalid(line, "a tag: condition: dnsmasq takes the entry only for hosts with that tag");
      return;
    }
    ipv4 = ipv4 || is_ipv4(field);
    ipv6 = ipv6 || field.starts_with('[');
    switch (field_kind(field)) {
      case Field::wildcard:
        add_invalid(line, "a wildcard address stands for many addresses");
        return;
      case Field::other_hardware:
        add_invalid(line, "a hardware type other than 01 (Ethernet)");
        return;
      case Field::address:
        addresses.push_back(field.size() > text::kAddressSize ? field.substr(3) : field);
        break;
      case Field::other:
        if (field.starts_with("set:")) {
          tags += (tags.empty() ? "" : " ") + std::string(field);
        } else if (name.empty()) {
          name = host_name(field);
        }
        break;
    }
    if (comma == std::string_view::npos) {
      break;
    }
    value.remove_prefix(comma + 1);
  }
  if (addresses.empty()) {
    add_invalid(line, "no hardware address (an entry by name, client ID or IP only)");
    return;
  }
  if (ipv6 && !ipv4) {
    add_invalid(line, "only an IPv6 address: dnsmasq does not take the host as known for DHCPv4");
    return;
  }
  // The host name and tags are the label; without them, the comment above.
  label_ = std::string(name) + (name.empty() || tags.empty() ? "" : " ") + tags;
  const std::string_view label = label_.empty() ? above_ : std::string_view(label_);
  for (const std::string_view address : addresses) {
    add_address(address);
    if (ParsedLine* entry = last_address()) {
      entry->label = label;
    }
  }
}

}  // namespace

void write_dnsmasq(std::string& out, const Addresses& values, const ExportNames& names,
                   Addresses& /*left_out*/) {
  text::write_lines(out, values, "dhcp-host=", names, kMaxLabelBytes);
}

std::unique_ptr<PeerReader> dnsmasq_reader() { return std::make_unique<DnsmasqReader>(false); }

// A hosts-file line is what follows "dhcp-host=".
void write_dnsmasq_hosts(std::string& out, const Addresses& values, const ExportNames& names,
                         Addresses& /*left_out*/) {
  text::write_lines(out, values, "", names, kMaxLabelBytes);
}

std::unique_ptr<PeerReader> dnsmasq_hosts_reader() { return std::make_unique<DnsmasqReader>(true); }

}  // namespace adrvet_list::peers
