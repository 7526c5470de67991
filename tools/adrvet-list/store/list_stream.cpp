#include "store/list_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/secret_bytes.h"
#include "crypto/container.h"
#include "mac/canonical_list.h"
#include "mac/mac_text.h"

namespace adrvet_list {
namespace {

using orbitforge::mac::kCanonicalLineBytes;

// Lines per piece read from the old list: about 256 KiB, in the cache
// from decryption through the merge.
constexpr std::size_t kPieceLines = 14564;

std::uint64_t big_endian_at(const unsigned char* bytes) {
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  return __builtin_bswap64(word);
}

LineKey key_of(const unsigned char* line) { return {big_endian_at(line), big_endian_at(line + 9)}; }

bool before(const LineKey& a, const LineKey& b) {
  return a.high < b.high || (a.high == b.high && a.low < b.low);
}

bool same(const LineKey& a, const LineKey& b) { return a.high == b.high && a.low == b.low; }

// The key of the line adrvet-list writes for `value`.
LineKey key_of_value(std::uint64_t value) {
  char line[orbitforge::mac::kFormattedSize];
  orbitforge::mac::format_address(value, ':', line);
  return key_of(reinterpret_cast<const unsigned char*>(line));
}

// Lower-cases the hex letters of canonical text (all its bytes are below
// 0x80) eight bytes at a time; true when there were any.
bool lower_case(unsigned char* text, std::size_t size) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  std::uint64_t found = 0;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text + i, sizeof word);
    // The top bit of each byte: at least 'A', and not beyond 'F'.
    const std::uint64_t letters =
        (word + (0x80 - 'A') * kOnes) & ~(word + (0x80 - 'G') * kOnes) & kHigh;
    found |= letters;
    word |= letters >> 2U;  // 0x80 >> 2 is the case bit
    std::memcpy(text + i, &word, sizeof word);
  }
  for (; i < size; ++i) {
    if (text[i] >= 'A' && text[i] <= 'F') {
      text[i] = static_cast<unsigned char>(text[i] | 0x20U);
      found = 1;
    }
  }
  return found != 0;
}

// True when every line is above the one before it.
bool strictly_ascending_lines(const unsigned char* text, std::size_t lines) {
  LineKey previous = key_of(text);
  for (std::size_t k = 1; k < lines; ++k) {
    const LineKey current = key_of(text + k * kCanonicalLineBytes);
    if (!before(previous, current)) {
      return false;
    }
    previous = current;
  }
  return true;
}

LineKey line_key(const unsigned char* text, std::size_t line) {
  return key_of(text + line * kCanonicalLineBytes);
}

// The first line in [first, lines) not below `key`: galloping from
// `first`, since the addresses looked up are ascending and often close
// together (an inventory has an entry for most lines).
std::size_t lower_bound_line(const unsigned char* text, std::size_t first, std::size_t lines,
                             const LineKey& key) {
  std::size_t step = 1;
  std::size_t low = first;
  std::size_t high = first;
  while (high < lines && before(line_key(text, high), key)) {
    low = high + 1;
    high = std::min(lines, high + step);
    step *= 2;
  }
  // Every line before `low` is below the key; `high` is not (or is the end).
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (before(line_key(text, middle), key)) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

// Each hex digit's value in the low nibble of its byte: digits and letters
// of either case (which the canonical check allowed) alike.
std::uint64_t nibbles(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  return (word & 0x0f * kOnes) + ((word >> 6U) & kOnes) * 9;
}

// The six digits at bytes 0, 1, 3, 4, 6 and 7 of "aa:bb:cc".
std::uint64_t three_octets(const unsigned char* text) {
  std::uint64_t word = 0;
  std::memcpy(&word, text, sizeof word);
  const std::uint64_t n = nibbles(word);  // byte i of the text is byte i here
  const auto digit = [n](unsigned i) { return (n >> (8 * i)) & 0xfU; };
  return digit(0) << 20U | digit(1) << 16U | digit(3) << 12U | digit(4) << 8U | digit(6) << 4U |
         digit(7);
}

// The address of one line of checked canonical text.
std::uint64_t decode_line(const unsigned char* line) {
  return three_octets(line) << 24U | three_octets(line + 9);
}

}  // namespace

namespace {

// The addresses of an opened list in the canonical layout, a piece at a
// time; false, with `values` empty, for any other text.
bool decode_canonical(orbitforge::util::ContainerReader& reader, Addresses& values) {
  const std::uint64_t size = reader.payload_size();
  if (size % kCanonicalLineBytes != 0) {
    return false;
  }
  values.reserve(static_cast<std::size_t>(size / kCanonicalLineBytes));
  constexpr std::size_t kPieceBytes = kPieceLines * kCanonicalLineBytes;
  orbitforge::util::SecretBytes piece(
      static_cast<std::size_t>(std::min<std::uint64_t>(size, kPieceBytes)));
  for (std::uint64_t offset = 0; offset < size; offset += kPieceBytes) {
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(size - offset, kPieceBytes));
    if (!reader.read_payload(offset, piece.data(), length) ||
        !orbitforge::mac::is_canonical_list(piece.data(), length)) {
      values.clear();
      return false;
    }
    for (std::size_t at = 0; at < length; at += kCanonicalLineBytes) {
      values.push_back(decode_line(piece.data() + at));
    }
  }
  return true;
}

}  // namespace

bool read_canonical_values(const std::string& path, const orbitforge::util::Key& key,
                           Addresses& values) {
  values.clear();
  orbitforge::util::ContainerReader reader;
  return reader.open(path.c_str(), key) == orbitforge::util::ContainerStatus::ok &&
         decode_canonical(reader, values);
}

bool read_canonical_values(const orbitforge::util::FileUpdate& update,
                           const orbitforge::util::Key& key, Addresses& values) {
  values.clear();
  orbitforge::util::ContainerReader reader;
  orbitforge::util::OpenDetails details;
  return reader.open(update, key, details) == orbitforge::util::ContainerStatus::ok &&
         decode_canonical(reader, values);
}

LineMerge::LineMerge(const StreamRequest& request, Output output)
    : requested_(request.requested),
      adding_(request.adding),
      probes_(request.probes),
      output_(std::move(output)) {}

void LineMerge::look_up_probes(const unsigned char* piece, std::size_t lines, const LineKey& last) {
  std::size_t from = 0;
  for (; next_probe_ < probes_.size(); ++next_probe_) {
    const LineKey key = key_of_value(probes_[next_probe_]);
    if (before(last, key)) {
      return;
    }
    from = lower_bound_line(piece, from, lines, key);
    if (from < lines && same(line_key(piece, from), key)) {
      summary_.probes_listed.push_back(probes_[next_probe_]);
    }
  }
}

bool LineMerge::emit(const unsigned char* text, std::size_t size) {
  if (size != 0 && !output_failed_ && !output_(text, size)) {
    output_failed_ = true;
  }
  return !output_failed_;
}

bool LineMerge::emit_address(std::uint64_t value) {
  char line[orbitforge::mac::kFormattedSize];
  orbitforge::mac::format_address(value, ':', line);
  line[kCanonicalLineBytes - 1] = '\n';  // the terminator becomes the line feed
  return emit(reinterpret_cast<const unsigned char*>(line), sizeof line);
}

// Copies the piece's lines with the requested addresses that fall among
// them put in or left out.
bool LineMerge::merge_piece(const unsigned char* piece, std::size_t lines) {
  const LineKey last = line_key(piece, lines - 1);
  look_up_probes(piece, lines, last);
  std::size_t copied = 0;  // lines of the piece already passed on
  for (; next_ < requested_.size(); ++next_) {
    const std::uint64_t value = requested_[next_];
    const LineKey key = key_of_value(value);
    if (before(last, key)) {
      break;
    }
    const std::size_t at = lower_bound_line(piece, copied, lines, key);
    const bool present = at < lines && same(line_key(piece, at), key);
    if (!emit(piece + copied * kCanonicalLineBytes, (at - copied) * kCanonicalLineBytes)) {
      return false;
    }
    copied = at;
    (present == adding_ ? summary_.unchanged : summary_.changed).push_back(value);
    if (present && !adding_) {
      copied = at + 1;  // removed: its line is not copied
    } else if (!present && adding_ && !emit_address(value)) {
      return false;
    }
  }
  return emit(piece + copied * kCanonicalLineBytes, (lines - copied) * kCanonicalLineBytes);
}

bool LineMerge::take(unsigned char* piece, std::size_t size) {
  if (size == 0) {
    return !output_failed_;
  }
  if (!orbitforge::mac::is_canonical_list(piece, size)) {
    return false;
  }
  if (lower_case(piece, size)) {
    summary_.tidy = false;
  }
  const std::size_t lines = size / kCanonicalLineBytes;
  if (!strictly_ascending_lines(piece, lines) || (have_last_ && !before(last_, key_of(piece)))) {
    return false;
  }
  summary_.before += lines;
  if (!merge_piece(piece, lines)) {
    return false;
  }
  last_ = line_key(piece, lines - 1);
  have_last_ = true;
  return true;
}

bool LineMerge::finish() {
  for (; next_ < requested_.size(); ++next_) {  // beyond the last line: none is listed
    const std::uint64_t value = requested_[next_];
    (adding_ ? summary_.changed : summary_.unchanged).push_back(value);
    if (adding_ && !emit_address(value)) {
      return false;
    }
  }
  summary_.after = adding_ ? summary_.before + summary_.changed.size()
                           : summary_.before - summary_.changed.size();
  return !output_failed_;
}

StreamOutcome stream_change(orbitforge::util::FileUpdate& update, const orbitforge::util::Key& key,
                            const StreamRequest& request, const StreamAccept& accept,
                            StreamSummary& summary, orbitforge::util::FileResult& failure) {
  orbitforge::util::ContainerReader reader;
  orbitforge::util::OpenDetails details;
  if (reader.open(update, key, details) != orbitforge::util::ContainerStatus::ok ||
      !details.intact || reader.payload_size() % kCanonicalLineBytes != 0) {
    return StreamOutcome::not_streamable;
  }
  bool produced = false;
  bool streamed = false;
  bool accepted = false;
  failure = update.commit_stream([&](orbitforge::util::ContentSink& sink) {
    produced = true;
    orbitforge::util::ContainerWriter writer(sink, key);
    // The sink keeps its first failure and the merge reads on, since a
    // change that turns out to change nothing needs no writing at all. A
    // list grown to the format's limit is left to the whole-list path.
    LineMerge merge(request, [&writer](const unsigned char* text, std::size_t size) {
      return writer.append(text, size) || !writer.too_large();
    });
    const std::uint64_t size = reader.payload_size();
    constexpr std::size_t kPieceBytes = kPieceLines * kCanonicalLineBytes;
    orbitforge::util::SecretBytes piece(
        static_cast<std::size_t>(std::min<std::uint64_t>(size, kPieceBytes)));
    for (std::uint64_t offset = 0; offset < size; offset += kPieceBytes) {
      const auto length =
          static_cast<std::size_t>(std::min<std::uint64_t>(size - offset, kPieceBytes));
      if (!reader.read_payload(offset, piece.data(), length) || !merge.take(piece.data(), length)) {
        return false;
      }
    }
    if (!merge.finish()) {
      return false;
    }
    streamed = true;
    summary = merge.summary();
    accepted = accept(summary);
    if (accepted) {
      (void)writer.finish();  // a failure of the sink is the commit's to report
    }
    return accepted;
  });
  if (!produced || !streamed) {
    return StreamOutcome::not_streamable;
  }
  if (!failure.ok()) {
    return StreamOutcome::failed;
  }
  return accepted ? StreamOutcome::written : StreamOutcome::kept;
}

}  // namespace adrvet_list
