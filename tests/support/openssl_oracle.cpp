#include "support/openssl_oracle.h"

#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <stdexcept>

namespace adrvet_test {
namespace {

Bytes run_cipher(const EVP_CIPHER* cipher, const Bytes& key, const unsigned char* iv,
                 const Bytes& data, bool encrypt) {
  const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                            &EVP_CIPHER_CTX_free);
  Bytes out(data.size() + 16);
  int produced = 0;
  int finished = 0;
  if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv, encrypt ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_CipherUpdate(ctx.get(), out.data(), &produced, data.data(),
                       static_cast<int>(data.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + produced, &finished) != 1) {
    throw std::runtime_error("OpenSSL cipher failed");
  }
  out.resize(static_cast<std::size_t>(produced + finished));
  return out;
}

}  // namespace

Bytes openssl_aes128_ctr(const Bytes& key, const Bytes& iv, const Bytes& data) {
  return run_cipher(EVP_aes_128_ctr(), key, iv.data(), data, true);
}

Bytes openssl_aes128_ecb(const Bytes& key, const Bytes& data, bool encrypt) {
  return run_cipher(EVP_aes_128_ecb(), key, nullptr, data, encrypt);
}

Bytes openssl_aes128_cbc(const Bytes& key, const Bytes& iv, const Bytes& data, bool encrypt) {
  return run_cipher(EVP_aes_128_cbc(), key, iv.data(), data, encrypt);
}

Bytes openssl_sha256(const Bytes& data) {
  Bytes digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("OpenSSL SHA-256 failed");
  }
  digest.resize(length);
  return digest;
}

}  // namespace adrvet_test

namespace adrvet_test {

Bytes openssl_sha256_of_file(const std::string& path) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  std::ifstream in(path, std::ios::binary);
  if (!ctx || !in || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("cannot digest " + path);
  }
  std::vector<char> chunk(1 << 20);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    if (EVP_DigestUpdate(ctx.get(), chunk.data(), static_cast<std::size_t>(in.gcount())) != 1) {
      throw std::runtime_error("cannot digest " + path);
    }
  }
  Bytes digest(32);
  unsigned length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1 || length != 32) {
    throw std::runtime_error("cannot digest " + path);
  }
  return digest;
}

}  // namespace adrvet_test
