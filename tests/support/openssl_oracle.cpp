#include "support/openssl_oracle.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace adrvet_test {

Bytes openssl_aes128_ctr(const Bytes& key, const Bytes& iv, const Bytes& data) {
  const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                            &EVP_CIPHER_CTX_free);
  Bytes out(data.size() + 16);
  int produced = 0;
  int finished = 0;
  if (!ctx ||
      EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_ctr(), nullptr, key.data(), iv.data()) != 1 ||
      EVP_EncryptUpdate(ctx.get(), out.data(), &produced, data.data(),
                        static_cast<int>(data.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), out.data() + produced, &finished) != 1) {
    throw std::runtime_error("OpenSSL AES-128-CTR failed");
  }
  out.resize(static_cast<std::size_t>(produced + finished));
  return out;
}

}  // namespace adrvet_test
