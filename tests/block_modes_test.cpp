// AES-128 ECB and CBC: FIPS-197 C.1, the CAVP files in both directions,
// chaining and length edge cases, and a randomized comparison with OpenSSL.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/aes.h"
#include "support/openssl_oracle.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Bytes;
using adrvet_test::from_hex;

const Bytes kC1Key = from_hex("000102030405060708090a0b0c0d0e0f");
const Bytes kC1Plain = from_hex("00112233445566778899aabbccddeeff");
const Bytes kC1Cipher = from_hex("69c4e0d86a7b0430d8cdb78070b4c55a");

Bytes ecb(const Bytes& key, Bytes data, bool encrypt) {
  AES_ctx ctx;
  AES_init_ctx(&ctx, key.data());
  for (std::size_t at = 0; at < data.size(); at += 16) {
    (encrypt ? AES_ECB_encrypt : AES_ECB_decrypt)(&ctx, data.data() + at);
  }
  return data;
}

Bytes cbc(const Bytes& key, const Bytes& iv, Bytes data, bool encrypt, Bytes* iv_after = nullptr) {
  AES_ctx ctx;
  AES_init_ctx_iv(&ctx, key.data(), iv.data());
  (encrypt ? AES_CBC_encrypt_buffer : AES_CBC_decrypt_buffer)(&ctx, data.data(),
                                                              static_cast<uint32_t>(data.size()));
  if (iv_after != nullptr) {
    *iv_after = Bytes(ctx.iv, ctx.iv + 16);
  }
  return data;
}

TEST(AesEcb, Fips197C1BothWaysLeavesContextAlone) {
  AES_ctx ctx;
  AES_init_ctx_iv(&ctx, kC1Key.data(), Bytes(16, 0x77).data());
  AES_ctx before = ctx;
  Bytes block = kC1Plain;
  AES_ECB_encrypt(&ctx, block.data());
  EXPECT_EQ(block, kC1Cipher);
  AES_ECB_decrypt(&ctx, block.data());
  EXPECT_EQ(block, kC1Plain);
  EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof ctx));
}

void expect_cavp_file(const std::string& mode, const std::string& name) {
  const auto records = adrvet_test::read_vector_file("ciphers/AES/" + mode + "/" + name);
  int checked = 0;
  for (const auto& r : records) {
    const Bytes key = from_hex(r.at("KEY"));
    const Bytes plain = from_hex(r.at("PLAINTEXT"));
    const Bytes cipher = from_hex(r.at("CIPHERTEXT"));
    const bool encrypt = r.section == "ENCRYPT";
    const Bytes& input = encrypt ? plain : cipher;
    const Bytes& expected = encrypt ? cipher : plain;
    const Bytes got =
        mode == "ECB" ? ecb(key, input, encrypt) : cbc(key, from_hex(r.at("IV")), input, encrypt);
    ASSERT_EQ(got, expected) << name << " " << r.section << " COUNT " << r.at("COUNT");
    ++checked;
  }
  EXPECT_GT(checked, 0) << name;
}

TEST(AesEcb, CavpFiles) {
  for (const char* kind : {"GFSbox", "KeySbox", "VarKey", "VarTxt", "MMT"}) {
    expect_cavp_file("ECB", std::string("ECB") + kind + "128.rsp");
  }
}

TEST(AesCbc, CavpFiles) {
  for (const char* kind : {"GFSbox", "KeySbox", "VarKey", "VarTxt", "MMT"}) {
    expect_cavp_file("CBC", std::string("CBC") + kind + "128.rsp");
  }
}

TEST(AesCbc, OneBlockWithZeroIvIsEcbAndChainsTheSecond) {
  Bytes iv_after;
  EXPECT_EQ(cbc(kC1Key, Bytes(16, 0), kC1Plain, true, &iv_after), kC1Cipher);
  EXPECT_EQ(iv_after, kC1Cipher);

  Bytes two = kC1Plain;
  two.insert(two.end(), kC1Plain.begin(), kC1Plain.end());
  const Bytes c = cbc(kC1Key, Bytes(16, 0), two, true, &iv_after);
  Bytes second(16);
  for (std::size_t i = 0; i < 16; ++i) {
    second[i] = static_cast<unsigned char>(kC1Plain[i] ^ kC1Cipher[i]);
  }
  EXPECT_EQ(Bytes(c.begin() + 16, c.end()), ecb(kC1Key, second, true));
  EXPECT_EQ(iv_after, Bytes(c.begin() + 16, c.end()));

  Bytes iv_after_decrypt;
  EXPECT_EQ(cbc(kC1Key, Bytes(16, 0), c, false, &iv_after_decrypt), two);
  EXPECT_EQ(iv_after_decrypt, iv_after);
}

TEST(AesCbc, LengthsRoundUpToWholeBlocks) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  const Bytes key = adrvet_test::random_bytes(rng, 16);
  const Bytes iv = adrvet_test::random_bytes(rng, 16);
  for (bool encrypt : {true, false}) {
    Bytes buffer = adrvet_test::random_bytes(rng, 40);
    const Bytes original = buffer;
    AES_ctx ctx;
    AES_init_ctx_iv(&ctx, key.data(), iv.data());
    (encrypt ? AES_CBC_encrypt_buffer : AES_CBC_decrypt_buffer)(&ctx, buffer.data(), 0);
    EXPECT_EQ(buffer, original);
    EXPECT_EQ(Bytes(ctx.iv, ctx.iv + 16), iv);

    (encrypt ? AES_CBC_encrypt_buffer : AES_CBC_decrypt_buffer)(&ctx, buffer.data(), 17);
    const Bytes whole = cbc(key, iv, Bytes(original.begin(), original.begin() + 32), encrypt);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 32), whole);
    EXPECT_EQ(Bytes(buffer.begin() + 32, buffer.end()),
              Bytes(original.begin() + 32, original.end()));
    const Bytes& last_cipher_block = encrypt ? whole : original;
    EXPECT_EQ(Bytes(ctx.iv, ctx.iv + 16),
              Bytes(last_cipher_block.begin() + 16, last_cipher_block.begin() + 32));
  }
}

TEST(AesCbc, TwoCallsOfSixteenEqualOneOfThirtyTwo) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  const Bytes key = adrvet_test::random_bytes(rng, 16);
  const Bytes iv = adrvet_test::random_bytes(rng, 16);
  const Bytes data = adrvet_test::random_bytes(rng, 32);
  for (bool encrypt : {true, false}) {
    Bytes iv_whole;
    const Bytes whole = cbc(key, iv, data, encrypt, &iv_whole);
    AES_ctx ctx;
    AES_init_ctx_iv(&ctx, key.data(), iv.data());
    Bytes split = data;
    const auto mode = encrypt ? AES_CBC_encrypt_buffer : AES_CBC_decrypt_buffer;
    mode(&ctx, split.data(), 16);
    mode(&ctx, split.data() + 16, 16);
    EXPECT_EQ(split, whole) << (encrypt ? "encrypt" : "decrypt");
    EXPECT_EQ(Bytes(ctx.iv, ctx.iv + 16), iv_whole) << (encrypt ? "encrypt" : "decrypt");
  }
}

TEST(AesBlockModes, AgreeWithOpenSsl) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  for (int round = 0; round < 200; ++round) {
    const Bytes key = adrvet_test::random_bytes(rng, 16);
    const Bytes iv = adrvet_test::random_bytes(rng, 16);
    const Bytes data = adrvet_test::random_bytes(rng, 16 * (rng() % 40));
    for (bool encrypt : {true, false}) {
      ASSERT_EQ(ecb(key, data, encrypt), adrvet_test::openssl_aes128_ecb(key, data, encrypt))
          << "ECB round " << round;
      ASSERT_EQ(cbc(key, iv, data, encrypt),
                adrvet_test::openssl_aes128_cbc(key, iv, data, encrypt))
          << "CBC round " << round;
    }
  }
}

}  // namespace
