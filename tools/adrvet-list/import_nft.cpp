// The nft part of Importer: "nft list set", "nft list ruleset" and the files
// export writes. A small tokenizer follows the blocks, so that the elements
// of the one set of type ether_addr are read wherever they stand.
#include "import_formats.h"

namespace adrvet_list {
namespace {

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

constexpr bool is_punctuation(char c) {
  return c == '{' || c == '}' || c == ',' || c == ';' || c == '=';
}

constexpr std::string_view kEndOfLine = "\n";

// The family of "table NAME" or "add element NAME SET" when none is written.
constexpr std::string_view kDefaultFamily = "ip";

bool is_add_or_create(const std::string& word) { return word == "add" || word == "create"; }

}  // namespace

void Importer::read_nft(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '#') {
      break;  // a comment to the end of the line
    }
    if (is_blank(c)) {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    if (c == '"') {
      const std::size_t close = line.find('"', end);
      end = close == std::string_view::npos ? line.size() : close + 1;
    } else if (!is_punctuation(c)) {
      while (end < line.size() && !is_blank(line[end]) && !is_punctuation(line[end]) &&
             line[end] != '#') {
        ++end;
      }
    }
    nft_token(line.substr(i, end - i));
    i = end;
  }
  nft_token(kEndOfLine);
}

void Importer::nft_token(std::string_view token) {
  const bool in_elements = !nft_blocks_.empty() && nft_blocks_.back().kind == Block::elements;
  if (in_elements) {
    if (token == "}") {
      nft_blocks_.pop_back();
      nft_words_.clear();
    } else if (token == ",") {
      nft_element_started_ = false;
    } else if (token != kEndOfLine && !nft_element_started_) {
      nft_element_started_ = true;  // later words are timeouts, comments, counters
      nft_element(token);
    }
    return;
  }
  if (token == "{") {
    nft_open_block();
    nft_words_.clear();
  } else if (token == "}") {
    nft_statement_end();
    if (!nft_blocks_.empty()) {
      nft_blocks_.pop_back();
    } else {
      add_invalid(token, "a '}' without its '{'");
    }
  } else if (token == ";" || token == kEndOfLine) {
    nft_statement_end();
  } else {
    nft_words_.emplace_back(token);
  }
}

// "type ether_addr" or "typeof ether saddr" (daddr) makes the enclosing set
// one of addresses; "type ether_addr . ipv4_addr" and the like do not.
void Importer::nft_statement_end() {
  const std::vector<std::string>& w = nft_words_;
  if (!nft_blocks_.empty() && nft_blocks_.back().kind == Block::set && !w.empty()) {
    NftBlock& set = nft_blocks_.back();
    const bool type = w.size() == 2 && w[0] == "type" && w[1] == "ether_addr";
    const bool type_of = w.size() == 3 && w[0] == "typeof" && w[1] == "ether" &&
                         (w[2] == "saddr" || w[2] == "daddr");
    if (w[0] == "type" || w[0] == "typeof") {
      set.ether = type || type_of;
      set.declared = true;
      nft_sets_[set.name] = set.ether;
    }
  }
  nft_words_.clear();
}

void Importer::nft_open_block() {
  const std::vector<std::string>& w = nft_words_;
  const NftBlock* outer = nft_blocks_.empty() ? nullptr : &nft_blocks_.back();
  NftBlock block{Block::other, "", false, false};
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
  } else if (w.size() >= 4 && is_add_or_create(w[0]) && (w[1] == "set" || w[1] == "element")) {
    // add set|element [FAMILY] TABLE SET {
    block.kind = w[1] == "set" ? Block::set : Block::elements;
    block.name = w.size() == 5 ? w[2] + " " + w[3] + " " + w[4]
                               : std::string(kDefaultFamily) + " " + w[2] + " " + w[3];
    const auto known = nft_sets_.find(block.name);
    block.declared = known != nft_sets_.end();
    block.ether = block.declared && known->second;
  }
  nft_element_started_ = false;
  nft_blocks_.push_back(block);
}

void Importer::nft_element(std::string_view key) {
  const NftBlock& block = nft_blocks_.back();
  if (!block.declared) {
    add_invalid(key, "an element of a set whose type is not declared before it");
    return;
  }
  if (!block.ether) {
    return;  // a set of other things (IP addresses, ports) of the same ruleset
  }
  if (nft_set_.empty()) {
    nft_set_ = block.name;
  } else if (nft_set_ != block.name) {
    add_invalid(key, "an element of a second ether_addr set; import one set at a time");
    return;
  }
  add_address(key);
}

}  // namespace adrvet_list
