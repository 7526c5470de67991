#include "store/inventory.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "crypto/container.h"

namespace adrvet_list {
namespace {

using orbitforge::util::SecretBytes;

using SecretText =
    std::basic_string<char, std::char_traits<char>, orbitforge::util::WipingAllocator<char>>;

constexpr std::string_view kHeader = "adrvet-inventory 1";
constexpr std::string_view kCommonOriginHeader = "adrvet-inventory 2";
constexpr char kHexDigits[] = "0123456789abcdef";

bool needs_escape(unsigned char c) { return c <= 0x20 || c == 0x7F || c == '%'; }

void append(SecretBytes& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}

void append_text(SecretBytes& out, std::string_view text) {
  if (text == "-") {
    append(out, "%2d");
    return;
  }
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (needs_escape(c)) {
      out.push_back('%');
      out.push_back(static_cast<unsigned char>(kHexDigits[c >> 4U]));
      out.push_back(static_cast<unsigned char>(kHexDigits[c & 0xFU]));
    } else {
      out.push_back(c);
    }
  }
}

void append_number(SecretBytes& out, std::int64_t value) {
  if (value == Inventory::kNever) {
    out.push_back('-');
    return;
  }
  char digits[24];
  std::size_t n = 0;
  auto v = static_cast<std::uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) {
    out.push_back(static_cast<unsigned char>(digits[--n]));
  }
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// A line's space-separated fields; every line has four, so a fifth only
// marks that there are too many.
struct Fields {
  static constexpr std::size_t kMax = 5;
  std::array<std::string_view, kMax> field;
  std::size_t count = 0;
  std::string_view operator[](std::size_t i) const { return field[i]; }
  [[nodiscard]] std::size_t size() const { return count; }
};

Fields fields_of(std::string_view line) {
  Fields fields;
  std::size_t start = 0;
  while (fields.count < Fields::kMax) {
    const std::size_t space = line.find(' ', start);
    fields.field[fields.count++] = line.substr(start, space - start);
    if (space == std::string_view::npos) {
      break;
    }
    start = space + 1;
  }
  return fields;
}

// A decimal number of at most 18 digits, or "-" for kNever.
bool read_number(std::string_view text, std::int64_t& value) {
  if (text == "-") {
    value = Inventory::kNever;
    return true;
  }
  constexpr std::size_t kMaxDigits = 18;
  if (text.empty() || text.size() > kMaxDigits) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + (c - '0');
  }
  return true;
}

// Undoes append_text into `out`; false on a malformed escape.
bool read_text(std::string_view text, SecretText& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int high = i + 2 < text.size() ? hex_value(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? hex_value(text[i + 2]) : -1;
    if (high < 0 || low < 0) {
      return false;
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

bool read_address(std::string_view text, std::uint64_t& value) {
  constexpr std::size_t kDigits = 12;
  if (text.size() != kDigits) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    const int digit = hex_value(c);
    if (digit < 0) {
      return false;
    }
    value = value << 4U | static_cast<unsigned>(digit);
  }
  return true;
}

}  // namespace

std::string_view Inventory::text_at(std::uint64_t at, std::uint64_t size) const {
  return {reinterpret_cast<const char*>(arena_.data()) + at, size};
}

std::uint64_t Inventory::store_text(std::string_view text) {
  const std::uint64_t at = arena_.size();
  arena_.insert(arena_.end(), text.begin(), text.end());
  return at;
}

std::uint32_t Inventory::add_origin(std::int64_t time, std::string_view user) {
  // Entries added together share their origin; earlier origins are not
  // searched, so that reading many stays linear.
  if (!origins_.empty() && origins_.back().time == time && user_of(origins_.back()) == user) {
    return static_cast<std::uint32_t>(origins_.size() - 1);
  }
  origins_.push_back({time, store_text(user), user.size()});
  return static_cast<std::uint32_t>(origins_.size() - 1);
}

std::uint32_t Inventory::add_label(std::string_view label) {
  if (label.empty()) {
    return kNone;
  }
  labels_.emplace_back(store_text(label), label.size());
  return static_cast<std::uint32_t>(labels_.size() - 1);
}

std::string_view Inventory::label_of(const Entry& entry) const {
  if (entry.label == kNone) {
    return {};
  }
  const auto& [at, size] = labels_[entry.label];
  return text_at(at, size);
}

const Inventory::Origin* Inventory::origin_of(const Entry& entry) const {
  return entry.origin == kNone ? nullptr : &origins_[entry.origin];
}

std::string_view Inventory::user_of(const Origin& origin) const {
  return text_at(origin.user_at, origin.user_size);
}

const Inventory::Entry* Inventory::find(std::uint64_t address) const {
  const auto at = std::lower_bound(
      entries.begin(), entries.end(), address,
      [](const Entry& entry, std::uint64_t wanted) { return entry.address < wanted; });
  return at != entries.end() && at->address == address ? &*at : nullptr;
}

std::optional<Inventory::Entry> Inventory::entry_of(std::uint64_t address) const {
  if (const Entry* entry = find(address)) {
    return *entry;
  }
  if (has_common_origin()) {
    return Entry{address, kNever, common_origin_, kNone};
  }
  return std::nullopt;
}

std::size_t Inventory::known_count(std::size_t listed) const {
  if (!has_common_origin()) {
    return entries.size();
  }
  // Entry lines that say nothing stand for addresses without data.
  const auto empty = std::count_if(entries.begin(), entries.end(), [](const Entry& entry) {
    return entry.origin == kNone && entry.label == kNone && entry.expires == kNever;
  });
  return listed - static_cast<std::size_t>(empty);
}

bool Inventory::fold_common_origin() {
  if (has_common_origin()) {
    return false;
  }
  const auto bare = [](const Entry& entry) {
    return entry.origin != kNone && entry.label == kNone && entry.expires == kNever;
  };
  std::vector<std::size_t> uses(origins_.size(), 0);
  for (const Entry& entry : entries) {
    if (bare(entry)) {
      ++uses[entry.origin];
    }
  }
  const auto most = std::max_element(uses.begin(), uses.end());
  if (most == uses.end() || *most == 0) {
    return false;
  }
  common_origin_ = static_cast<std::uint32_t>(most - uses.begin());
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const Entry& entry) {
                                 return bare(entry) && entry.origin == common_origin_;
                               }),
                entries.end());
  return true;
}

std::size_t Inventory::keep_only(const Addresses& listed) {
  auto next = listed.begin();
  const auto kept = std::remove_if(entries.begin(), entries.end(), [&](const Entry& entry) {
    next = std::lower_bound(next, listed.end(), entry.address);
    return next == listed.end() || *next != entry.address;
  });
  const auto dropped = static_cast<std::size_t>(entries.end() - kept);
  entries.erase(kept, entries.end());
  return dropped;
}

SecretBytes Inventory::serialize() const {
  // Only the origins in use are written, renumbered in order of first use.
  std::vector<std::uint32_t> number(origins_.size(), kNone);
  std::vector<std::uint32_t> used;
  for (const Entry& entry : entries) {
    if (entry.origin != kNone && number[entry.origin] == kNone) {
      number[entry.origin] = static_cast<std::uint32_t>(used.size());
      used.push_back(entry.origin);
    }
  }
  SecretBytes out;
  constexpr std::size_t kPlainEntryBytes = 24;
  out.reserve(kHeader.size() + 1 + entries.size() * kPlainEntryBytes + arena_.size() * 3 +
              orbitforge::util::kContainerOverheadBytes);
  if (has_common_origin()) {
    const Origin& common = origins_[common_origin_];
    append(out, kCommonOriginHeader);
    append(out, "\nd ");
    append_number(out, common.time);
    out.push_back(' ');
    append_text(out, user_of(common));
  } else {
    append(out, kHeader);
  }
  out.push_back('\n');
  for (std::size_t i = 0; i < used.size(); ++i) {
    append(out, "o ");
    append_number(out, static_cast<std::int64_t>(i));
    out.push_back(' ');
    append_number(out, origins_[used[i]].time);
    out.push_back(' ');
    append_text(out, user_of(origins_[used[i]]));
    out.push_back('\n');
  }
  for (const Entry& entry : entries) {
    for (int shift = 44; shift >= 0; shift -= 4) {
      out.push_back(static_cast<unsigned char>(kHexDigits[(entry.address >> shift) & 0xFU]));
    }
    out.push_back(' ');
    append_number(out, entry.origin == kNone ? kNever : number[entry.origin]);
    out.push_back(' ');
    append_number(out, entry.expires);
    out.push_back(' ');
    const std::string_view label = label_of(entry);
    if (label.empty()) {
      out.push_back('-');
    } else {
      append_text(out, label);
    }
    out.push_back('\n');
  }
  return out;
}

namespace {

struct Parser {
  Parser(Inventory& into, std::string& why) : inventory(into), problem(why) {}
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
  ~Parser() { orbitforge::util::wipe(text.data(), text.capacity()); }  // the short-string buffer

  Inventory& inventory;
  std::string& problem;
  SecretText text;                     // scratch for unescaped texts
  std::vector<std::uint32_t> origins;  // the file's origin numbers to the inventory's

  bool fail(std::size_t line, const char* why) {
    problem = "line " + std::to_string(line) + ": " + why;
    return false;
  }

  bool origin_line(std::size_t line, const Fields& f) {
    std::int64_t index = 0;
    std::int64_t time = 0;
    if (f.size() != 4 || !read_number(f[1], index) ||
        static_cast<std::size_t>(index) != origins.size() || !read_number(f[2], time) ||
        !read_text(f[3], text)) {
      return fail(line, "not an origin line");
    }
    origins.push_back(inventory.add_origin(time, text));
    return true;
  }

  bool common_origin_line(std::size_t line, const Fields& f) {
    std::int64_t time = 0;
    if (f.size() != 3 || f[0] != "d" || !read_number(f[1], time) || !read_text(f[2], text)) {
      return fail(line, "not the line of the list's common origin");
    }
    inventory.set_common_origin(inventory.add_origin(time, text));
    return true;
  }

  bool entry_line(std::size_t line, const Fields& f) {
    Inventory::Entry entry;
    std::int64_t origin = 0;
    if (f.size() != 4 || !read_address(f[0], entry.address) || !read_number(f[1], origin) ||
        !read_number(f[2], entry.expires) || (f[3] != "-" && !read_text(f[3], text))) {
      return fail(line, "not an entry line");
    }
    if (origin != Inventory::kNever && static_cast<std::size_t>(origin) >= origins.size()) {
      return fail(line, "the entry names an origin that is not declared");
    }
    if (!inventory.entries.empty() && inventory.entries.back().address >= entry.address) {
      return fail(line, "the entries are not in ascending order");
    }
    entry.origin =
        origin == Inventory::kNever ? Inventory::kNone : origins[static_cast<std::size_t>(origin)];
    entry.label = f[3] == "-" ? Inventory::kNone : inventory.add_label(text);
    inventory.entries.push_back(entry);
    return true;
  }
};

}  // namespace

std::optional<Inventory> Inventory::parse(const SecretBytes& payload, std::string& problem) {
  Inventory inventory;
  Parser parser(inventory, problem);
  const std::string_view all(reinterpret_cast<const char*>(payload.data()), payload.size());
  const std::string_view first = all.substr(0, all.find('\n'));
  const bool common = first == kCommonOriginHeader;
  if ((first != kHeader && !common) || first.size() == all.size()) {
    problem = "line 1: not an inventory";
    return std::nullopt;
  }
  std::size_t at = first.size() + 1;
  std::size_t line = 1;
  while (at < all.size() || (common && line == 1)) {
    ++line;
    const std::size_t end = all.find('\n', at);
    if (end == std::string_view::npos && at < all.size()) {
      parser.fail(line, "the last line has no line end");
      return std::nullopt;
    }
    // Past the end only when the common origin's line is missing: an
    // empty line, refused below.
    const Fields f = fields_of(at < all.size() ? all.substr(at, end - at) : std::string_view());
    bool ok = false;
    if (common && line == 2) {
      ok = parser.common_origin_line(line, f);
    } else if (f[0] != "o") {
      ok = parser.entry_line(line, f);
    } else if (inventory.entries.empty()) {
      ok = parser.origin_line(line, f);
    } else {
      ok = parser.fail(line, "an origin line after the entries");
    }
    if (!ok) {
      return std::nullopt;
    }
    at = end + 1;
  }
  return inventory;
}

bool same_entry(const Inventory& a, const Inventory::Entry& x, const Inventory& b,
                const Inventory::Entry& y) {
  if (x.address != y.address || x.expires != y.expires || a.label_of(x) != b.label_of(y)) {
    return false;
  }
  const Inventory::Origin* ox = a.origin_of(x);
  const Inventory::Origin* oy = b.origin_of(y);
  if (ox == nullptr || oy == nullptr) {
    return ox == oy;
  }
  return ox->time == oy->time && a.user_of(*ox) == b.user_of(*oy);
}

}  // namespace adrvet_list
