// adrvet-list pack's line parser: never a crash, and every accepted line
// decodes to the address that ADRVET would decode from it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/address_parser.h"
#include "mac/mac_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const adrvet_list::ParsedLine parsed = adrvet_list::parse_list_line(line);
  if (parsed.kind != adrvet_list::ParsedLine::Kind::address) {
    return 0;
  }
  std::string text(parsed.content);
  const bool dotted = text.size() == 14 && text[4] == '.' && text[9] == '.';
  if (dotted) {  // ADRVET has no dotted form: the same digits without the dots
    text = text.substr(0, 4) + text.substr(5, 4) + text.substr(10, 4);
  }
  std::uint64_t adrvet_value = 0;
  const auto status = orbitforge::mac::decode_entered(text.c_str(), adrvet_value);
  if (text.find('\0') != std::string::npos || status != orbitforge::mac::EnteredStatus::ok ||
      adrvet_value != parsed.value || parsed.value > 0xFFFFFFFFFFFFULL) {
    std::fprintf(stderr, "accepted '%s' as %012llx, ADRVET decodes %012llx\n", text.c_str(),
                 static_cast<unsigned long long>(parsed.value),
                 static_cast<unsigned long long>(adrvet_value));
    std::abort();
  }
  return 0;
}
