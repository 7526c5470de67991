// nft: the "nft -f" files export writes (table and set declared, set
// flushed, elements added in one transaction), and reading back "nft list
// set", "nft list ruleset" and those files: a small tokenizer follows the
// blocks, so that the elements of the one set of type ether_addr are read
// wherever they stand. What "nft -j list" prints is read as JSON
// (nft_json.cpp) and chosen from by the same rules.
#include <algorithm>
#include <array>
#include <deque>
#include <map>

#include "formats/label_text.h"
#include "formats/nft_json.h"
#include "formats/peers.h"
#include "formats/text.h"

namespace adrvet_list::peers {
namespace {

constexpr bool is_punctuation(char c) {
  return c == '{' || c == '}' || c == ',' || c == ';' || c == '=';
}

constexpr std::string_view kEndOfLine = "\n";

// The family of "table NAME" or "add element NAME SET" when none is written.
constexpr std::string_view kDefaultFamily = "ip";

// Every family nft has: ether_addr sets load in each of them.
constexpr std::array<std::string_view, 6> kFamilies = {"ip",  "ip6",    "inet",
                                                       "arp", "bridge", "netdev"};

bool is_add_or_create(const std::string& word) { return word == "add" || word == "create"; }

class NftReader final : public PeerReader, private NftJsonSink {
 public:
  [[nodiscard]] const char* finish() override;
  [[nodiscard]] std::uint32_t chosen_set() const override {
    return read_.empty() ? 0 : ids_.at(read_.front());
  }
  // nft -j prints a whole ruleset on one line, some 21 bytes an address.
  [[nodiscard]] std::size_t longest_line() const override { return std::size_t{64} << 20U; }

 protected:
  void take(std::string_view line) override;

 private:
  enum class Block { other, table, set, elements };
  struct SetKind {
    bool ether = false;  // of type ether_addr
    // The timeout it gives its elements, in seconds, or kForever.
    std::int64_t timeout = ParsedLine::kForever;
  };
  struct NftBlock {
    Block kind;
    std::string name;       // "family table" for a table, "family table set" for sets
    SetKind set;            // for sets and their elements
    bool declared = false;  // the set's type is known
    bool removal = false;   // "delete element": the elements leave the set
  };

  void json_set(const NftJsonSet& set) override;
  void json_element(const NftJsonSet& set, const NftJsonElement& element) override;
  void json_invalid(std::string_view where, const char* reason) override {
    add_invalid(where, reason);
  }
  // Whether the set `name` is one of addresses the import reads; if so,
  // the lines that follow are tagged with it.
  bool take_set(const std::string& name, const SetKind& kind);

  void token(std::string_view word);
  void element_token(std::string_view word);
  void statement_end();
  void top_statement(std::string_view text);
  void set_statement();
  void open_block();
  void element(std::string_view key);
  void element_option(std::string_view word);
  void element_note(std::string_view word);
  // Flushes every set read so far that `name` covers ("family table set",
  // or "family table " for a whole table).
  void flush_covered(std::string_view text, const std::string& name);
  // Whether "family table set" is the set --name, --table and --family choose.
  [[nodiscard]] bool is_chosen(const std::string& name) const;
  std::uint32_t set_id(const std::string& name);

  // The blocks around the current token, the words of the statement so far,
  // the sets declared, the chosen ones' numbers (ParsedLine::set), and those
  // of them that got elements, in order.
  std::vector<NftBlock> blocks_;
  std::vector<std::string> words_;
  std::map<std::string, SetKind> sets_;
  std::map<std::string, std::uint32_t> ids_;
  std::vector<std::string> read_;
  std::string problem_;
  bool element_started_ = false;
  bool element_read_ = false;      // the element is of the set being read
  bool expects_argument_ = false;  // the last word was an option that takes a value
  std::string_view note_;          // the option whose value comes next: comment, timeout, expires
  bool expires_given_ = false;     // the element's "expires" (time left) beats its "timeout"
  // The texts of this line's top-level statements, for messages.
  std::deque<std::string> statements_;
  // JSON is told from nft's language by the input's first character.
  bool started_ = false;
  bool json_ = false;
  NftJsonInput json_input_;
};

// Every word nft 1.0.6 refuses as a table or set name, found by loading each
// word of its manual page, its examples and its parser's token names in
// both places.
constexpr std::array<std::string_view, 145> kNftKeywords = {
    "accept",    "add",      "ah",         "all",      "and",         "arp",      "auto-merge",
    "bridge",    "cgroup",   "chain",      "comment",  "comp",        "constant", "continue",
    "counter",   "cpu",      "create",     "ct",       "day",         "dccp",     "define",
    "delete",    "describe", "device",     "devices",  "dnat",        "drop",     "dst",
    "dup",       "dynamic",  "ecn",        "element",  "elements",    "esp",      "ether",
    "exists",    "expires",  "export",     "exthdr",   "fib",         "flags",    "flow",
    "flowtable", "flush",    "frag",       "fwd",      "gc-interval", "get",      "goto",
    "handle",    "hbh",      "hook",       "hour",     "ibriport",    "ibrname",  "icmp",
    "icmpv6",    "igmp",     "iif",        "iifgroup", "iifname",     "iiftype",  "import",
    "include",   "index",    "inet",       "insert",   "interval",    "ip",       "ip6",
    "ipsec",     "jhash",    "jump",       "limit",    "list",        "log",      "lt",
    "map",       "mark",     "masquerade", "meta",     "meter",       "mh",       "missing",
    "monitor",   "netdev",   "nftrace",    "not",      "notrack",     "numgen",   "obriport",
    "obrname",   "offload",  "oif",        "oifgroup", "oifname",     "oiftype",  "or",
    "osf",       "pkttype",  "policy",     "position", "priority",    "queue",    "quota",
    "random",    "redefine", "redirect",   "reject",   "rename",      "replace",  "reset",
    "return",    "rt",       "rt0",        "rt2",      "rtclassid",   "rule",     "ruleset",
    "sctp",      "secmark",  "set",        "size",     "skgid",       "skuid",    "snat",
    "socket",    "srh",      "symhash",    "synproxy", "table",       "tcp",      "th",
    "time",      "timeout",  "tproxy",     "type",     "typeof",      "udp",      "udplite",
    "undefine",  "update",   "vlan",       "vmap",     "xt"};

}  // namespace

void NftReader::take(std::string_view line) {
  if (!started_) {
    const std::string_view trimmed = text::trim(line);
    started_ = !trimmed.empty();
    json_ = started_ && trimmed.front() == '{';  // nft's language never starts with a block
  }
  if (json_) {
    json_input_.take(line, *this);
    return;
  }
  statements_.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '#') {
      break;  // a comment to the end of the line
    }
    if (text::is_blank(c)) {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    if (c == '"') {
      const std::size_t close = line.find('"', end);
      end = close == std::string_view::npos ? line.size() : close + 1;
    } else if (!is_punctuation(c)) {
      while (end < line.size() && !text::is_blank(line[end]) && !is_punctuation(line[end]) &&
             line[end] != '#') {
        ++end;
      }
    }
    token(line.substr(i, end - i));
    i = end;
  }
  token(kEndOfLine);
}

void NftReader::token(std::string_view word) {
  if (!blocks_.empty() && blocks_.back().kind == Block::elements) {
    element_token(word);
    return;
  }
  if (word == "{") {
    open_block();
    words_.clear();
  } else if (word == "}") {
    statement_end();
    if (!blocks_.empty()) {
      blocks_.pop_back();
    } else {
      add_invalid(word, "a '}' without its '{'");
    }
  } else if (word == ";" || word == kEndOfLine) {
    statement_end();
  } else {
    words_.emplace_back(word);
  }
}

// Inside "elements = { ... }" or "add|delete element ... { ... }": elements
// separated by commas, each a key and its options.
void NftReader::element_token(std::string_view word) {
  if (word == "}") {
    blocks_.pop_back();
    words_.clear();
  } else if (word == ",") {
    element_started_ = false;
    element_read_ = false;
    expects_argument_ = false;
  } else if (word == kEndOfLine) {
    return;
  } else if (!element_started_) {
    element_started_ = true;
    element(word);
  } else if (element_read_) {
    element_option(word);
  }
}

// The words after an element's key: what nft lets an element carry. Its
// comment becomes its label and its timeout (or the time "nft list" says it
// has left) its expiry.
void NftReader::element_option(std::string_view word) {
  if (expects_argument_) {
    expects_argument_ = false;
    element_note(word);
    return;
  }
  if (word == "-") {
    add_invalid(word, "a range (written with spaces) stands for many addresses");
    element_read_ = false;
  } else if (word == "comment" || word == "timeout" || word == "expires") {
    expects_argument_ = true;
    note_ = word == "comment" ? "comment" : word == "timeout" ? "timeout" : "expires";
  } else if (word == "packets" || word == "bytes" || word == "over" || word == "until" ||
             word == "used") {
    expects_argument_ = true;
    note_ = {};
  } else if (parse_list_line(word).kind == ParsedLine::Kind::address) {
    add_invalid(word, "a second element without a comma before it, which nft refuses");
    element_read_ = false;
  }
}

void NftReader::element_note(std::string_view word) {
  if (note_.empty()) {
    return;
  }
  ParsedLine* element = last_address();
  if (element == nullptr) {
    // The address came on an earlier line: a timeout must not be lost.
    add_invalid(word, "an element's comment or timeout on a line after its address");
    element_read_ = false;
    return;
  }
  if (note_ == "comment") {
    element->label =
        word.size() >= 2 && word.front() == '"' ? word.substr(1, word.size() - 2) : word;
    return;
  }
  const std::int64_t seconds = text::duration_seconds(word);
  if (seconds < 0) {
    add_invalid(word, "not a time nft writes (such as 1h, 59m58s960ms)");
    element_read_ = false;
  } else if (note_ == "expires" || !expires_given_) {
    element->seconds_left = seconds;
    expires_given_ = expires_given_ || note_ == "expires";
  }
}

// "type ether_addr" or "typeof ether saddr" (daddr) makes the enclosing set
// one of addresses; "type ether_addr . ipv4_addr" and the like do not.
void NftReader::statement_end() {
  if (words_.empty()) {
    return;
  }
  if (blocks_.empty()) {
    std::string text;
    for (const std::string& w : words_) {
      text += (text.empty() ? "" : " ") + w;
    }
    statements_.push_back(text);
    top_statement(statements_.back());
  } else if (blocks_.back().kind == Block::set) {
    set_statement();
  }
  words_.clear();
}

void NftReader::set_statement() {
  const std::vector<std::string>& w = words_;
  NftBlock& set = blocks_.back();
  const bool type = w.size() == 2 && w[0] == "type" && w[1] == "ether_addr";
  const bool type_of =
      w.size() == 3 && w[0] == "typeof" && w[1] == "ether" && (w[2] == "saddr" || w[2] == "daddr");
  if (w[0] == "type" || w[0] == "typeof") {
    set.set.ether = type || type_of;
    set.declared = true;
  } else if (w[0] == "timeout" && w.size() == 2) {
    // The default timeout of every element added; one nft cannot read
    // leaves nothing to import.
    set.set.timeout = text::duration_seconds(w[1]);
    if (set.set.timeout < 0) {
      add_invalid(w[1], "not a time nft writes (such as 1h, 59m58s960ms)");
      set.set.timeout = 0;
    }
  }
  if (set.declared) {
    sets_[set.name] = set.set;
  }
}

// "flush set [FAMILY] TABLE SET", "delete table ...", "flush ruleset" and the
// like empty the set being read; what else stands at the top of a file nft
// reads is a table or another command, never a bare word.
void NftReader::top_statement(std::string_view text) {
  const std::vector<std::string>& w = words_;
  const std::string& verb = w[0];
  const bool empties = verb == "flush" || verb == "delete" || verb == "destroy";
  if (empties && w.size() == 2 && w[1] == "ruleset") {
    tag_set(ParsedLine::kAllSets);
    add_flush(text);
  } else if (empties && w.size() >= 3 && (w[1] == "set" || w[1] == "table")) {
    const bool set = w[1] == "set";
    const std::size_t given = w.size() - 2;  // [FAMILY] TABLE [SET]
    const bool family_given = given == (set ? 3U : 2U);
    std::string name = family_given ? w[2] : std::string(kDefaultFamily);
    for (std::size_t i = family_given ? 3 : 2; i < w.size(); ++i) {
      name += " " + w[i];
    }
    if (!set) {
      name += " ";
    }
    flush_covered(text, name);
  } else if (verb == "include") {
    add_invalid(text, "an include is not followed; import the included file too");
  } else if (verb != "table" && verb != "add" && verb != "create" && verb != "insert" &&
             verb != "replace" && verb != "delete" && verb != "destroy" && verb != "flush" &&
             verb != "define" && verb != "redefine" && verb != "undefine" && verb != "reset" &&
             verb != "rename" && verb != "list") {
    add_invalid(text, "not an nft statement (an 'nft -f' file or 'nft list' output is read)");
  }
}

void NftReader::flush_covered(std::string_view text, const std::string& name) {
  for (const auto& [set, id] : ids_) {
    if (name.back() == ' ' ? set.starts_with(name) : set == name) {
      tag_set(id);
      add_flush(text);
    }
  }
}

bool NftReader::is_chosen(const std::string& name) const {
  const std::vector<std::string_view> parts = text::words(name);  // family table set
  const SetChoice& wanted = choice();
  return parts.size() == 3 && (wanted.family.empty() || parts[0] == wanted.family) &&
         (wanted.table.empty() || parts[1] == wanted.table) &&
         (wanted.set.empty() || parts[2] == wanted.set);
}

std::uint32_t NftReader::set_id(const std::string& name) {
  return ids_.try_emplace(name, static_cast<std::uint32_t>(ids_.size())).first->second;
}

const char* NftReader::finish() {
  if (!blocks_.empty()) {
    return "the input ends inside a '{' block";
  }
  if (const char* ended = json_ ? json_input_.finish() : nullptr) {
    return ended;
  }
  if (read_.size() > 1) {
    problem_ = "elements of several ether_addr sets (";
    for (std::size_t i = 0; i < read_.size(); ++i) {
      problem_ += (i == 0 ? "" : ", ") + read_[i];
    }
    problem_ += "); choose one with --name, --table and --family";
    return problem_.c_str();
  }
  if (!choice().empty() && read_.empty() &&
      std::none_of(sets_.begin(), sets_.end(),
                   [&](const auto& set) { return set.second.ether && is_chosen(set.first); })) {
    std::string declared;
    for (const auto& [name, kind] : sets_) {
      declared += kind.ether ? (declared.empty() ? "" : ", ") + name : "";
    }
    problem_ = "no ether_addr set matches --name, --table and --family (the file's: " +
               (declared.empty() ? "none" : declared) + ")";
    return problem_.c_str();
  }
  return nullptr;
}

void NftReader::open_block() {
  const std::vector<std::string>& w = words_;
  const NftBlock* outer = blocks_.empty() ? nullptr : &blocks_.back();
  NftBlock block{Block::other, "", {}, false, false};
  if (!w.empty() && w[0] == "table" && (w.size() == 2 || w.size() == 3)) {
    block.kind = Block::table;
    block.name = w.size() == 3 ? w[1] + " " + w[2] : std::string(kDefaultFamily) + " " + w[1];
  } else if (w.size() == 2 && w[0] == "set" && outer != nullptr && outer->kind == Block::table) {
    block.kind = Block::set;
    block.name = outer->name + " " + w[1];
  } else if (w.size() == 2 && w[0] == "elements" && w[1] == "=" && outer != nullptr &&
             outer->kind == Block::set) {
    block = *outer;
    block.kind = Block::elements;
  } else if (w.size() >= 4 && (is_add_or_create(w[0]) || w[0] == "delete") &&
             (w[1] == "set" || w[1] == "element")) {
    // add set|element [FAMILY] TABLE SET {
    block.kind = w[1] == "set" ? Block::set : Block::elements;
    block.removal = w[0] == "delete";
    block.name = w.size() == 5 ? w[2] + " " + w[3] + " " + w[4]
                               : std::string(kDefaultFamily) + " " + w[2] + " " + w[3];
    const auto known = sets_.find(block.name);
    block.declared = known != sets_.end();
    if (block.declared) {
      block.set = known->second;
    }
  }
  element_started_ = false;
  element_read_ = false;
  expects_argument_ = false;
  blocks_.push_back(block);
}

bool NftReader::take_set(const std::string& name, const SetKind& kind) {
  if (!kind.ether || !is_chosen(name)) {
    return false;  // a set of other things (IP addresses, ports), or one not chosen
  }
  tag_set(set_id(name));
  return true;
}

void NftReader::element(std::string_view key) {
  const NftBlock& block = blocks_.back();
  if (!block.declared) {
    add_invalid(key, "an element of a set whose type is not declared before it");
    return;
  }
  if (!take_set(block.name, block.set)) {
    return;
  }
  if (block.removal) {
    element_read_ = true;
    add_removal(key);
    return;
  }
  if (std::find(read_.begin(), read_.end(), block.name) == read_.end()) {
    read_.push_back(block.name);
  }
  element_read_ = true;
  expires_given_ = false;
  add_address(key);
  if (ParsedLine* added = last_address(); added != nullptr && block.set.timeout > 0) {
    added->seconds_left = block.set.timeout;  // unless the element says otherwise
  }
}

void NftReader::json_set(const NftJsonSet& set) {
  sets_[set.name] = SetKind{set.ether, set.timeout};
}

// As element() for one of the set's elements nft listed.
void NftReader::json_element(const NftJsonSet& set, const NftJsonElement& element) {
  if (!take_set(set.name, SetKind{set.ether, set.timeout})) {
    return;
  }
  if (std::find(read_.begin(), read_.end(), set.name) == read_.end()) {
    read_.push_back(set.name);
  }
  if (element.problem != nullptr) {
    add_invalid(json_input_.where(element), element.problem);
    return;
  }
  add_address(element.address);
  if (ParsedLine* added = last_address()) {
    added->label = element.comment;
    added->seconds_left = element.seconds_left != ParsedLine::kForever ? element.seconds_left
                          : set.timeout > 0                           ? set.timeout
                                                                      : ParsedLine::kForever;
  }
}

namespace {

// " timeout 3600s" and " comment \"LABEL\"" after an element, as far as it
// has them. nft keeps at most 127 bytes of a comment, and its strings know
// no escapes: quoted_label drops what would end or bend the string.
void append_element_notes(std::string& out, const DeviceNote* note, bool timeouts) {
  constexpr std::size_t kMaxNftComment = 127;
  if (note == nullptr) {
    return;
  }
  if (timeouts && note->seconds_left > 0) {
    out += " timeout " + std::to_string(note->seconds_left) + "s";
  }
  const std::string label = quoted_label(note->label, kMaxNftComment);
  if (!label.empty()) {
    out += " comment \"" + label + "\"";
  }
}

}  // namespace

// Declaring the table and set creates them when missing and leaves them
// otherwise; one file is one nft transaction, so the flush and the new
// elements take effect together.
void write_nft(std::string& out, const Addresses& values, const ExportNames& names,
               Addresses& /*left_out*/) {
  const std::string where = names.family + " " + names.table + " " + names.set;
  const bool timeouts = names.notes != nullptr && names.notes->timeouts;
  out += "table " + names.family + " " + names.table + " {\n";
  // nft shows the line it stops at, so the hint stands where an existing set
  // of other flags (timeout, counter) makes it stop.
  out += "\tset " + names.set + " { # \"File exists\" here: a set " + names.set +
         " with other flags exists; nft delete set " + where +
         " (or export --name ANOTHER), then load again\n\t\ttype ether_addr\n";
  out += timeouts ? "\t\tflags timeout\n\t}\n}\n" : "\t}\n}\n";
  out += "flush set " + where + "\n";
  if (values.empty()) {  // nft refuses an empty element list
    return;
  }
  out += "add element " + where + " {\n";
  out.reserve(out.size() + values.size() * (text::kAddressSize + 3) + 2);
  for (std::size_t i = 0; i < values.size(); ++i) {
    out += '\t';
    text::append_address(out, values[i], ':');
    append_element_notes(out, note_of(names, values[i]), timeouts);
    out += i + 1 < values.size() ? ",\n" : "\n";
  }
  out += "}\n";
}

std::unique_ptr<PeerReader> nft_reader() { return std::make_unique<NftReader>(); }

bool is_nft_family(std::string_view name) {
  return std::find(kFamilies.begin(), kFamilies.end(), name) != kFamilies.end();
}

const char* nft_name_problem(std::string_view name) {
  constexpr std::size_t kMaxNftName = 255;  // NFT_NAME_MAXLEN less its terminating zero
  if (const char* problem = text::identifier_problem(name, kMaxNftName)) {
    return problem;
  }
  if (std::find(kNftKeywords.begin(), kNftKeywords.end(), name) != kNftKeywords.end()) {
    return "an nft keyword, which nft does not take as a name";
  }
  return nullptr;
}

std::string nft_names_problem(const ExportNames& names) {
  if (!is_nft_family(names.family)) {
    return "family '" + names.family + "': nft knows ip, ip6, inet, arp, bridge and netdev";
  }
  for (const std::string* name : {&names.table, &names.set}) {
    if (const char* problem = nft_name_problem(*name)) {
      return "'" + *name + "' cannot be an nft name: " + problem;
    }
  }
  return "";
}

}  // namespace adrvet_list::peers
