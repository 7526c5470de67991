// Every AES and SHA-256 implementation, run over the same published vectors
// and compared with the portable one on random inputs. An implementation
// the processor cannot run is reported as skipped, never as passed.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/aes_impl.h"
#include "crypto/sha256_impl.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Bytes;
using adrvet_test::from_hex;
using adrvet_test::random_bytes;
using orbitforge::util::detail::AesBackend;
using orbitforge::util::detail::Sha256Backend;

const AesBackend* aes_backend(const std::string& name) {
  if (name == "portable") {
    return &orbitforge::util::detail::aes_portable_backend();
  }
  return orbitforge::util::detail::aes_ni_backend();
}

const Sha256Backend* sha_backend(const std::string& name) {
  if (name == "portable") {
    return &orbitforge::util::detail::sha256_portable_backend();
  }
  return orbitforge::util::detail::sha256_ni_backend();
}

AES_ctx context(const Bytes& key, const Bytes& iv) {
  AES_ctx ctx;
  AES_init_ctx_iv(&ctx, key.data(), iv.data());
  return ctx;
}

class AesBackends : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    backend_ = aes_backend(GetParam());
    if (backend_ == nullptr) {
      GTEST_SKIP() << "this processor cannot run the " << GetParam() << " implementation";
    }
  }
  Bytes ctr(const AesBackend& b, const Bytes& key, const Bytes& iv, Bytes data,
            Bytes* iv_after = nullptr) {
    AES_ctx ctx = context(key, iv);
    b.ctr_xcrypt(&ctx, data.data(), static_cast<uint32_t>(data.size()));
    if (iv_after != nullptr) {
      *iv_after = Bytes(ctx.iv, ctx.iv + 16);
    }
    return data;
  }
  Bytes cbc(const AesBackend& b, bool encrypt, const Bytes& key, const Bytes& iv, Bytes data,
            uint32_t length, Bytes* iv_after) {
    AES_ctx ctx = context(key, iv);
    (encrypt ? b.cbc_encrypt : b.cbc_decrypt)(&ctx, data.data(), length);
    *iv_after = Bytes(ctx.iv, ctx.iv + 16);
    return data;
  }
  const AesBackend* backend_ = nullptr;
};

TEST_P(AesBackends, PublishedVectors) {
  const AesBackend& b = *backend_;
  // FIPS-197 C.1, one block each way.
  AES_ctx ctx = context(from_hex("000102030405060708090a0b0c0d0e0f"), Bytes(16, 0));
  Bytes block = from_hex("00112233445566778899aabbccddeeff");
  b.ecb_encrypt(&ctx, block.data());
  EXPECT_EQ(block, from_hex("69c4e0d86a7b0430d8cdb78070b4c55a"));
  b.ecb_decrypt(&ctx, block.data());
  EXPECT_EQ(block, from_hex("00112233445566778899aabbccddeeff"));
  // SP 800-38A F.5.1.
  EXPECT_EQ(ctr(b, from_hex("2b7e151628aed2a6abf7158809cf4f3c"),
                from_hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"),
                from_hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                         "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710")),
            from_hex("874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff"
                     "5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee"));
  for (const auto& r : adrvet_test::read_vector_file("ciphers/AES/CTR/aes-128-ctr.txt")) {
    EXPECT_EQ(ctr(b, from_hex(r.at("KEY")), from_hex(r.at("IV")), from_hex(r.at("PLAINTEXT"))),
              from_hex(r.at("CIPHERTEXT")));
  }
  for (const char* mode : {"ECB", "CBC"}) {
    for (const char* kind : {"GFSbox", "KeySbox", "VarKey", "VarTxt", "MMT"}) {
      const std::string name = std::string(mode) + kind + "128.rsp";
      for (const auto& r :
           adrvet_test::read_vector_file("ciphers/AES/" + std::string(mode) + "/" + name)) {
        const bool encrypt = r.section == "ENCRYPT";
        Bytes data = from_hex(r.at(encrypt ? "PLAINTEXT" : "CIPHERTEXT"));
        const Bytes key = from_hex(r.at("KEY"));
        if (std::strcmp(mode, "ECB") == 0) {
          AES_ctx ecb_ctx = context(key, Bytes(16, 0));
          for (std::size_t at = 0; at < data.size(); at += 16) {
            (encrypt ? b.ecb_encrypt : b.ecb_decrypt)(&ecb_ctx, data.data() + at);
          }
        } else {
          Bytes iv_after;
          data = cbc(b, encrypt, key, from_hex(r.at("IV")), data,
                     static_cast<uint32_t>(data.size()), &iv_after);
        }
        ASSERT_EQ(data, from_hex(r.at(encrypt ? "CIPHERTEXT" : "PLAINTEXT")))
            << name << " " << r.section << " COUNT " << r.at("COUNT");
      }
    }
  }
}

TEST_P(AesBackends, CtrMatchesPortableEverywhereIncludingCounterWrap) {
  const AesBackend& portable = orbitforge::util::detail::aes_portable_backend();
  std::mt19937_64 rng(adrvet_test::test_seed());
  for (int round = 0; round < 400; ++round) {
    const Bytes key = random_bytes(rng, 16);
    Bytes iv = random_bytes(rng, 16);
    switch (round % 4) {
      case 0:  // the low half about to carry into the high half
        std::fill(iv.begin() + 8, iv.end(), 0xff);
        iv[15] = static_cast<unsigned char>(0xff - rng() % 12);
        break;
      case 1:  // the whole counter about to wrap to zero
        std::fill(iv.begin(), iv.end(), 0xff);
        iv[15] = static_cast<unsigned char>(0xff - rng() % 12);
        break;
      default:
        break;
    }
    const std::size_t offset = rng() % 16;  // unaligned buffers
    const std::size_t length = rng() % 600;
    Bytes buffer = random_bytes(rng, offset + length + 16);
    Bytes fast = buffer;
    Bytes slow = buffer;
    AES_ctx fast_ctx = context(key, iv);
    AES_ctx slow_ctx = context(key, iv);
    backend_->ctr_xcrypt(&fast_ctx, fast.data() + offset, static_cast<uint32_t>(length));
    portable.ctr_xcrypt(&slow_ctx, slow.data() + offset, static_cast<uint32_t>(length));
    ASSERT_EQ(fast, slow) << "round " << round << " length " << length;
    ASSERT_EQ(0, std::memcmp(fast_ctx.iv, slow_ctx.iv, 16)) << "round " << round;
  }
}

TEST_P(AesBackends, BlockModesMatchPortable) {
  const AesBackend& portable = orbitforge::util::detail::aes_portable_backend();
  std::mt19937_64 rng(adrvet_test::test_seed() + 7);
  for (int round = 0; round < 300; ++round) {
    const Bytes key = random_bytes(rng, 16);
    const Bytes iv = random_bytes(rng, 16);
    const auto length = static_cast<uint32_t>(rng() % 300);  // rounded up to whole blocks
    const Bytes data = random_bytes(rng, (length + 15) / 16 * 16 + 16);
    for (bool encrypt : {true, false}) {
      Bytes fast_iv;
      Bytes slow_iv;
      ASSERT_EQ(cbc(*backend_, encrypt, key, iv, data, length, &fast_iv),
                cbc(portable, encrypt, key, iv, data, length, &slow_iv))
          << "CBC round " << round << " length " << length;
      ASSERT_EQ(fast_iv, slow_iv) << "CBC round " << round;
      AES_ctx ctx = context(key, iv);
      Bytes fast(data.begin(), data.begin() + 16);
      Bytes slow = fast;
      (encrypt ? backend_->ecb_encrypt : backend_->ecb_decrypt)(&ctx, fast.data());
      (encrypt ? portable.ecb_encrypt : portable.ecb_decrypt)(&ctx, slow.data());
      ASSERT_EQ(fast, slow) << "ECB round " << round;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Implementations, AesBackends, ::testing::Values("portable", "aesni"),
                         [](const auto& param_info) { return param_info.param; });

class Sha256Backends : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    backend_ = sha_backend(GetParam());
    if (backend_ == nullptr) {
      GTEST_SKIP() << "this processor cannot run the " << GetParam() << " implementation";
    }
  }
  const Sha256Backend* backend_ = nullptr;
};

TEST_P(Sha256Backends, CompressesLikeFips180Examples) {
  // "abc" padded into one block.
  Bytes block(64, 0);
  block[0] = 'a';
  block[1] = 'b';
  block[2] = 'c';
  block[3] = 0x80;
  block[63] = 24;
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  backend_->compress(h, block.data(), 1);
  const uint32_t expected[8] = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
  EXPECT_EQ(0, std::memcmp(h, expected, sizeof h));
}

TEST_P(Sha256Backends, MatchesPortableOnRandomBlocks) {
  const Sha256Backend& portable = orbitforge::util::detail::sha256_portable_backend();
  std::mt19937_64 rng(adrvet_test::test_seed() + 11);
  for (int round = 0; round < 300; ++round) {
    const std::size_t count = rng() % 20;
    const std::size_t offset = rng() % 8;  // unaligned input
    const Bytes data = random_bytes(rng, offset + 64 * count);
    uint32_t fast[8];
    for (auto& w : fast) {
      w = static_cast<uint32_t>(rng());
    }
    uint32_t slow[8];
    std::memcpy(slow, fast, sizeof fast);
    backend_->compress(fast, data.data() + offset, count);
    portable.compress(slow, data.data() + offset, count);
    ASSERT_EQ(0, std::memcmp(fast, slow, sizeof fast)) << "round " << round << " blocks " << count;
  }
}

INSTANTIATE_TEST_SUITE_P(Implementations, Sha256Backends, ::testing::Values("portable", "shani"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
