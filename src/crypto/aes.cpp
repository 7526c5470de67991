// The exported AES-128 functions, each handed to the implementation the
// processor runs fastest (see aes_impl.h).
#include "crypto/aes.h"

#include <cstring>

#include "crypto/detail/aes_impl.h"

using orbitforge::util::detail::aes_active_backend;

extern "C" {

void AES_init_ctx(AES_ctx* ctx, const uint8_t* key) {
  aes_active_backend().key_expansion(ctx->round_keys, key);
}

void AES_init_ctx_iv(AES_ctx* ctx, const uint8_t* key, const uint8_t* iv) {
  aes_active_backend().key_expansion(ctx->round_keys, key);
  std::memcpy(ctx->iv, iv, sizeof ctx->iv);
}

void AES_ctx_set_iv(AES_ctx* ctx, const uint8_t* iv) { std::memcpy(ctx->iv, iv, sizeof ctx->iv); }

void AES_CTR_xcrypt_buffer(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  aes_active_backend().ctr_xcrypt(ctx, buf, length);
}

void AES_ECB_encrypt(const AES_ctx* ctx, uint8_t* buf) {
  aes_active_backend().ecb_encrypt(ctx, buf);
}

void AES_ECB_decrypt(const AES_ctx* ctx, uint8_t* buf) {
  aes_active_backend().ecb_decrypt(ctx, buf);
}

void AES_CBC_encrypt_buffer(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  aes_active_backend().cbc_encrypt(ctx, buf, length);
}

void AES_CBC_decrypt_buffer(AES_ctx* ctx, uint8_t* buf, uint32_t length) {
  aes_active_backend().cbc_decrypt(ctx, buf, length);
}

}  // extern "C"

namespace orbitforge::util::detail {
namespace {

const AesBackend& fastest() {
  if (const AesBackend* vaes512 = aes_vaes512_backend()) {
    return *vaes512;
  }
  if (const AesBackend* vaes256 = aes_vaes256_backend()) {
    return *vaes256;
  }
  if (const AesBackend* ni = aes_ni_backend()) {
    return *ni;
  }
  return aes_portable_backend();
}

}  // namespace

const AesBackend& aes_active_backend() {
  static const AesBackend& backend = fastest();
  return backend;
}

void aes_backends(AesBackendEntry (&out)[kAesBackendCount]) {
  out[0] = {"portable", &aes_portable_backend()};
  out[1] = {"aesni", aes_ni_backend()};
  out[2] = {"vaes256", aes_vaes256_backend()};
  out[3] = {"vaes512", aes_vaes512_backend()};
}

}  // namespace orbitforge::util::detail
