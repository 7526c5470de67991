#include "import_formats.h"

#include <algorithm>
#include <cctype>

namespace adrvet_list {
namespace {

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && is_blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// The first blank-separated word of `text` (already trimmed), and the rest.
std::string_view first_word(std::string_view text, std::string_view& rest) {
  std::size_t end = 0;
  while (end < text.size() && !is_blank(text[end])) {
    ++end;
  }
  rest = trim(text.substr(end));
  return text.substr(0, end);
}

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> result;
  std::string_view rest = trim(text);
  while (!rest.empty()) {
    result.push_back(first_word(rest, rest));
  }
  return result;
}

bool is_comment_or_blank(std::string_view trimmed) {
  return trimmed.empty() || trimmed.front() == '#';
}

// hostapd's VLAN field: an ID, or IDs joined by '+' (untagged+tagged).
bool is_vlan_field(std::string_view text) {
  if (text.empty() || text.front() == '+' || text.back() == '+') {
    return false;
  }
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '+'; });
}

// dnsmasq writes hardware addresses as six hex pairs joined by ':', where
// '*' stands for any byte; any other field of dhcp-host (name, IP, tag,
// lease time, client ID) is not one.
enum class DnsmasqField { other, address, wildcard };

DnsmasqField dnsmasq_field_kind(std::string_view field) {
  constexpr std::ptrdiff_t kColons = 5;
  if (std::count(field.begin(), field.end(), ':') != kColons) {
    return DnsmasqField::other;
  }
  bool wildcard = false;
  for (std::size_t start = 0; start <= field.size();) {
    const std::size_t colon = std::min(field.find(':', start), field.size());
    const std::string_view part = field.substr(start, colon - start);
    const bool hex_pair = part.size() == 2 && std::isxdigit(static_cast<unsigned char>(part[0])) &&
                          std::isxdigit(static_cast<unsigned char>(part[1]));
    if (!hex_pair && part != "*") {
      return DnsmasqField::other;
    }
    wildcard = wildcard || part == "*";
    start = colon + 1;
  }
  return wildcard ? DnsmasqField::wildcard : DnsmasqField::address;
}

std::string_view unquote(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

// A FreeRADIUS check item Auth-Type := Reject (or = or ==) on the entry line.
bool rejects(std::string_view check_items) {
  std::string squeezed;
  for (const char c : check_items) {
    if (!is_blank(c) && c != '"') {
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

}  // namespace

const std::vector<ParsedLine>& Importer::read(std::string_view line) {
  parsed_.clear();
  switch (format_) {
    case PeerFormat::plain:
      if (ParsedLine parsed = parse_list_line(line); parsed.kind != ParsedLine::Kind::blank) {
        parsed_.push_back(parsed);
      }
      break;
    case PeerFormat::hostapd:
      read_hostapd(line);
      break;
    case PeerFormat::dnsmasq:
    case PeerFormat::dnsmasq_hosts:
      read_dnsmasq(line, format_ == PeerFormat::dnsmasq_hosts);
      break;
    case PeerFormat::ipset:
      read_ipset(line);
      break;
    case PeerFormat::nft:
      read_nft(line);
      break;
    case PeerFormat::freeradius:
      read_freeradius(line);
      break;
  }
  return parsed_;
}

const char* Importer::finish() const {
  if (format_ == PeerFormat::nft && !nft_blocks_.empty()) {
    return "the input ends inside a '{' block";
  }
  return nullptr;
}

void Importer::add_address(std::string_view text) {
  ParsedLine parsed = parse_list_line(text);
  if (parsed.kind == ParsedLine::Kind::address) {
    parsed.content = text;
    parsed_.push_back(parsed);
  } else {
    add_invalid(text, parsed.kind == ParsedLine::Kind::blank ? "no address" : parsed.reason);
  }
}

void Importer::add_invalid(std::string_view text, const char* reason) {
  ParsedLine parsed;
  parsed.kind = ParsedLine::Kind::invalid;
  parsed.reason = reason;
  parsed.content = text;
  parsed_.push_back(parsed);
}

// "aa:bb:cc:dd:ee:ff [VLAN]" lines; '#' starts a comment line.
void Importer::read_hostapd(std::string_view line) {
  const std::string_view text = trim(line);
  if (is_comment_or_blank(text)) {
    return;
  }
  if (text.front() == '-') {
    add_invalid(text, "a removal line ('-' before the address) lists no address");
    return;
  }
  std::string_view rest;
  const std::string_view address = first_word(text, rest);
  if (!rest.empty() && !is_vlan_field(rest)) {
    add_invalid(text, "not a VLAN ID after the address");
    return;
  }
  add_address(address);
}

// dhcp-host=[addresses,][id:..,][set:..,][tag:..,][ip,][name,][lease,][ignore]
// in a conf-file, or the same without "dhcp-host=" in a dhcp-hostsfile.
void Importer::read_dnsmasq(std::string_view line, bool hosts_file) {
  const std::string_view text = trim(line);
  if (is_comment_or_blank(text)) {
    return;
  }
  std::string_view value = text;
  if (!hosts_file) {
    constexpr std::string_view kOption = "dhcp-host";
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || trim(text.substr(0, equals)) != kOption) {
      add_invalid(text, "not a dhcp-host= line");
      return;
    }
    value = text.substr(equals + 1);
  }
  std::vector<std::string_view> addresses;
  for (;;) {
    const std::size_t comma = value.find(',');
    const std::string_view field = trim(value.substr(0, comma));
    if (field == "ignore") {
      add_invalid(text, "an 'ignore' entry keeps the host out");
      return;
    }
    const DnsmasqField kind = dnsmasq_field_kind(field);
    if (kind == DnsmasqField::wildcard) {
      add_invalid(text, "a wildcard address stands for many addresses");
      return;
    }
    if (kind == DnsmasqField::address) {
      addresses.push_back(field);
    }
    if (comma == std::string_view::npos) {
      break;
    }
    value.remove_prefix(comma + 1);
  }
  if (addresses.empty()) {
    add_invalid(text, "no hardware address (an entry by name, client ID or IP only)");
    return;
  }
  for (const std::string_view address : addresses) {
    add_address(address);
  }
}

// "ipset save" output and the restore scripts export writes: the add lines
// of one set; create, flush, swap and destroy lines hold no address.
void Importer::read_ipset(std::string_view line) {
  const std::string_view text = trim(line);
  if (is_comment_or_blank(text)) {
    return;
  }
  const std::vector<std::string_view> w = words(text);
  const std::string_view command = w[0];
  if (command == "create" || command == "-N") {
    if (w.size() < 3 || w[2] != "hash:mac") {
      add_invalid(text, "not a hash:mac set, which holds no addresses to import");
    }
    return;
  }
  if (command == "flush" || command == "swap" || command == "destroy" || command == "-F" ||
      command == "-W" || command == "-X") {
    return;
  }
  if ((command != "add" && command != "-A") || w.size() < 3) {
    add_invalid(text, "not an ipset create, add, flush, swap or destroy line");
    return;
  }
  if (ipset_set_.empty()) {
    ipset_set_ = std::string(w[1]);
  } else if (w[1] != ipset_set_) {
    add_invalid(text, "an address of a second set; import one set at a time (ipset save SET)");
    return;
  }
  add_address(w[2]);  // options after it (timeout, comment, ...) do not matter here
}

// "user [check items]" lines, reply items on the indented lines after them.
void Importer::read_freeradius(std::string_view line) {
  if (line.empty() || is_blank(line.front())) {
    return;  // reply items of the entry above, or nothing
  }
  const std::string_view text = trim(line);
  if (is_comment_or_blank(text)) {
    return;
  }
  std::string_view check_items;
  const std::string_view name = first_word(text, check_items);
  if (name == "$INCLUDE" || name == "$-INCLUDE") {
    add_invalid(text, "an include is not followed; import the included file");
  } else if (name == "DEFAULT") {
    add_invalid(text, "a DEFAULT entry names no address");
  } else if (rejects(check_items)) {
    add_invalid(text, "an entry with Auth-Type := Reject keeps the address out");
  } else {
    add_address(unquote(name));
  }
}

}  // namespace adrvet_list
