// dnsmasq: dhcp-host= lines of a conf-file (dnsmasq), and the same without
// "dhcp-host=" in a dhcp-hostsfile (dnsmasq-hosts), reread on SIGHUP.
#include <algorithm>
#include <cstddef>

#include "formats/peers.h"
#include "formats/text.h"
#include "mac/hex2int.h"

namespace adrvet_list::peers {
namespace {

// dnsmasq writes hardware addresses as six hex pairs joined by ':', where
// '*' stands for any byte; any other field of dhcp-host (name, IP, tag,
// lease time, client ID) is not one.
enum class Field { other, address, wildcard };

bool is_hex_pair(std::string_view part) {
  return part.size() == 2 && orbitforge::util::is_hex_digit(static_cast<unsigned char>(part[0])) &&
         orbitforge::util::is_hex_digit(static_cast<unsigned char>(part[1]));
}

Field field_kind(std::string_view field) {
  constexpr std::ptrdiff_t kColons = 5;
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
  return wildcard ? Field::wildcard : Field::address;
}

// dhcp-host=[addresses,][id:..,][set:..,][tag:..,][ip,][name,][lease,][ignore]
class DnsmasqReader final : public PeerReader {
 public:
  explicit DnsmasqReader(bool hosts_file) : hosts_file_(hosts_file) {}

 protected:
  void take(std::string_view line) override {
    const std::string_view trimmed = text::trim(line);
    if (text::is_comment_or_blank(trimmed)) {
      return;
    }
    std::string_view value = trimmed;
    if (!hosts_file_) {
      constexpr std::string_view kOption = "dhcp-host";
      const std::size_t equals = trimmed.find('=');
      if (equals == std::string_view::npos || text::trim(trimmed.substr(0, equals)) != kOption) {
        add_invalid(trimmed, "not a dhcp-host= line");
        return;
      }
      value = trimmed.substr(equals + 1);
    }
    take_fields(trimmed, value);
  }

 private:
  void take_fields(std::string_view line, std::string_view value) {
    std::vector<std::string_view> addresses;
    for (;;) {
      const std::size_t comma = value.find(',');
      const std::string_view field = text::trim(value.substr(0, comma));
      if (field == "ignore") {
        add_invalid(line, "an 'ignore' entry keeps the host out");
        return;
      }
      const Field kind = field_kind(field);
      if (kind == Field::wildcard) {
        add_invalid(line, "a wildcard address stands for many addresses");
        return;
      }
      if (kind == Field::address) {
        addresses.push_back(field);
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
    for (const std::string_view address : addresses) {
      add_address(address);
    }
  }

  bool hosts_file_;
};

}  // namespace

void write_dnsmasq(std::string& out, const Addresses& values, const ExportNames& /*names*/,
                   Addresses& /*left_out*/) {
  text::write_lines(out, values, "dhcp-host=");
}

std::unique_ptr<PeerReader> dnsmasq_reader() { return std::make_unique<DnsmasqReader>(false); }

// A hosts-file line is what follows "dhcp-host=".
void write_dnsmasq_hosts(std::string& out, const Addresses& values, const ExportNames& /*names*/,
                         Addresses& /*left_out*/) {
  text::write_lines(out, values, "");
}

std::unique_ptr<PeerReader> dnsmasq_hosts_reader() { return std::make_unique<DnsmasqReader>(true); }

}  // namespace adrvet_list::peers
