// The peer formats: no input crashes the importer in any format, every
// address it takes is the one its own text spells, and the export of any
// list reads back as that list.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/format_table.h"
#include "fuzz_support.h"

namespace {

using adrvet_fuzz::fail;
using adrvet_list::ParsedLine;
using adrvet_list::PeerFormat;

std::vector<std::uint64_t> import_all(const PeerFormat& format, const std::string& text) {
  const auto reader = format.make_reader();
  std::vector<std::uint64_t> values;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line(text.data() + start, end - start);
    for (const ParsedLine& parsed : reader->read(line)) {
      if (parsed.kind != ParsedLine::Kind::address) {
        continue;
      }
      const ParsedLine again = adrvet_list::parse_list_line(parsed.content);
      if (again.kind != ParsedLine::Kind::address || again.value != parsed.value ||
          parsed.value > 0xFFFFFFFFFFFFULL) {
        fail("an imported address is not what its text spells");
      }
      values.push_back(parsed.value);
    }
    start = end + 1;
  }
  (void)reader->finish();
  return values;
}

void round_trip(const PeerFormat& format, const std::uint8_t* data, std::size_t size) {
  adrvet_list::Addresses values;
  for (std::size_t i = 0; i + 6 <= size; i += 6) {
    std::uint64_t value = 0;
    for (std::size_t j = 0; j < 6; ++j) {
      value = value << 8U | data[i + j];
    }
    values.push_back(value);
  }
  adrvet_list::Addresses left_out;
  const std::string text =
      adrvet_list::export_text(format, values, adrvet_list::ExportNames{}, left_out);
  const std::vector<std::uint64_t> imported = import_all(format, text);
  adrvet_list::Addresses back(imported.begin(), imported.end());
  back.insert(back.end(), left_out.begin(), left_out.end());
  std::sort(values.begin(), values.end());
  std::sort(back.begin(), back.end());
  if (back != values) {
    fail("an export does not read back as its list");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  const auto formats = adrvet_list::peer_formats();
  const PeerFormat& format = formats[data[0] % formats.size()];
  if ((data[1] & 1U) != 0) {
    round_trip(format, data + 2, size - 2);
  } else {
    (void)import_all(format, adrvet_fuzz::text_of(data + 2, size - 2));
  }
  return 0;
}
