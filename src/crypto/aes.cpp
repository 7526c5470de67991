// The exported AES-128 functions: key set-up here, the modes in the
// implementation the processor runs fastest (see aes_impl.h).
#include "crypto/aes.h"

#include <cstring>

#include "crypto/aes_impl.h"

using orbitforge::util::detail::aes_active_backend;

extern "C" {

void AES_init_ctx(AES_ctx* ctx, const uint8_t* key) {
  orbitforge::util::detail::aes_key_expansion(ctx->round_keys, key);
}

void AES_init_ctx_iv(AES_ctx* ctx, const uint8_t* key, const uint8_t* iv) {
  orbitforge::util::detail::aes_key_expansion(ctx->round_keys, key);
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

const AesBackend& aes_active_backend() {
  static const AesBackend& backend =
      aes_ni_backend() != nullptr ? *aes_ni_backend() : aes_portable_backend();
  return backend;
}

}  // namespace orbitforge::util::detail
