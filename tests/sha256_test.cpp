// SHA-256: the FIPS 180-4 examples, the CAVP files, padding boundaries,
// piecewise feeding, and a randomized comparison with OpenSSL.
#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/openssl_oracle.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Bytes;
using adrvet_test::from_hex;
using adrvet_test::to_bytes;

Bytes digest_of(const Bytes& message) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, message.data(), message.size());
  Bytes digest(32);
  sha256_final(&ctx, digest.data());
  return digest;
}

// Feeds the message in pieces of the given sizes, cycling through them.
Bytes digest_in_pieces(const Bytes& message, const std::vector<std::size_t>& pieces) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  std::size_t at = 0;
  for (std::size_t i = 0; at < message.size(); ++i) {
    const std::size_t take = std::min(pieces[i % pieces.size()], message.size() - at);
    sha256_update(&ctx, message.data() + at, take);
    at += take;
  }
  Bytes digest(32);
  sha256_final(&ctx, digest.data());
  return digest;
}

TEST(Sha256, FipsExampleMessages) {
  const struct {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(digest_of(to_bytes(c.message)), from_hex(c.digest)) << c.message.size() << " bytes";
  }
}

TEST(Sha256, EmptyMessageWithAndWithoutAnUpdate) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  Bytes digest(32);
  sha256_final(&ctx, digest.data());
  EXPECT_EQ(digest, digest_of({}));
  sha256_init(&ctx);
  sha256_update(&ctx, nullptr, 0);
  sha256_final(&ctx, digest.data());
  EXPECT_EQ(digest, from_hex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
}

void expect_cavp_file(const std::string& name) {
  const auto records = adrvet_test::read_vector_file("hashes/SHA2/" + name);
  int checked = 0;
  for (const auto& r : records) {
    if (r.fields.count("LEN") == 0) {
      continue;
    }
    const std::size_t bits = std::stoul(r.at("LEN"));
    Bytes message = from_hex(r.at("MSG"));
    message.resize(bits / 8);  // Len = 0 still carries a placeholder byte
    ASSERT_EQ(digest_of(message), from_hex(r.at("MD"))) << name << " Len " << bits;
    ++checked;
  }
  EXPECT_GT(checked, 60) << name;
}

TEST(Sha256, CavpShortMessages) { expect_cavp_file("SHA256ShortMsg.rsp"); }
TEST(Sha256, CavpLongMessages) { expect_cavp_file("SHA256LongMsg.rsp"); }

TEST(Sha256, CavpMonteCarlo) {
  const auto records = adrvet_test::read_vector_file("hashes/SHA2/SHA256Monte.rsp");
  Bytes seed;
  int checked = 0;
  for (const auto& r : records) {
    if (r.fields.count("SEED") != 0) {
      seed = from_hex(r.at("SEED"));
      continue;
    }
    Bytes md[3] = {seed, seed, seed};
    for (int i = 3; i < 1003; ++i) {
      Bytes message = md[0];
      message.insert(message.end(), md[1].begin(), md[1].end());
      message.insert(message.end(), md[2].begin(), md[2].end());
      md[0] = md[1];
      md[1] = md[2];
      md[2] = digest_of(message);
    }
    seed = md[2];
    ASSERT_EQ(seed, from_hex(r.at("MD"))) << "COUNT " << r.at("COUNT");
    ++checked;
  }
  EXPECT_EQ(checked, 100);
}

TEST(Sha256, PaddingBoundaries) {
  for (std::size_t length : {55U, 56U, 57U, 63U, 64U, 65U, 119U, 120U, 127U, 128U}) {
    Bytes message(length);
    for (std::size_t i = 0; i < length; ++i) {
      message[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    EXPECT_EQ(digest_of(message), adrvet_test::openssl_sha256(message)) << length;
  }
}

TEST(Sha256, PiecewiseEqualsWhole) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  const Bytes message = adrvet_test::random_bytes(rng, 150);
  const Bytes whole = digest_of(message);
  const std::vector<std::vector<std::size_t>> splits = {{1},  {1, 63, 64, 22}, {63}, {64},
                                                        {65}, {7, 0, 13},      {150}};
  for (const auto& pieces : splits) {
    EXPECT_EQ(digest_in_pieces(message, pieces), whole) << "first piece " << pieces[0];
  }
}

TEST(Sha256, StateAfterFinal) {
  const Bytes message(150, 0x61);
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, message.data(), 1);
  sha256_update(&ctx, message.data() + 1, 63);
  EXPECT_EQ(ctx.block_fill, 0U);  // a full block is compressed at once
  EXPECT_EQ(ctx.bit_count, 512U);
  sha256_update(&ctx, message.data() + 64, 86);
  Bytes digest(32);
  sha256_final(&ctx, digest.data());
  EXPECT_EQ(ctx.block_fill, 22U);
  EXPECT_EQ(ctx.bit_count, 1200U);
  // Digest byte 0 is the top byte of H0, byte 31 the bottom byte of H7.
  EXPECT_EQ(digest[0], ctx.hash_words[0] >> 24);
  EXPECT_EQ(digest[31], ctx.hash_words[7] & 0xff);
}

TEST(Sha256, TransformLeavesCountersAlone) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  const Bytes block(64, 0x5a);
  sha256_transform(&ctx, block.data());
  EXPECT_EQ(ctx.block_fill, 0U);
  EXPECT_EQ(ctx.bit_count, 0U);
  EXPECT_NE(ctx.hash_words[0], 0x6a09e667U);
}

TEST(Sha256, AgreesWithOpenSsl) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  for (int round = 0; round < 300; ++round) {
    const Bytes message = adrvet_test::random_bytes(rng, rng() % 1500);
    const std::vector<std::size_t> pieces = {1 + rng() % 100, 1 + rng() % 100};
    ASSERT_EQ(digest_in_pieces(message, pieces), adrvet_test::openssl_sha256(message))
        << "round " << round << ", length " << message.size();
  }
}

}  // namespace
