#include <vector>

#include "crypto/crypto.h"
#include "crypto/file_io.h"
#include "crypto/sha256.h"
#include "crypto/wipe.h"

namespace orbitforge::util {

bool hash_file(const char* path, char* out, int size) {
  constexpr int kDigestBytes = 32;
  if (size != kDigestBytes) {
    return false;
  }
  std::vector<unsigned char> content;
  if (!detail::load_file(path, content)) {
    return false;
  }
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, content.data(), content.size());
  sha256_final(&ctx, reinterpret_cast<uint8_t*>(out));
  // The digest module leaves its state in the context; this caller clears it.
  wipe(&ctx, sizeof ctx);
  return true;
}

}  // namespace orbitforge::util
