// Prints the AES key and initial counter block of a key version, in hex, for
// the benchmark's openssl pipeline. Benchmark-only: no user-facing command
// reveals the derived key.
//   adrvet-bench-key S|U
#include <cstdio>
#include <vector>

#include "crypto/detail/container_format.h"
#include "crypto/key_versions.h"

int main(int argc, char* argv[]) {
  const auto version = argc == 2 ? orbitforge::util::parse_key_version(argv[1]) : std::nullopt;
  if (!version) {
    (void)std::fputs("usage: adrvet-bench-key S|U\n", stderr);
    return 2;
  }
  unsigned char key[16];
  unsigned char counter[16];
  orbitforge::util::detail::container_key_material(orbitforge::util::key_for_version(*version), key,
                                                   counter);
  for (const unsigned char b : key) {
    (void)std::printf("%02x", b);
  }
  (void)std::printf(" ");
  for (const unsigned char b : counter) {
    (void)std::printf("%02x", b);
  }
  (void)std::printf("\n");
  return std::fflush(stdout) == 0 ? 0 : 1;
}
