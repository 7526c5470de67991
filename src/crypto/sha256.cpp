// The exported SHA-256 functions: buffering and padding here, the
// compression in the implementation the processor runs fastest.
#include "crypto/sha256.h"

#include <cstddef>
#include <cstring>

#include "crypto/detail/sha256_impl.h"

namespace {

constexpr uint32_t initial_hash[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::size_t kBlockBytes = 64;
constexpr std::size_t kLengthField = 56;  // where the 64-bit bit count starts

void compress(sha256_ctx* ctx, const uint8_t* blocks, std::size_t count) {
  orbitforge::util::detail::sha256_active_backend().compress(ctx->hash_words, blocks, count);
}

void store_be32(uint8_t* p, uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) {
    p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  }
}

void store_be64(uint8_t* p, uint64_t v) {
  for (std::size_t i = 0; i < 8; ++i) {
    p[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
  }
}

}  // namespace

extern "C" {

void sha256_init(sha256_ctx* ctx) {
  ctx->block_fill = 0;
  ctx->bit_count = 0;
  std::memcpy(ctx->hash_words, initial_hash, sizeof initial_hash);
}

void sha256_transform(sha256_ctx* ctx, const uint8_t* block) { compress(ctx, block, 1); }

// Every block is compressed as soon as its 64th byte is in: whole blocks
// straight from the caller's data, the rest through the context's block.
void sha256_update(sha256_ctx* ctx, const uint8_t* data, uint64_t length) {
  if (ctx->block_fill > 0) {
    const std::size_t room = kBlockBytes - ctx->block_fill;
    const std::size_t take = length < room ? static_cast<std::size_t>(length) : room;
    std::memcpy(ctx->block + ctx->block_fill, data, take);
    ctx->block_fill += static_cast<uint32_t>(take);
    data += take;
    length -= take;
    if (ctx->block_fill < kBlockBytes) {
      return;
    }
    compress(ctx, ctx->block, 1);
    ctx->bit_count += 512;
    ctx->block_fill = 0;
  }
  const uint64_t whole = length / kBlockBytes;
  if (whole > 0) {
    compress(ctx, data, static_cast<std::size_t>(whole));
    ctx->bit_count += 512 * whole;
    data += whole * kBlockBytes;
    length -= whole * kBlockBytes;
  }
  if (length > 0) {
    std::memcpy(ctx->block, data, static_cast<std::size_t>(length));
    ctx->block_fill = static_cast<uint32_t>(length);
  }
}

void sha256_final(sha256_ctx* ctx, uint8_t* digest) {
  const std::size_t n = ctx->block_fill;
  ctx->block[n] = 0x80;
  if (n < kLengthField) {
    std::memset(ctx->block + n + 1, 0, kLengthField - n - 1);
  } else {
    // No room for the length: pad this block out and start another.
    std::memset(ctx->block + n + 1, 0, kBlockBytes - n - 1);
    compress(ctx, ctx->block, 1);
    std::memset(ctx->block, 0, kLengthField);
  }
  ctx->bit_count += 8 * uint64_t{n};
  store_be64(ctx->block + kLengthField, ctx->bit_count);
  compress(ctx, ctx->block, 1);
  for (std::size_t j = 0; j < 8; ++j) {
    store_be32(digest + 4 * j, ctx->hash_words[j]);
  }
}

}  // extern "C"

namespace orbitforge::util::detail {

const Sha256Backend& sha256_active_backend() {
  static const Sha256Backend& backend =
      sha256_ni_backend() != nullptr ? *sha256_ni_backend() : sha256_portable_backend();
  return backend;
}

}  // namespace orbitforge::util::detail
