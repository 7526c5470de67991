// Reading lists back from the files the peers load, as administrators have
// them: extra fields, tags, attributes and whole rulesets included.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "address_parser.h"
#include "peer_format.h"

namespace adrvet_list {

// Reads one input line after another, in order; some formats (nft sets,
// FreeRADIUS entries) span lines.
class Importer {
 public:
  explicit Importer(PeerFormat format) : format_(format) {}

  // The addresses on `line` (without its line feed), each as a ParsedLine of
  // kind address whose content is the address's own text, or one ParsedLine
  // of kind invalid with the reason. Empty for a line without addresses.
  // Valid until the next call; the texts point into `line`.
  const std::vector<ParsedLine>& read(std::string_view line);

  // After the last line: why the input ended too early (inside an nft
  // block), or nullptr.
  [[nodiscard]] const char* finish() const;

 private:
  enum class Block { other, table, set, elements };
  struct NftBlock {
    Block kind;
    std::string name;       // "family table" for a table, "family table set" for sets
    bool ether = false;     // a set of type ether_addr
    bool declared = false;  // the set's type is known
  };

  void read_hostapd(std::string_view line);
  void read_dnsmasq(std::string_view line, bool hosts_file);
  void read_ipset(std::string_view line);
  void read_nft(std::string_view line);
  void read_freeradius(std::string_view line);
  void nft_token(std::string_view token);
  void nft_statement_end();
  void nft_open_block();
  void nft_element(std::string_view key);
  void add_address(std::string_view text);
  void add_invalid(std::string_view text, const char* reason);

  PeerFormat format_;
  std::vector<ParsedLine> parsed_;
  std::string ipset_set_;  // the set whose addresses are read
  // nft: the blocks around the current token, the words of the statement so
  // far, the sets of type ether_addr, and the one whose elements are read.
  std::vector<NftBlock> nft_blocks_;
  std::vector<std::string> nft_words_;
  std::map<std::string, bool> nft_sets_;  // declared sets: of type ether_addr or not
  std::string nft_set_;
  bool nft_element_started_ = false;
};

}  // namespace adrvet_list
