#include "formats/peer_format.h"

namespace adrvet_list {

void PeerReader::add_address(std::string_view text) {
  ParsedLine parsed = parse_list_line(text);
  if (parsed.kind == ParsedLine::Kind::address) {
    parsed.content = text;
    parsed.set = set_tag_;
    parsed_.push_back(parsed);
  } else {
    add_invalid(text, parsed.kind == ParsedLine::Kind::blank ? "no address" : parsed.reason);
  }
}

void PeerReader::add_removal(std::string_view text) {
  ParsedLine parsed = parse_list_line(text);
  if (parsed.kind == ParsedLine::Kind::address) {
    parsed.kind = ParsedLine::Kind::removal;
    parsed.content = text;
    parsed.set = set_tag_;
    parsed_.push_back(parsed);
  } else {
    add_invalid(text, parsed.kind == ParsedLine::Kind::blank ? "no address" : parsed.reason);
  }
}

void PeerReader::add_flush(std::string_view text) {
  ParsedLine parsed;
  parsed.kind = ParsedLine::Kind::flush;
  parsed.content = text;
  parsed.set = set_tag_;
  parsed_.push_back(parsed);
}

void PeerReader::add_skipped(std::string_view text, const char* what) {
  ParsedLine parsed;
  parsed.kind = ParsedLine::Kind::skipped;
  parsed.reason = what;
  parsed.content = text;
  parsed.set = set_tag_;
  parsed_.push_back(parsed);
}

void PeerReader::add_invalid(std::string_view text, const char* reason) {
  ParsedLine parsed;
  parsed.kind = ParsedLine::Kind::invalid;
  parsed.reason = reason;
  parsed.content = text;
  parsed.set = set_tag_;
  parsed_.push_back(parsed);
}

}  // namespace adrvet_list
