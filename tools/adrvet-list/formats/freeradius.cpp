// FreeRADIUS: entries of the files module, "user [check items]" lines with
// reply items on the indented lines after them.
#include <cctype>

#include "formats/label_text.h"
#include "formats/peers.h"
#include "formats/radius_date.h"
#include "formats/text.h"

namespace adrvet_list::peers {
namespace {

std::string_view unquote(std::string_view quoted) {
  if (quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"') {
    return quoted.substr(1, quoted.size() - 2);
  }
  return quoted;
}

// The files module reads '#' outside quotes as the start of a comment.
std::string_view without_comment(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    } else if (line[i] == '#' && !quoted) {
      return text::trim(line.substr(0, i));
    }
  }
  return text::trim(line);
}

// A check item Auth-Type := Reject, in any operator and spacing.
bool rejects(std::string_view check_items) {
  std::string squeezed;
  for (const char c : check_items) {
    if (!text::is_blank(c) && c != '"') {
      squeezed += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  const std::size_t at = squeezed.find("auth-type");
  return at != std::string::npos && squeezed.find("reject", at) != std::string::npos;
}

// What the stock rewrite_calling_station_id makes of every notation, and so
// the only names the files module's key ever equals: AA-BB-CC-DD-EE-FF.
bool is_rewritten_form(std::string_view name) {
  if (name.size() != text::kAddressSize) {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool ok = i % 3 == 2 ? c == '-' : ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    if (!ok) {
      return false;
    }
  }
  return true;
}

// The one check item the entry line may carry: `Expiration := "DATE"`,
// which the files module moves to the control items without comparing
// anything, so that the entry still matches; rlm_expiration then turns the
// device away from DATE on. False when `check_items` is anything else.
bool is_expiration(std::string_view check_items, std::string_view& date) {
  constexpr std::string_view kName = "expiration";
  std::string_view rest = text::trim(check_items);
  if (text::lower_ascii(rest.substr(0, kName.size())) != kName) {
    return false;
  }
  rest = text::trim(rest.substr(kName.size()));
  if (!rest.starts_with(":=")) {
    return false;
  }
  rest = text::trim(rest.substr(2));
  if (rest.size() >= 2 && rest.front() == '"') {
    const std::size_t close = rest.find('"', 1);
    if (close + 1 != rest.size()) {
      return false;  // more check items after it
    }
    date = rest.substr(1, close - 1);
    return true;
  }
  date = rest;  // unquoted: one word, such as seconds since the epoch
  return !rest.empty() && rest.find_first_of(" \t,\"") == std::string_view::npos;
}

class FreeradiusReader final : public PeerReader {
 protected:
  void take(std::string_view line) override {
    if (comment_.keep(line)) {
      return;
    }
    const std::string_view above = comment_.take();
    if (line.empty() || text::is_blank(line.front())) {
      return;  // reply items of the entry above, or nothing
    }
    const std::string_view trimmed = without_comment(line);
    if (trimmed.empty()) {
      return;
    }
    std::string_view check_items;
    const std::string_view name = text::first_word(trimmed, check_items);
    std::string_view expiration;
    RadiusDate expires;
    if (is_expiration(check_items, expiration)) {
      expires = parse_radius_date(expiration);
      if (expires.problem != nullptr) {
        add_invalid(expiration, expires.problem);
        return;
      }
      check_items = {};
    }
    if (name == "$INCLUDE" || name == "$-INCLUDE") {
      add_invalid(trimmed, "an include is not followed; import the included file");
    } else if (name == "DEFAULT") {
      add_invalid(trimmed, "a DEFAULT entry names no address");
    } else if (rejects(check_items)) {
      add_invalid(trimmed, "an entry with Auth-Type Reject keeps the address out");
    } else if (!check_items.empty()) {
      add_invalid(trimmed,
                  "check items (or Fall-Through) on the entry line: the entry matches only "
                  "when they hold");
    } else if (!is_rewritten_form(unquote(name))) {
      add_invalid(trimmed,
                  "never matches: rewrite_calling_station_id makes every address "
                  "AA-BB-CC-DD-EE-FF (upper case, '-')");
    } else {
      add_address(unquote(name));
      if (ParsedLine* entry = last_address()) {
        entry->label = above;
        entry->expires_at = expiration.empty() ? ParsedLine::kForever : expires.seconds;
      }
    }
  }

 private:
  text::CommentAbove comment_;
};

}  // namespace

// FreeRADIUS's rewrite_calling_station_id makes AA-BB-CC-DD-EE-FF, and the
// files module compares names case-sensitively.
void write_freeradius(std::string& out, const Addresses& values, const ExportNames& names,
                      Addresses& /*left_out*/) {
  out.reserve(values.size() * (text::kAddressSize + 1));
  for (const std::uint64_t value : values) {
    text::write_label_comment(out, names, value, kMaxLabelBytes);
    const std::size_t start = out.size();
    text::append_address(out, value, '-');
    for (std::size_t i = start; i < out.size(); ++i) {
      if (out[i] >= 'a' && out[i] <= 'f') {
        out[i] = static_cast<char>(out[i] - 'a' + 'A');
      }
    }
    // Seconds since the epoch: FreeRADIUS reads a written date in its own
    // local time, whatever zone it names.
    if (const DeviceNote* note = note_of(names, value); note != nullptr && note->expires > 0) {
      out += " Expiration := ";
      out += std::to_string(note->expires);
    }
    out += '\n';
  }
}

std::unique_ptr<PeerReader> freeradius_reader() { return std::make_unique<FreeradiusReader>(); }

}  // namespace adrvet_list::peers
