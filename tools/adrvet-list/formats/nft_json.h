// "nft -j list ruleset" and "nft -j list set" output: the text of each JSON
// document is gathered line by line (nft prints one line, a pretty-printer
// many), and once a document is whole its sets and their elements are
// handed, in order, to the reader that decides which of them it takes.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "formats/address_parser.h"

namespace adrvet_list::peers {

// What nft lists for one set.
struct NftJsonSet {
  std::string name;    // "family table set"
  bool ether = false;  // of type ether_addr
  // The timeout it gives its elements, in seconds, or ParsedLine::kForever.
  std::int64_t timeout = ParsedLine::kForever;
};

// One element of a set: an address with what nft keeps beside it, or why
// it is none a list can take.
struct NftJsonElement {
  std::string_view address;  // the element's text when it is a lone value
  std::string_view comment;  // empty for none
  // The seconds nft keeps it ("expires", else its "timeout"), or
  // ParsedLine::kForever when it says neither.
  std::int64_t seconds_left = ParsedLine::kForever;
  const char* problem = nullptr;
  std::size_t item = 0;  // its place: nftables[item].set.elem[index]
  std::size_t index = 0;
};

class NftJsonSink {
 public:
  NftJsonSink() = default;
  NftJsonSink(const NftJsonSink&) = delete;
  NftJsonSink& operator=(const NftJsonSink&) = delete;
  virtual ~NftJsonSink() = default;

  virtual void json_set(const NftJsonSet& set) = 0;
  virtual void json_element(const NftJsonSet& set, const NftJsonElement& element) = 0;
  // A part of the document that is not what nft lists; `where` says which.
  virtual void json_invalid(std::string_view where, const char* reason) = 0;
};

class NftJsonInput {
 public:
  // Takes the next line; when it completes a document, hands that to `sink`.
  // The texts handed on are valid until the next call.
  void take(std::string_view line, NftJsonSink& sink);

  // Why the input ended too early, or nullptr.
  [[nodiscard]] const char* finish() const;

  // "nftables[3].set.elem[5]", valid until the next call of take().
  std::string_view where(const NftJsonElement& element);

 private:
  void scan(std::string_view line, NftJsonSink& sink);
  void read_document(NftJsonSink& sink);
  void read_set(const nlohmann::json& set, std::size_t item, NftJsonSink& sink);
  std::string_view keep(std::string text);

  std::string document_;   // the text of the document not yet whole
  nlohmann::json parsed_;  // the last whole one: the texts handed on point into it
  std::size_t depth_ = 0;
  bool in_string_ = false;
  bool escaped_ = false;
  bool broken_ = false;  // after a fault that leaves the rest unreadable
  std::deque<std::string> kept_;
};

}  // namespace adrvet_list::peers
