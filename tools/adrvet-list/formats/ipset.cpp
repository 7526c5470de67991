// ipset: "ipset restore" scripts that swap a filled set in, and reading
// back those scripts, "ipset save" and "ipset list" output.
#include <algorithm>
#include <map>
#include <utility>

#include "formats/label_text.h"
#include "formats/peers.h"
#include "formats/text.h"

namespace adrvet_list::peers {
namespace {

// The suffix of the temporary set the export fills before swapping it in.
constexpr std::string_view kTemporarySuffix = "-new";

std::size_t power_of_two_at_least(std::size_t n) {
  std::size_t p = 1;
  while (p < n) {
    p <<= 1U;
  }
  return p;
}

bool is_command(std::string_view word, std::string_view name, std::string_view letter) {
  return word == name || word == letter;
}

// The value after `option` among the words from `first` on, or "".
std::string_view option_value(const std::vector<std::string_view>& w, std::size_t first,
                              std::string_view option) {
  for (std::size_t i = first; i + 1 < w.size(); ++i) {
    if (w[i] == option) {
      return w[i + 1];
    }
  }
  return "";
}

// The words of a line, a double-quoted text (a comment) one word with its
// quotes: a comment's words are no options.
std::vector<std::string_view> quoted_words(std::string_view line) {
  std::vector<std::string_view> w;
  std::size_t at = 0;
  while (at < line.size()) {
    if (text::is_blank(line[at])) {
      ++at;
      continue;
    }
    std::size_t end = at + 1;
    if (line[at] == '"') {
      end = std::min(line.find('"', end), line.size() - 1) + 1;
    } else {
      while (end < line.size() && !text::is_blank(line[end])) {
        ++end;
      }
    }
    w.push_back(line.substr(at, end - at));
    at = end;
  }
  return w;
}

// An ipset timeout in seconds: 0 is none (ParsedLine::kForever), -1 a
// value ipset does not write.
std::int64_t timeout_seconds(std::string_view value) {
  const std::int64_t seconds = value.empty() ? 0 : text::duration_seconds(value);
  return seconds == 0 ? ParsedLine::kForever : seconds < 0 ? -2 : seconds;
}

// What "Name: X" starts in "ipset list" output: the header lines, then
// the members up to a blank line.
enum class ListPart { none, header, members };

// "ipset list" header lines other than Name, Type and Header.
bool is_list_header(std::string_view key) {
  return key == "Revision:" || key == "Size" || key == "References:" || key == "Number";
}

// Restore scripts, "ipset save" and "ipset list" output. The statements
// apply in order, each to its own set: add and del, flush and destroy, and
// swap, which exchanges two sets' names (as the export's own script does).
// A file may hold several sets; the one read is the only hash:mac set that
// gets addresses, or the one --name chooses.
class IpsetReader final : public PeerReader {
 public:
  [[nodiscard]] const char* finish() override;
  [[nodiscard]] std::uint32_t chosen_set() const override { return chosen_; }

 protected:
  void take(std::string_view line) override {
    const std::string_view trimmed = text::trim(line);
    if (part_ == ListPart::members && !trimmed.empty() && !trimmed.starts_with("Name:")) {
      member(trimmed);
      return;
    }
    if (text::is_comment_or_blank(trimmed)) {
      part_ = part_ == ListPart::members ? ListPart::none : part_;
      return;
    }
    const std::vector<std::string_view> w = quoted_words(trimmed);
    if (w[0] == "Name:" || part_ == ListPart::header) {
      list_line(trimmed, w);
      return;
    }
    statement(trimmed, w);
  }

 private:
  struct Set {
    bool mac = true;                              // hash:mac, or not declared in the file
    std::int64_t timeout = ParsedLine::kForever;  // its entries' default timeout
    bool added = false;                           // got an address
    std::string name;                             // its name now; empty once destroyed
  };

  void statement(std::string_view line, const std::vector<std::string_view>& w);
  void create(std::string_view line, const std::vector<std::string_view>& w);
  // The entry in w[at], its options after it.
  void add(std::string_view line, std::string_view name, const std::vector<std::string_view>& w,
           std::size_t at);
  void empty_set(std::string_view line, const std::vector<std::string_view>& w, bool destroy);
  void swap(const std::string& first, const std::string& second);
  void list_line(std::string_view line, const std::vector<std::string_view>& w);
  void member(std::string_view line);
  // The set now named `name`, made when the file has not named it before.
  std::uint32_t set_named(std::string_view name);
  [[nodiscard]] std::string mac_set_names() const;

  std::vector<Set> sets_;
  std::map<std::string, std::uint32_t, std::less<>> ids_;  // name now -> set
  ListPart part_ = ListPart::none;
  std::uint32_t listed_ = 0;  // the set "ipset list" is printing
  std::uint32_t chosen_ = 0;
  std::string problem_;
};

void IpsetReader::statement(std::string_view line, const std::vector<std::string_view>& w) {
  const std::string_view command = w[0];
  if (is_command(command, "create", "-N")) {
    create(line, w);
  } else if (is_command(command, "flush", "-F")) {
    empty_set(line, w, false);
  } else if (is_command(command, "destroy", "-X")) {
    empty_set(line, w, true);
  } else if (is_command(command, "swap", "-W") && w.size() >= 3) {
    swap(std::string(w[1]), std::string(w[2]));
  } else if (is_command(command, "del", "-D") && w.size() >= 3) {
    const std::uint32_t id = set_named(w[1]);
    if (sets_[id].mac) {
      tag_set(id);
      add_removal(w[2]);
    }
  } else if (is_command(command, "add", "-A") && w.size() >= 3) {
    add(line, w[1], w, 2);
  } else {
    add_invalid(line, "not an ipset create, add, del, flush, swap or destroy line");
  }
}

// A set of another type (hash:ip, hash:ip,mac) holds no addresses to
// import; its lines are passed over.
void IpsetReader::create(std::string_view /*line*/, const std::vector<std::string_view>& w) {
  if (w.size() < 3) {
    return;
  }
  Set& set = sets_[set_named(w[1])];
  set.mac = w[2] == "hash:mac";
  set.timeout = std::max(timeout_seconds(option_value(w, 3, "timeout")), ParsedLine::kForever);
}

// The entry's comment becomes its label, its timeout (or the set's) its
// expiry; other options (counters, skbinfo) do not matter here.
void IpsetReader::add(std::string_view line, std::string_view name,
                      const std::vector<std::string_view>& w, std::size_t at) {
  const std::uint32_t id = set_named(name);
  Set& set = sets_[id];
  if (!set.mac) {
    return;
  }
  tag_set(id);
  set.added = true;
  const std::string_view timeout = option_value(w, at + 1, "timeout");
  const std::int64_t seconds = timeout.empty() ? set.timeout : timeout_seconds(timeout);
  if (seconds < ParsedLine::kForever) {
    add_invalid(line, "a timeout that is not a number of seconds");
    return;
  }
  add_address(w[at]);
  if (ParsedLine* entry = last_address()) {
    entry->seconds_left = seconds;
    const std::string_view comment = option_value(w, at + 1, "comment");
    if (comment.size() >= 2 && comment.front() == '"' && comment.back() == '"') {
      entry->label = comment.substr(1, comment.size() - 2);
    }
  }
}

void IpsetReader::empty_set(std::string_view line, const std::vector<std::string_view>& w,
                            bool destroy) {
  if (w.size() < 2) {  // every set
    tag_set(ParsedLine::kAllSets);
    add_flush(line);
    if (destroy) {
      ids_.clear();
      for (Set& set : sets_) {
        set.name.clear();
      }
    }
    return;
  }
  const std::uint32_t id = set_named(w[1]);
  tag_set(id);
  add_flush(line);
  if (destroy) {
    ids_.erase(sets_[id].name);
    sets_[id].name.clear();
  }
}

void IpsetReader::swap(const std::string& first, const std::string& second) {
  const std::uint32_t a = set_named(first);
  const std::uint32_t b = set_named(second);
  ids_[first] = b;
  ids_[second] = a;
  std::swap(sets_[a].name, sets_[b].name);
}

// "Name: X", "Type: T", "Header: ... timeout N ...", "Members:", and
// the header lines that say nothing about the members.
void IpsetReader::list_line(std::string_view line, const std::vector<std::string_view>& w) {
  const std::string_view key = w[0];
  if (key == "Name:" && w.size() == 2) {
    listed_ = set_named(w[1]);
    part_ = ListPart::header;
  } else if (key == "Type:" && w.size() == 2) {
    sets_[listed_].mac = w[1] == "hash:mac";
  } else if (key == "Header:") {
    sets_[listed_].timeout =
        std::max(timeout_seconds(option_value(w, 1, "timeout")), ParsedLine::kForever);
  } else if (key == "Members:" && w.size() == 1) {
    part_ = ListPart::members;
  } else if (!is_list_header(key)) {
    add_invalid(line, "not a line of 'ipset list' output");
  }
}

// "AA:BB:CC:DD:EE:FF [timeout N] [packets N bytes N] [comment "..."]".
void IpsetReader::member(std::string_view line) {
  add(line, sets_[listed_].name, quoted_words(line), 0);
}

std::uint32_t IpsetReader::set_named(std::string_view name) {
  if (const auto found = ids_.find(name); found != ids_.end()) {
    return found->second;
  }
  const auto id = static_cast<std::uint32_t>(sets_.size());
  sets_.push_back({true, ParsedLine::kForever, false, std::string(name)});
  ids_.emplace(std::string(name), id);
  return id;
}

std::string IpsetReader::mac_set_names() const {
  std::string names;
  for (const auto& [name, id] : ids_) {
    if (sets_[id].mac) {
      names += (names.empty() ? "" : ", ") + name;
    }
  }
  return names.empty() ? "none" : names;
}

const char* IpsetReader::finish() {
  const std::string& wanted = choice().set;
  if (!wanted.empty()) {
    const auto found = ids_.find(wanted);
    if (found == ids_.end() || !sets_[found->second].mac) {
      problem_ = "no hash:mac set named '" + wanted + "' (the file's: " + mac_set_names() + ")";
      return problem_.c_str();
    }
    chosen_ = found->second;
    return nullptr;
  }
  std::string read;
  std::size_t count = 0;
  for (const auto& [name, id] : ids_) {
    if (sets_[id].mac && sets_[id].added) {
      read += (read.empty() ? "" : ", ") + name;
      chosen_ = id;
      ++count;
    }
  }
  if (count > 1) {
    problem_ = "addresses of several hash:mac sets (" + read + "); choose one with --name";
    return problem_.c_str();
  }
  if (count == 0 && !sets_.empty() &&
      std::none_of(sets_.begin(), sets_.end(), [](const Set& set) { return set.mac; })) {
    problem_ = "no hash:mac set: the file's sets hold no hardware addresses";
    return problem_.c_str();
  }
  return nullptr;
}

// ipset keeps comments of at most 255 bytes, and its timeouts reach
// 2147483 seconds (about 24 days).
constexpr std::size_t kMaxIpsetComment = 255;
constexpr std::int64_t kMaxIpsetTimeout = 2147483;

bool any_label(const ExportNames& names) {
  return names.notes != nullptr &&
         std::any_of(names.notes->notes.begin(), names.notes->notes.end(),
                     [](const DeviceNote& note) { return !note.label.empty(); });
}

// The extensions the set is created with: comments when some address has a
// label, timeouts when asked (0: elements without one stay).
std::string extensions(const ExportNames& names) {
  std::string text;
  if (any_label(names)) {
    text += " comment";
  }
  if (names.notes != nullptr && names.notes->timeouts) {
    text += " timeout 0";
  }
  return text;
}

// " timeout N" and " comment \"LABEL\"" after an element, as far as it has
// them. A lifetime beyond ipset's longest timeout is left to prune: the
// element stays until the list drops it and the set is loaded again.
void append_element_notes(std::string& out, const ExportNames& names, std::uint64_t address) {
  const DeviceNote* note = note_of(names, address);
  if (note == nullptr) {
    return;
  }
  if (names.notes->timeouts && note->seconds_left > 0 && note->seconds_left <= kMaxIpsetTimeout) {
    out += " timeout " + std::to_string(note->seconds_left);
  }
  const std::string label = quoted_label(note->label, kMaxIpsetComment);
  if (!label.empty()) {
    out += " comment \"" + label + "\"";
  }
}

}  // namespace

// Fill a temporary set, swap it with the live one, destroy it: the live set
// changes in one step, and the script runs again and again.
void write_ipset(std::string& out, const Addresses& values, const ExportNames& names,
                 Addresses& left_out) {
  constexpr std::size_t kMinHashSize = 1024;  // ipset's own default
  const std::size_t hash_size = power_of_two_at_least(std::max(values.size(), kMinHashSize));
  const std::size_t max_elements = std::max(values.size(), kIpsetMaxElements);
  const std::string& name = names.set;
  const std::string temporary = name + std::string(kTemporarySuffix);
  const std::string sizes = " hash:mac hashsize " + std::to_string(hash_size) + " maxelem " +
                            std::to_string(max_elements) + extensions(names);
  // ipset names only the line number when a set of that name made with other
  // settings exists; swapping a set of these settings in keeps its rules.
  out += "# If ipset stops at the next line (\"set with the same name already exists\"), " + name +
         " exists with other settings: ipset create " + temporary + sizes + "; ipset swap " +
         temporary + " " + name + "; ipset destroy " + temporary + "; then restore again\n";
  out += "create " + name + sizes + " -exist\n";
  // -exist and flush: a temporary set an interrupted run left behind is reused.
  out += "create " + temporary + sizes + " -exist\n";
  out += "flush " + temporary + "\n";
  const std::string prefix = "add " + temporary + " ";
  out.reserve(out.size() + values.size() * (prefix.size() + text::kAddressSize + 1));
  for (const std::uint64_t value : values) {
    if (value == 0) {  // hash:mac refuses it as a null-valued element
      left_out.push_back(value);
      continue;
    }
    out += prefix;
    text::append_address(out, value, ':');
    append_element_notes(out, names, value);
    out += '\n';
  }
  out += "swap " + temporary + " " + name + "\n";
  out += "destroy " + temporary + "\n";
}

std::unique_ptr<PeerReader> ipset_reader() { return std::make_unique<IpsetReader>(); }

const char* ipset_name_problem(std::string_view name) {
  constexpr std::size_t kMaxName = 31;  // IPSET_MAXNAMELEN less its terminating zero
  return text::identifier_problem(name, kMaxName - kTemporarySuffix.size());
}

std::string ipset_names_problem(const ExportNames& names) {
  if (const char* problem = ipset_name_problem(names.set)) {
    return "'" + names.set + "' cannot be an ipset set name: " + problem;
  }
  return "";
}

}  // namespace adrvet_list::peers
