// FreeRADIUS: entries of the files module, "user [check items]" lines with
// reply items on the indented lines after them.
#include <cctype>

#include "formats/peers.h"
#include "formats/text.h"

namespace adrvet_list::peers {
namespace {

std::string_view unquote(std::string_view quoted) {
  if (quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"') {
    return quoted.substr(1, quoted.size() - 2);
  }
  return quoted;
}

// A check item Auth-Type := Reject (or = or ==) on the entry line.
bool rejects(std::string_view check_items) {
  std::string squeezed;
  for (const char c : check_items) {
    if (!text::is_blank(c) && c != '"') {
      squeezed += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  for (const std::string_view item :
       {"auth-type:=reject", "auth-type==reject", "auth-type=reject"}) {
    const std::size_t at = squeezed.find(item);
    if (at != std::string::npos &&
        (at + item.size() == squeezed.size() || squeezed[at + item.size()] == ',')) {
      return true;
    }
  }
  return false;
}

class FreeradiusReader final : public PeerReader {
 protected:
  void take(std::string_view line) override {
    if (line.empty() || text::is_blank(line.front())) {
      return;  // reply items of the entry above, or nothing
    }
    const std::string_view trimmed = text::trim(line);
    if (text::is_comment_or_blank(trimmed)) {
      return;
    }
    std::string_view check_items;
    const std::string_view name = text::first_word(trimmed, check_items);
    if (name == "$INCLUDE" || name == "$-INCLUDE") {
      add_invalid(trimmed, "an include is not followed; import the included file");
    } else if (name == "DEFAULT") {
      add_invalid(trimmed, "a DEFAULT entry names no address");
    } else if (rejects(check_items)) {
      add_invalid(trimmed, "an entry with Auth-Type := Reject keeps the address out");
    } else {
      add_address(unquote(name));
    }
  }
};

}  // namespace

// FreeRADIUS's rewrite_calling_station_id makes AA-BB-CC-DD-EE-FF, and the
// files module compares names case-sensitively.
void write_freeradius(std::string& out, const Addresses& values, const ExportNames& /*names*/,
                      Addresses& /*left_out*/) {
  out.reserve(values.size() * (text::kAddressSize + 1));
  for (const std::uint64_t value : values) {
    const std::size_t start = out.size();
    text::append_address(out, value, '-');
    for (std::size_t i = start; i < out.size(); ++i) {
      if (out[i] >= 'a' && out[i] <= 'f') {
        out[i] = static_cast<char>(out[i] - 'a' + 'A');
      }
    }
    out += '\n';
  }
}

std::unique_ptr<PeerReader> freeradius_reader() { return std::make_unique<FreeradiusReader>(); }

}  // namespace adrvet_list::peers
