// The least that a check of a whole list can do: read every byte of the
// file once, in the pieces ADRVET reads, and look at each, with no
// decryption and no validation. The end-to-end benchmark sets it beside
// ADRVET's check and `cat` to show how much of the check is the reading.
//   adrvet-read-floor FILE
#include <fcntl.h>
#include <immintrin.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "mac/detail/list_text_check.h"

namespace {

// 64 bytes a step in two independent sums, as fast as the loads go.
__attribute__((target("avx2"))) std::uint64_t look_at_wide(const unsigned char* data,
                                                           std::size_t size) {
  __m256i a = _mm256_setzero_si256();
  __m256i b = _mm256_setzero_si256();
  std::size_t i = 0;
  for (; i + 64 <= size; i += 64) {
    a = _mm256_xor_si256(a, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i)));
    b = _mm256_xor_si256(b, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 32)));
  }
  const __m256i both = _mm256_xor_si256(a, b);
  auto all =
      static_cast<std::uint64_t>(_mm256_extract_epi64(both, 0) ^ _mm256_extract_epi64(both, 3));
  for (; i < size; ++i) {
    all ^= data[i];
  }
  return all;
}

// Eight independent sums, so that the loads, not a chain of additions,
// set the pace.
std::uint64_t look_at_portable(const unsigned char* data, std::size_t size) {
  std::uint64_t sums[8] = {};
  std::size_t i = 0;
  for (; i + sizeof sums <= size; i += sizeof sums) {
    for (std::size_t k = 0; k < 8; ++k) {
      std::uint64_t word = 0;
      std::memcpy(&word, data + i + k * 8, sizeof word);
      sums[k] ^= word;
    }
  }
  std::uint64_t all = 0;
  for (const std::uint64_t s : sums) {
    all ^= s;
  }
  for (; i < size; ++i) {
    all ^= data[i];
  }
  return all;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    (void)std::fputs("usage: adrvet-read-floor FILE\n", stderr);
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  const bool wide = __builtin_cpu_supports("avx2") != 0;
  std::vector<unsigned char> piece(orbitforge::mac::kCheckPieceBytes);
  std::uint64_t seen = 0;
  for (;;) {
    const ssize_t got = ::read(fd, piece.data(), piece.size());
    if (got < 0) {
      std::perror(argv[1]);
      return 1;
    }
    if (got == 0) {
      break;
    }
    const auto size = static_cast<std::size_t>(got);
    seen ^= wide ? look_at_wide(piece.data(), size) : look_at_portable(piece.data(), size);
  }
  // The sum decides the exit status, so that no compiler drops the looking.
  return ::close(fd) == 0 && seen != 1 ? 0 : 1;
}
