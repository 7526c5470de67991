// plain: one address per line, in any notation ADRVET accepts; what pack
// reads by default and export writes by default.
#include "formats/peers.h"
#include "formats/text.h"

namespace adrvet_list::peers {
namespace {

class PlainReader final : public PeerReader {
 protected:
  void take(std::string_view line) override {
    if (const ParsedLine parsed = parse_list_line(line); parsed.kind != ParsedLine::Kind::blank) {
      add_parsed(parsed);
    }
  }
};

}  // namespace

void write_plain(std::string& out, const Addresses& values, const ExportNames& /*names*/,
                 Addresses& /*left_out*/) {
  text::write_lines(out, values, "", ExportNames{}, 0);  // pack reads it: addresses alone
}

std::unique_ptr<PeerReader> plain_reader() { return std::make_unique<PlainReader>(); }

}  // namespace adrvet_list::peers
