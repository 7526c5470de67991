// AES-128 key schedule, forward cipher and counter mode: published vectors,
// counter edge cases, and a randomized comparison with OpenSSL.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/aes.h"
#include "support/openssl_oracle.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Bytes;
using adrvet_test::from_hex;

Bytes iv_of(const AES_ctx& ctx) { return {ctx.iv, ctx.iv + 16}; }

// One forward-cipher block, seen through counter mode over a zero block.
Bytes encrypt_block(const Bytes& key, const Bytes& block) {
  AES_ctx ctx;
  AES_init_ctx_iv(&ctx, key.data(), block.data());
  Bytes out(16, 0);
  AES_CTR_xcrypt_buffer(&ctx, out.data(), 16);
  return out;
}

Bytes ctr(const Bytes& key, const Bytes& iv, Bytes data) {
  AES_ctx ctx;
  AES_init_ctx_iv(&ctx, key.data(), iv.data());
  AES_CTR_xcrypt_buffer(&ctx, data.data(), static_cast<uint32_t>(data.size()));
  return data;
}

TEST(AesKeyExpansion, MatchesFips197AppendixA1) {
  AES_ctx ctx;
  AES_init_ctx(&ctx, from_hex("2b7e151628aed2a6abf7158809cf4f3c").data());
  const struct {
    int word;
    const char* hex;
  } words[] = {{0, "2b7e1516"},  {3, "09cf4f3c"},  {4, "a0fafe17"},  {5, "88542cb1"},
               {8, "f2c295f2"},  {20, "d4d1c6f8"}, {32, "ead27321"}, {36, "ac7766f3"},
               {40, "d014f9a8"}, {41, "c9ee2589"}, {42, "e13f0cc8"}, {43, "b6630ca6"}};
  for (const auto& w : words) {
    EXPECT_EQ(Bytes(ctx.round_keys + 4 * w.word, ctx.round_keys + 4 * w.word + 4), from_hex(w.hex))
        << "w[" << w.word << "]";
  }
}

TEST(AesCipher, MatchesFips197AppendixC1) {
  EXPECT_EQ(encrypt_block(from_hex("000102030405060708090a0b0c0d0e0f"),
                          from_hex("00112233445566778899aabbccddeeff")),
            from_hex("69c4e0d86a7b0430d8cdb78070b4c55a"));
}

TEST(AesCtr, MatchesSp800_38aF51) {
  const Bytes key = from_hex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv = from_hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
  const Bytes plain = from_hex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const Bytes cipher = from_hex(
      "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff"
      "5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee");
  EXPECT_EQ(ctr(key, iv, plain), cipher);
  EXPECT_EQ(ctr(key, iv, cipher), plain);  // the same call decrypts
}

TEST(AesCtr, MatchesVectorFile) {
  const auto records = adrvet_test::read_vector_file("ciphers/AES/CTR/aes-128-ctr.txt");
  ASSERT_FALSE(records.empty());
  for (const auto& r : records) {
    const Bytes key = from_hex(r.at("KEY"));
    const Bytes iv = from_hex(r.at("IV"));
    const Bytes plain = from_hex(r.at("PLAINTEXT"));
    const Bytes cipher = from_hex(r.at("CIPHERTEXT"));
    EXPECT_EQ(ctr(key, iv, plain), cipher) << r.section << " COUNT " << r.at("COUNT");
    EXPECT_EQ(ctr(key, iv, cipher), plain) << r.section << " COUNT " << r.at("COUNT");
  }
}

TEST(AesCtr, CounterAdvancesByStartedBlocks) {
  const Bytes key(16, 0x42);
  const struct {
    const char* iv;
    uint32_t length;
    const char* iv_after;
  } cases[] = {
      {"000000000000000000000000000000ff", 0, "000000000000000000000000000000ff"},
      {"00000000000000000000000000000000", 1, "00000000000000000000000000000001"},
      {"00000000000000000000000000000000", 16, "00000000000000000000000000000001"},
      {"00000000000000000000000000000000", 17, "00000000000000000000000000000002"},
      {"00000000000000000000000000000000", 40, "00000000000000000000000000000003"},
      {"ffffffffffffffffffffffffffffffff", 16, "00000000000000000000000000000000"},
      {"ffffffffffffffffffffffffffffffff", 33, "00000000000000000000000000000002"},
      {"0102030405060708090a0bffffffffff", 16, "0102030405060708090a0c0000000000"},
      {"000000000000000000000000fffffffe", 48, "00000000000000000000000100000001"},
  };
  for (const auto& c : cases) {
    AES_ctx ctx;
    AES_init_ctx_iv(&ctx, key.data(), from_hex(c.iv).data());
    Bytes data(c.length, 0);
    AES_CTR_xcrypt_buffer(&ctx, data.data(), c.length);
    EXPECT_EQ(iv_of(ctx), from_hex(c.iv_after)) << c.iv << " + " << c.length << " bytes";
  }
}

TEST(AesCtr, WrapUsesAllOnesBlockThenZero) {
  const Bytes key = from_hex("000102030405060708090a0b0c0d0e0f");
  const Bytes ones(16, 0xff);
  Bytes data(32, 0);
  AES_ctx ctx;
  AES_init_ctx_iv(&ctx, key.data(), ones.data());
  AES_CTR_xcrypt_buffer(&ctx, data.data(), 32);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 16), encrypt_block(key, ones));
  EXPECT_EQ(Bytes(data.begin() + 16, data.end()), encrypt_block(key, Bytes(16, 0)));
}

TEST(AesCtr, EveryCallStartsAFreshKeystreamBlock) {
  const Bytes key = from_hex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv = from_hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
  Bytes data(16, 0);
  AES_ctx ctx;
  AES_init_ctx_iv(&ctx, key.data(), iv.data());
  AES_CTR_xcrypt_buffer(&ctx, data.data(), 10);
  AES_CTR_xcrypt_buffer(&ctx, data.data() + 10, 6);
  const Bytes first = encrypt_block(key, iv);
  const Bytes second = encrypt_block(key, from_hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdff00"));
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 10), Bytes(first.begin(), first.begin() + 10));
  EXPECT_EQ(Bytes(data.begin() + 10, data.end()), Bytes(second.begin(), second.begin() + 6));
  EXPECT_EQ(iv_of(ctx), from_hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdff01"));
}

TEST(AesCtr, TouchesOnlyLengthBytes) {
  const Bytes key(16, 7);
  for (uint32_t length : {0U, 1U, 15U, 16U, 17U, 31U}) {
    Bytes data(length + 8, 0xa5);
    AES_ctx ctx;
    AES_init_ctx_iv(&ctx, key.data(), Bytes(16, 0).data());
    AES_CTR_xcrypt_buffer(&ctx, data.data(), length);
    EXPECT_EQ(Bytes(data.begin() + length, data.end()), Bytes(8, 0xa5)) << length;
  }
}

TEST(AesContext, SetupFunctionsTouchOnlyTheirField) {
  AES_ctx ctx;
  std::memset(&ctx, 0x5c, sizeof ctx);
  AES_init_ctx(&ctx, Bytes(16, 1).data());
  EXPECT_EQ(iv_of(ctx), Bytes(16, 0x5c));
  const Bytes schedule(ctx.round_keys, ctx.round_keys + 176);
  AES_ctx_set_iv(&ctx, Bytes(16, 9).data());
  EXPECT_EQ(Bytes(ctx.round_keys, ctx.round_keys + 176), schedule);
  EXPECT_EQ(iv_of(ctx), Bytes(16, 9));
}

TEST(AesCtr, AgreesWithOpenSsl) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  for (int round = 0; round < 300; ++round) {
    const Bytes key = adrvet_test::random_bytes(rng, 16);
    Bytes iv = adrvet_test::random_bytes(rng, 16);
    if (round % 3 == 0) {
      std::fill(iv.begin() + 8, iv.end(), 0xff);  // carries across many bytes
    }
    const Bytes data = adrvet_test::random_bytes(rng, rng() % 700);
    ASSERT_EQ(ctr(key, iv, data), adrvet_test::openssl_aes128_ctr(key, iv, data))
        << "round " << round << ", length " << data.size();
  }
}

}  // namespace
