// The list check on arbitrary list text and an arbitrary entered address,
// against a model written here to be obviously correct: separators dropped,
// the result-code table tested in order, a linear scan for the lookup.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mac/detail/list_text_check.h"

namespace {

bool separator(unsigned char c) { return c == ':' || c == '\n' || c == '\r' || c == '-'; }

int digit(unsigned char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

std::string without_separators(const unsigned char* text, size_t size) {
  std::string kept;
  for (size_t i = 0; i < size; ++i) {
    if (!separator(text[i])) {
      kept += static_cast<char>(text[i]);
    }
  }
  return kept;
}

bool value_of(const std::string& text, size_t at, uint64_t& value) {
  value = 0;
  for (size_t i = at; i < at + 12; ++i) {
    const int d = digit(static_cast<unsigned char>(text[i]));
    if (d < 0) {
      return false;
    }
    value = value * 16 + static_cast<uint64_t>(d);
  }
  return true;
}

struct Model {
  int code;
  bool sorted;
};

Model model(const unsigned char* list, size_t size, const std::string& entered_text) {
  const std::string text = without_separators(list, size);
  if (text.size() % 12 != 0) {
    return {-4, true};
  }
  std::vector<uint64_t> values;
  for (size_t at = 0; at < text.size(); at += 12) {
    uint64_t value = 0;
    if (!value_of(text, at, value)) {
      return {-5, true};
    }
    values.push_back(value);
  }
  const std::string entered =
      without_separators(reinterpret_cast<const unsigned char*>(entered_text.c_str()),
                         std::strlen(entered_text.c_str()));
  if (entered.empty() || entered.size() % 12 != 0) {
    return {-6, true};
  }
  uint64_t wanted = 0;
  if (!value_of(entered, 0, wanted)) {
    return {-7, true};
  }
  bool sorted = true;
  bool found = false;
  for (size_t i = 0; i < values.size(); ++i) {
    sorted = sorted && (i == 0 || values[i - 1] <= values[i]);
    found = found || values[i] == wanted;
  }
  return {found ? 1 : 0, sorted};
}

}  // namespace

// Input: entered-address length, the address, a piece size, then the list text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  const size_t entered_size = std::min<size_t>(data[0] % 72, size - 2);
  const std::string entered(reinterpret_cast<const char*>(data + 1), entered_size);
  const size_t piece = 18 * (1 + data[1 + entered_size] % 24);
  const unsigned char* list = data + 2 + entered_size;
  const size_t list_size = size - 2 - entered_size;

  const int code = orbitforge::mac::code_value(orbitforge::mac::check_list_text(
      list_size,
      [&](uint64_t offset, unsigned char* out, size_t n) {
        if (offset > list_size || n > list_size - offset) {
          std::fprintf(stderr, "read past the list text\n");
          std::abort();
        }
        std::memcpy(out, list + offset, n);
        return true;
      },
      entered.c_str(), piece));
  const Model expected = model(list, list_size, entered);
  // On an unsorted list the binary search may miss a listed address, but
  // must never find an absent one.
  const bool agrees =
      code == expected.code || (!expected.sorted && expected.code == 1 && code == 0);
  if (!agrees) {
    std::fprintf(stderr, "check gave %d, the model %d\n", code, expected.code);
    std::abort();
  }
  return 0;
}
