// Protects a plain MAC list for ADRVET with the library's container writer.
//   protect-list S|U PLAIN_LIST CONTAINER
#include <cstdio>

#include "crypto/crypto.h"
#include "crypto/key_versions.h"

int main(int argc, char* argv[]) {
  const auto version = argc == 4 ? orbitforge::util::parse_key_version(argv[1]) : std::nullopt;
  if (!version) {
    (void)std::fputs("usage: protect-list S|U PLAIN_LIST CONTAINER\n", stderr);
    return 2;
  }
  if (!orbitforge::util::encrypt_file(argv[2], argv[3],
                                      orbitforge::util::key_for_version(*version))) {
    (void)std::fprintf(stderr, "protect-list: cannot protect '%s' into '%s'\n", argv[2], argv[3]);
    return 1;
  }
  return 0;
}
