// A program built against an installed adrvet: writes a protected list from
// memory, opens it again, and checks an address the way ADRVET would.
#include <crypto/container.h>
#include <crypto/crypto.h>
#include <crypto/key_versions.h>
#include <mac/list_check.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
  const char* path = argc > 1 ? argv[1] : "consumer-engine.dat";
  const std::string list = "00:1a:2b:3c:4d:5e\n3c:22:fb:12:34:56\n";
  const auto key = orbitforge::util::key_for_version(orbitforge::util::kKeyVersionS);
  if (!orbitforge::util::write_container(
          path, reinterpret_cast<const unsigned char*>(list.data()), list.size(), key)) {
    std::fprintf(stderr, "cannot write %s\n", path);
    return 1;
  }
  std::vector<unsigned char> payload;
  if (orbitforge::util::decrypt_file(path, &payload, key) != 1 ||
      std::string(payload.begin(), payload.end()) != list) {
    std::fprintf(stderr, "%s does not open to what was written\n", path);
    return 1;
  }
  orbitforge::util::ContainerReader reader;
  if (reader.open(path, key) != orbitforge::util::ContainerStatus::ok) {
    std::fprintf(stderr, "%s does not open for the check\n", path);
    return 1;
  }
  const auto answer = orbitforge::mac::check_list(reader, "3C-22-FB-12-34-56");
  const int listed = orbitforge::mac::code_value(answer);
  std::printf("wrote and opened %s; 3c:22:fb:12:34:56 gives %d\n", path, listed);
  return listed == 1 ? 0 : 1;
}
