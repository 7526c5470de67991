// Protects a plain MAC list for ADRVET with the library's container writer.
//   protect-list S|U PLAIN_LIST CONTAINER
#include <cstdio>
#include <cstring>

#include "crypto/crypto.h"
#include "crypto/key_versions.h"

int main(int argc, char* argv[]) {
  if (argc != 4 || (std::strcmp(argv[1], "S") != 0 && std::strcmp(argv[1], "U") != 0)) {
    (void)std::fputs("usage: protect-list S|U PLAIN_LIST CONTAINER\n", stderr);
    return 2;
  }
  const int version =
      argv[1][0] == 'U' ? orbitforge::util::kKeyVersionU : orbitforge::util::kKeyVersionS;
  if (!orbitforge::util::encrypt_file(argv[2], argv[3],
                                      orbitforge::util::key_for_version(version))) {
    (void)std::fprintf(stderr, "protect-list: cannot protect '%s' into '%s'\n", argv[2], argv[3]);
    return 1;
  }
  return 0;
}
