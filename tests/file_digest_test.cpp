// hash_file: refused sizes, unreadable inputs, and agreement with sha256sum.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "crypto/crypto.h"
#include "crypto/key_versions.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Bytes;
using adrvet_test::TempDir;
using orbitforge::util::hash_file;

std::string hex_of(const char* digest) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 32; ++i) {
    const auto b = static_cast<unsigned char>(digest[i]);
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

std::string sha256sum_of(const std::string& path) {
  const auto result = adrvet_test::run_process("/usr/bin/sha256sum", {path});
  EXPECT_EQ(result.exit_status, 0);
  return result.out.substr(0, 64);
}

TEST(HashFile, RefusesOtherSizesWithoutTouchingTheBuffer) {
  TempDir dir;
  adrvet_test::write_file(dir.file("f"), std::string("abc"));
  for (int size : {0, 31, 33, 64, -32}) {
    char out[64];
    std::fill(std::begin(out), std::end(out), '\x5a');
    EXPECT_FALSE(hash_file(dir.file("f").c_str(), out, size)) << size;
    EXPECT_EQ(std::count(std::begin(out), std::end(out), '\x5a'), 64) << size;
  }
}

TEST(HashFile, UnreadableInputsLeaveTheBufferAlone) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  for (const std::string& path : {dir.file("missing"), dir.path(), dir.file("fifo")}) {
    char out[32];
    std::fill(std::begin(out), std::end(out), '\x5a');
    EXPECT_FALSE(hash_file(path.c_str(), out, 32)) << path;
    EXPECT_EQ(std::count(std::begin(out), std::end(out), '\x5a'), 32) << path;
  }
}

TEST(HashFile, AgreesWithSha256sum) {
  if (!adrvet_test::file_exists("/usr/bin/sha256sum")) {
    GTEST_SKIP() << "sha256sum is missing";
  }
  std::mt19937_64 rng(adrvet_test::test_seed());
  TempDir dir;
  adrvet_test::write_file(dir.file("empty"), Bytes{});
  adrvet_test::write_file(dir.file("small"), std::string("aa:bb:cc:dd:ee:ff\n"));
  adrvet_test::write_file(dir.file("large"), adrvet_test::random_bytes(rng, 1 << 20));
  // Read in pieces: one that ends inside the last piece.
  adrvet_test::write_file(dir.file("uneven"), adrvet_test::random_bytes(rng, (1 << 20) + 12345));
  ASSERT_TRUE(orbitforge::util::encrypt_file(dir.file("small").c_str(),
                                             dir.file("engine.dat").c_str(),
                                             orbitforge::util::key_for_version(1)));
  for (const char* name : {"empty", "small", "large", "uneven", "engine.dat"}) {
    char out[32];
    ASSERT_TRUE(hash_file(dir.file(name).c_str(), out, 32)) << name;
    EXPECT_EQ(hex_of(out), sha256sum_of(dir.file(name))) << name;
  }
  char out[32];
  ASSERT_TRUE(hash_file(dir.file("empty").c_str(), out, 32));
  EXPECT_EQ(hex_of(out), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
