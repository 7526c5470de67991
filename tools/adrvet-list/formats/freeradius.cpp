// FreeRADIUS: entries of the files module, "user [check items]" lines with
// reply items on the indented lines after them.
#include <cctype>

#include "formats/label_text.h"
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
    out += '\n';
  }
}

std::unique_ptr<PeerReader> freeradius_reader() { return std::make_unique<FreeradiusReader>(); }

}  // namespace adrvet_list::peers
