// Opening a container from arbitrary bytes, in memory, piecewise and file to
// file: never a crash or a read out of bounds, the same verdict everywhere,
// and a success only for bytes that really frame a container under the key,
// as an independent reading (the portable AES over the whole file) says.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/container.h"
#include "crypto/detail/aes_impl.h"
#include "crypto/detail/container_format.h"
#include "crypto/key_versions.h"

namespace {

using orbitforge::util::ContainerStatus;

const std::string& scratch_dir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/adrvet-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::abort();
    }
    return pattern;
  }();
  return dir;
}

void write_bytes(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
    std::abort();
  }
}

std::vector<unsigned char> read_bytes(const std::string& path) {
  std::vector<unsigned char> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::abort();
  }
  int c = 0;
  while ((c = std::fgetc(file)) != EOF) {
    bytes.push_back(static_cast<unsigned char>(c));
  }
  std::fclose(file);
  return bytes;
}

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) {
    return 0;
  }
  const auto key = orbitforge::util::key_for_version((data[0] & 1U) != 0 ? 2 : 1);
  ++data;
  --size;
  const std::string in = scratch_dir() + "/in";
  const std::string out = scratch_dir() + "/out";
  write_bytes(in, data, size);
  ::unlink(out.c_str());

  // The independent reading: the portable AES over the whole file.
  std::vector<unsigned char> image(data, data + size);
  unsigned char aes_key[16];
  unsigned char counter[16];
  orbitforge::util::detail::container_key_material(key, aes_key, counter);
  AES_ctx ctx;
  AES_init_ctx_iv(&ctx, aes_key, counter);
  orbitforge::util::detail::aes_portable_backend().ctr_xcrypt(&ctx, image.data(),
                                                              static_cast<uint32_t>(image.size()));
  ContainerStatus expected = ContainerStatus::ok;
  if (size < 11) {
    expected = ContainerStatus::too_short;
  } else if (std::memcmp(image.data(), "Orbit Forge", 11) != 0) {
    expected = ContainerStatus::wrong_key;
  } else if (size < 12) {
    expected = ContainerStatus::too_short;
  } else if (image[11] > size - 12) {
    expected = ContainerStatus::bad_pad_count;
  }

  std::vector<unsigned char> payload = {0x42};
  const ContainerStatus status = orbitforge::util::open_container(in.c_str(), payload, key);
  check(status == expected, "open_container's verdict");
  orbitforge::util::ContainerReader reader;
  check(reader.open(in.c_str(), key) == expected, "the piecewise reader's verdict");
  const bool to_file = orbitforge::util::decrypt_file(in.c_str(), out.c_str(), key);
  check(to_file == (expected == ContainerStatus::ok), "the file-to-file verdict");

  if (expected != ContainerStatus::ok) {
    check(payload.size() == 1 && payload[0] == 0x42, "output untouched on failure");
    check(::access(out.c_str(), F_OK) != 0, "no output file on failure");
    return 0;
  }
  const std::vector<unsigned char> framed(image.begin() + 12, image.end() - image[11]);
  check(payload == framed, "the payload");
  check(read_bytes(out) == framed, "the payload written to a file");
  std::vector<unsigned char> pieces(framed.size());
  for (size_t at = 0; at < pieces.size(); at += 7) {
    const size_t n = std::min<size_t>(7, pieces.size() - at);
    check(reader.read_payload(at, pieces.data() + at, n), "a piece of the payload");
  }
  check(pieces == framed, "the payload read piecewise");

  // Re-encrypting the payload gives back exactly these bytes when, and only
  // when, they carry the writer's own padding.
  check(orbitforge::util::write_container(out.c_str(), payload.data(), payload.size(), key),
        "rewriting the payload");
  const std::size_t standard_pad = 16 - (12 + payload.size()) % 16;
  bool zero_pad = true;
  for (size_t i = size - image[11]; i < size; ++i) {
    zero_pad = zero_pad && image[i] == 0;
  }
  const bool standard = image[11] == standard_pad && zero_pad;
  check((read_bytes(out) == std::vector<unsigned char>(data, data + size)) == standard,
        "re-encryption gives back the same bytes exactly for a standard container");
  return 0;
}
