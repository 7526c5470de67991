#include "formats/peer_format.h"

namespace adrvet_list {

void PeerReader::add_address(std::string_view text) {
  ParsedLine parsed = parse_list_line(text);
  if (parsed.kind == ParsedLine::Kind::address) {
    parsed.content = text;
    parsed_.push_back(parsed);
  } else {
    add_invalid(text, parsed.kind == ParsedLine::Kind::blank ? "no address" : parsed.reason);
  }
}

void PeerReader::add_invalid(std::string_view text, const char* reason) {
  ParsedLine parsed;
  parsed.kind = ParsedLine::Kind::invalid;
  parsed.reason = reason;
  parsed.content = text;
  parsed_.push_back(parsed);
}

}  // namespace adrvet_list
