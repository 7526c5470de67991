// hostapd: accept_mac_file and deny_mac_file, "aa:bb:cc:dd:ee:ff [VLAN]"
// lines; '#' starts a comment line.
#include <algorithm>

#include "formats/peers.h"
#include "formats/text.h"

namespace adrvet_list::peers {
namespace {

// hostapd reads its MAC files in pieces of at most 127 bytes and takes each
// piece as a line of its own, so the rest of a longer comment would be read
// as an address. A label comment stays far below that.
constexpr std::size_t kMaxHostapdLine = 127;
constexpr std::size_t kMaxHostapdLabel = 96;

// hostapd's VLAN field: an ID, or IDs joined by '+' (untagged+tagged); in
// "hostapd_cli accept_acl SHOW" output, VLAN_ID=ID.
bool is_vlan_field(std::string_view field) {
  constexpr std::string_view kShown = "VLAN_ID=";
  if (field.starts_with(kShown)) {
    field.remove_prefix(kShown.size());
  }
  if (field.empty() || field.front() == '+' || field.back() == '+') {
    return false;
  }
  return std::all_of(field.begin(), field.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '+'; });
}

// hostapd ends a line at '#', also right after the address, and takes a
// '-' before the address as taking it out of the list read so far.
class HostapdReader final : public PeerReader {
 protected:
  void take(std::string_view line) override {
    if (line.size() > kMaxHostapdLine) {
      // hostapd refuses such a file, or admits what the rest of the line says.
      add_invalid(line, "a line longer than the 127 bytes hostapd reads as one");
      return;
    }
    if (comment_.keep(line)) {
      return;
    }
    const std::string_view above = comment_.take();
    std::string_view trimmed = text::trim(line.substr(0, line.find('#')));
    if (trimmed.empty()) {
      return;
    }
    const bool removal = trimmed.front() == '-';
    if (removal) {
      trimmed.remove_prefix(1);
    }
    std::string_view rest;
    const std::string_view address = text::first_word(trimmed, rest);
    if (!rest.empty() && !is_vlan_field(rest)) {
      add_invalid(trimmed, "not a VLAN ID after the address");
    } else if (removal) {
      add_removal(address);
    } else {
      add_address(address);
      if (ParsedLine* entry = last_address()) {
        entry->label = above;
      }
    }
  }

 private:
  text::CommentAbove comment_;
};

}  // namespace

void write_hostapd(std::string& out, const Addresses& values, const ExportNames& names,
                   Addresses& /*left_out*/) {
  text::write_lines(out, values, "", names, kMaxHostapdLabel);
}

std::unique_ptr<PeerReader> hostapd_reader() { return std::make_unique<HostapdReader>(); }

}  // namespace adrvet_list::peers
