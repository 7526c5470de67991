// hostapd: accept_mac_file and deny_mac_file, "aa:bb:cc:dd:ee:ff [VLAN]"
// lines; '#' starts a comment line.
#include <algorithm>

#include "formats/peers.h"
#include "formats/text.h"

namespace adrvet_list::peers {
namespace {

// hostapd's VLAN field: an ID, or IDs joined by '+' (untagged+tagged).
bool is_vlan_field(std::string_view field) {
  if (field.empty() || field.front() == '+' || field.back() == '+') {
    return false;
  }
  return std::all_of(field.begin(), field.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '+'; });
}

class HostapdReader final : public PeerReader {
 protected:
  void take(std::string_view line) override {
    const std::string_view trimmed = text::trim(line);
    if (text::is_comment_or_blank(trimmed)) {
      return;
    }
    if (trimmed.front() == '-') {
      add_invalid(trimmed, "a removal line ('-' before the address) lists no address");
      return;
    }
    std::string_view rest;
    const std::string_view address = text::first_word(trimmed, rest);
    if (!rest.empty() && !is_vlan_field(rest)) {
      add_invalid(trimmed, "not a VLAN ID after the address");
      return;
    }
    add_address(address);
  }
};

}  // namespace

void write_hostapd(std::string& out, const Addresses& values, const ExportNames& /*names*/,
                   Addresses& /*left_out*/) {
  text::write_lines(out, values, "");
}

std::unique_ptr<PeerReader> hostapd_reader() { return std::make_unique<HostapdReader>(); }

}  // namespace adrvet_list::peers
