#include "formats/label_text.h"

namespace adrvet_list {
namespace {

// The length of the UTF-8 sequence that starts at `at`, or 0 when it is not
// well formed (overlong forms, surrogates and values beyond U+10FFFF are not).
std::size_t sequence_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  unsigned min_second = 0x80;
  unsigned max_second = 0xBF;
  if (lead < 0x80) {
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    min_second = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
    max_second = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    min_second = lead == 0xF0 ? 0x90 : 0x80;
    max_second = lead == 0xF4 ? 0x8F : 0xBF;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(at + 1) < min_second || byte(at + 1) > max_second) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
      return 0;
    }
  }
  return length;
}

constexpr bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

// U+0080 to U+009F, the C1 controls: C2 80 to C2 9F in UTF-8.
bool is_c1_control(std::string_view text, std::size_t at, std::size_t length) {
  return length == 2 && static_cast<unsigned char>(text[at]) == 0xC2 &&
         static_cast<unsigned char>(text[at + 1]) < 0xA0;
}

// Copies `label` with the bytes `replace` picks turned into '_', stopping
// before the character that would pass `max_bytes`. A byte that is not part
// of a well-formed character is replaced as well.
template <typename Replace>
std::string rewritten(std::string_view label, std::size_t max_bytes, Replace replace) {
  std::string out;
  std::size_t at = 0;
  while (at < label.size()) {
    std::size_t length = sequence_length(label, at);
    const bool bad = length == 0 || is_c1_control(label, at, length) ||
                     (length == 1 && replace(static_cast<unsigned char>(label[at])));
    length = length == 0 ? 1 : length;
    if (out.size() + (bad ? 1 : length) > max_bytes) {
      break;
    }
    if (bad) {
      out += '_';
    } else {
      out.append(label.substr(at, length));
    }
    at += length;
  }
  return out;
}

}  // namespace

const char* label_problem(std::string_view label) {
  if (label.size() > kMaxLabelBytes) {
    return "the label is longer than 255 bytes";
  }
  for (std::size_t at = 0; at < label.size();) {
    const std::size_t length = sequence_length(label, at);
    if (length == 0) {
      return "the label is not valid UTF-8";
    }
    if ((length == 1 && is_control(static_cast<unsigned char>(label[at]))) ||
        is_c1_control(label, at, length)) {
      return "the label holds a control character";
    }
    at += length;
  }
  return nullptr;
}

std::string quoted_label(std::string_view label, std::size_t max_bytes) {
  return rewritten(label, max_bytes,
                   [](unsigned char c) { return is_control(c) || c == '"' || c == '\\'; });
}

std::string comment_label(std::string_view label, std::size_t max_bytes) {
  std::string out = rewritten(label, max_bytes, is_control);
  if (!out.empty() && out.back() == '\\') {
    out.back() = '_';
  }
  return out;
}

}  // namespace adrvet_list
