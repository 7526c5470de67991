// Every AES and SHA-256 implementation against independent oracles (the
// published vectors and OpenSSL), and each fast one against the portable
// code on random inputs. An implementation the processor cannot run is
// reported as skipped, with the reason, never as passed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "crypto/detail/aes_impl.h"
#include "crypto/detail/sha256_impl.h"
#include "support/openssl_oracle.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Bytes;
using adrvet_test::from_hex;
using adrvet_test::random_bytes;
using orbitforge::util::detail::AesBackend;
using orbitforge::util::detail::Sha256Backend;

struct AesImplementation {
  const char* name;
  const char* needs;  // what the processor lacks when it cannot run it
};

constexpr AesImplementation kAesImplementations[] = {
    {"portable", ""},
    {"aesni", "AES-NI with SSSE3 and SSE4.1"},
    {"vaes256", "VAES and AVX2"},
    {"vaes512", "VAES and AVX-512 F, BW and VL"},
};

void PrintTo(const AesImplementation& implementation, std::ostream* out) {
  *out << implementation.name;
}

const AesBackend* aes_backend(const std::string& name) {
  orbitforge::util::detail::AesBackendEntry entries[orbitforge::util::detail::kAesBackendCount];
  orbitforge::util::detail::aes_backends(entries);
  for (const auto& entry : entries) {
    if (name == entry.name) {
      return entry.backend;
    }
  }
  ADD_FAILURE() << "no AES implementation named " << name;
  return nullptr;
}

const Sha256Backend* sha_backend(const std::string& name) {
  if (name == "portable") {
    return &orbitforge::util::detail::sha256_portable_backend();
  }
  return orbitforge::util::detail::sha256_ni_backend();
}

// A context set up by the implementation's own key expansion.
AES_ctx context(const AesBackend& b, const Bytes& key, const Bytes& iv) {
  AES_ctx ctx;
  b.key_expansion(ctx.round_keys, key.data());
  std::memcpy(ctx.iv, iv.data(), sizeof ctx.iv);
  return ctx;
}

// C + blocks as a big-endian 128-bit number, byte by byte: independent of
// every implementation's own counter code.
Bytes counter_plus(Bytes counter, std::uint64_t blocks) {
  unsigned carry = 0;
  for (std::size_t b = 16; b-- > 0;) {
    const unsigned sum = counter[b] + static_cast<unsigned>(blocks & 0xffU) + carry;
    counter[b] = static_cast<unsigned char>(sum);
    carry = sum >> 8U;
    blocks >>= 8U;
  }
  return counter;
}

// A counter whose low 64 bits carry after `distance` blocks; with `full`
// the whole 128 bits wrap to zero there.
Bytes counter_before_carry(std::mt19937_64& rng, std::size_t distance, bool full) {
  Bytes iv = random_bytes(rng, 16);
  if (full) {
    std::fill(iv.begin(), iv.begin() + 8, 0xff);
  }
  const std::uint64_t low = ~std::uint64_t{0} - distance;
  for (std::size_t i = 0; i < 8; ++i) {
    iv[15 - i] = static_cast<unsigned char>(low >> (8 * i));
  }
  return iv;
}

class AesBackends : public ::testing::TestWithParam<AesImplementation> {
 protected:
  void SetUp() override {
    backend_ = aes_backend(GetParam().name);
    if (backend_ == nullptr) {
      GTEST_SKIP() << "this processor lacks " << GetParam().needs << ", so the " << GetParam().name
                   << " implementation cannot run";
    }
  }
  static Bytes ctr(const AesBackend& b, const Bytes& key, const Bytes& iv, Bytes data,
                   Bytes* iv_after = nullptr) {
    AES_ctx ctx = context(b, key, iv);
    b.ctr_xcrypt(&ctx, data.data(), static_cast<uint32_t>(data.size()));
    if (iv_after != nullptr) {
      *iv_after = Bytes(ctx.iv, ctx.iv + 16);
    }
    return data;
  }
  static Bytes cbc(const AesBackend& b, bool encrypt, const Bytes& key, const Bytes& iv, Bytes data,
                   uint32_t length, Bytes* iv_after) {
    AES_ctx ctx = context(b, key, iv);
    (encrypt ? b.cbc_encrypt : b.cbc_decrypt)(&ctx, data.data(), length);
    *iv_after = Bytes(ctx.iv, ctx.iv + 16);
    return data;
  }
  const AesBackend* backend_ = nullptr;
};

TEST_P(AesBackends, KeyExpansionIsFips197AppendixA1) {
  AES_ctx ctx = context(*backend_, from_hex("2b7e151628aed2a6abf7158809cf4f3c"), Bytes(16, 0));
  const Bytes expected = from_hex(
      "2b7e151628aed2a6abf7158809cf4f3ca0fafe1788542cb123a339392a6c7605"
      "f2c295f27a96b9435935807a7359f67f3d80477d4716fe3e1e237e446d7a883b"
      "ef44a541a8525b7fb671253bdb0bad00d4d1c6f87c839d87caf2b8bc11f915bc"
      "6d88a37a110b3efddbf98641ca0093fd4e54f70e5f5fc9f384a64fb24ea6dc4f"
      "ead27321b58dbad2312bf5607f8d292fac7766f319fadc2128d12941575c006e"
      "d014f9a8c9ee2589e13f0cc8b6630ca6");
  EXPECT_EQ(Bytes(ctx.round_keys, ctx.round_keys + 176), expected);
}

TEST_P(AesBackends, PublishedVectors) {
  const AesBackend& b = *backend_;
  // FIPS-197 C.1, one block each way.
  AES_ctx ctx = context(b, from_hex("000102030405060708090a0b0c0d0e0f"), Bytes(16, 0));
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
          AES_ctx ecb_ctx = context(b, key, Bytes(16, 0));
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

// Lengths long enough to pass through every step of the widest code (32
// blocks) several times, and every tail.
std::size_t random_length(std::mt19937_64& rng) {
  return rng() % 4 == 0 ? rng() % 64 : rng() % 2200;
}

TEST_P(AesBackends, CtrMatchesOpenSslIncludingCounterWrap) {
  std::mt19937_64 rng(adrvet_test::test_seed() + 3);
  for (int round = 0; round < 300; ++round) {
    const Bytes key = random_bytes(rng, 16);
    const Bytes iv = round % 3 == 2 ? random_bytes(rng, 16)
                                    : counter_before_carry(rng, rng() % 40, round % 3 == 1);
    const Bytes data = random_bytes(rng, random_length(rng));
    Bytes iv_after;
    ASSERT_EQ(ctr(*backend_, key, iv, data, &iv_after),
              adrvet_test::openssl_aes128_ctr(key, iv, data))
        << "round " << round << " length " << data.size();
    ASSERT_EQ(iv_after, counter_plus(iv, (data.size() + 15) / 16)) << "round " << round;
  }
}

// Every length across the short-buffer paths and into the long one, with
// the counter's carry falling inside the call, at an odd offset: the bytes
// match OpenSSL, the counter advances by the blocks used, and nothing
// beside the buffer is touched.
TEST_P(AesBackends, EveryShortLengthMatchesOpenSslAndStaysInItsBuffer) {
  struct CounterCase {
    std::size_t distance;  // blocks before the low 64 bits carry
    bool full;             // the whole 128 bits wrap there
  };
  constexpr CounterCase kCounters[] = {{0, false}, {1, false}, {3, true}, {1000, false}};
  constexpr std::size_t kGuard = 64;
  std::mt19937_64 rng(adrvet_test::test_seed() + 13);
  for (const CounterCase& counter : kCounters) {
    const Bytes key = random_bytes(rng, 16);
    const Bytes iv = counter_before_carry(rng, counter.distance, counter.full);
    for (std::size_t length = 0; length <= 300; ++length) {
      const Bytes data = random_bytes(rng, length);
      Bytes framed = random_bytes(rng, kGuard + 1 + length + kGuard);
      std::copy(data.begin(), data.end(), framed.begin() + kGuard + 1);
      const Bytes before = framed;
      AES_ctx ctx = context(*backend_, key, iv);
      backend_->ctr_xcrypt(&ctx, framed.data() + kGuard + 1, static_cast<uint32_t>(length));
      const Bytes expected = adrvet_test::openssl_aes128_ctr(key, iv, data);
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), framed.begin() + kGuard + 1))
          << "length " << length << ", carry after " << counter.distance;
      ASSERT_TRUE(std::equal(before.begin(), before.begin() + kGuard + 1, framed.begin()) &&
                  std::equal(before.end() - kGuard, before.end(), framed.end() - kGuard))
          << "bytes beside the buffer changed, length " << length;
      ASSERT_EQ(Bytes(ctx.iv, ctx.iv + 16), counter_plus(iv, (length + 15) / 16))
          << "length " << length << ", carry after " << counter.distance;
    }
  }
}

TEST_P(AesBackends, BlockModesMatchOpenSsl) {
  std::mt19937_64 rng(adrvet_test::test_seed() + 5);
  for (int round = 0; round < 200; ++round) {
    const Bytes key = random_bytes(rng, 16);
    const Bytes iv = random_bytes(rng, 16);
    const Bytes data = random_bytes(rng, random_length(rng) / 16 * 16);
    const auto length = static_cast<uint32_t>(data.size());
    for (const bool encrypt : {true, false}) {
      Bytes iv_after;
      const Bytes expected = adrvet_test::openssl_aes128_cbc(key, iv, data, encrypt);
      ASSERT_EQ(cbc(*backend_, encrypt, key, iv, data, length, &iv_after), expected)
          << "CBC round " << round << " length " << length;
      if (length != 0) {  // the last ciphertext block
        const Bytes& cipher = encrypt ? expected : data;
        ASSERT_EQ(iv_after, Bytes(cipher.end() - 16, cipher.end())) << "CBC round " << round;
      }
      AES_ctx ctx = context(*backend_, key, iv);
      Bytes blocks = data;
      for (std::size_t at = 0; at < blocks.size(); at += 16) {
        (encrypt ? backend_->ecb_encrypt : backend_->ecb_decrypt)(&ctx, blocks.data() + at);
      }
      ASSERT_EQ(blocks, adrvet_test::openssl_aes128_ecb(key, data, encrypt))
          << "ECB round " << round;
    }
  }
}

// The fast implementations: those that differ from the portable one.
class FastAesBackends : public AesBackends {};

// Fast against portable: the same bytes and the same counter after calls
// in pieces on unaligned buffers, with the carry out of the low 64 bits at
// every block position a step of the widest code covers.
TEST_P(FastAesBackends, CtrMatchesPortableInPiecesAndAtEveryCarryPosition) {
  const AesBackend& portable = orbitforge::util::detail::aes_portable_backend();
  std::mt19937_64 rng(adrvet_test::test_seed());
  for (std::size_t distance = 0; distance < 70; ++distance) {
    for (const bool full : {false, true}) {
      const Bytes key = random_bytes(rng, 16);
      const Bytes iv = counter_before_carry(rng, distance, full);
      const std::size_t offset = rng() % 64;
      const std::size_t length = std::size_t{16} * 70 + rng() % 600;
      const Bytes buffer = random_bytes(rng, offset + length + 64);
      Bytes fast = buffer;
      Bytes slow = buffer;
      AES_ctx fast_ctx = context(*backend_, key, iv);
      AES_ctx slow_ctx = context(portable, key, iv);
      for (std::size_t at = 0; at < length;) {
        const auto piece = static_cast<uint32_t>(std::min(length - at, random_length(rng)));
        backend_->ctr_xcrypt(&fast_ctx, fast.data() + offset + at, piece);
        portable.ctr_xcrypt(&slow_ctx, slow.data() + offset + at, piece);
        ASSERT_EQ(0, std::memcmp(fast_ctx.iv, slow_ctx.iv, 16))
            << "carry after " << distance << " blocks, piece at " << at;
        at += piece == 0 ? 1 : piece;
      }
      ASSERT_EQ(fast, slow) << "carry after " << distance << " blocks, full wrap " << full;
    }
  }
}

TEST_P(FastAesBackends, BlockModesAndKeysMatchPortable) {
  const AesBackend& portable = orbitforge::util::detail::aes_portable_backend();
  std::mt19937_64 rng(adrvet_test::test_seed() + 7);
  for (int round = 0; round < 300; ++round) {
    const Bytes key = random_bytes(rng, 16);
    const Bytes iv = random_bytes(rng, 16);
    const AES_ctx fast_ctx = context(*backend_, key, iv);
    const AES_ctx slow_ctx = context(portable, key, iv);
    ASSERT_EQ(0, std::memcmp(fast_ctx.round_keys, slow_ctx.round_keys, 176)) << "round " << round;
    const auto length = static_cast<uint32_t>(random_length(rng));  // rounded up to whole blocks
    const std::size_t offset = rng() % 64;
    const Bytes data = random_bytes(rng, offset + std::size_t{(length + 15) / 16} * 16 + 16);
    for (const bool encrypt : {true, false}) {
      Bytes fast = data;
      Bytes slow = data;
      AES_ctx a = fast_ctx;
      AES_ctx b = slow_ctx;
      (encrypt ? backend_->cbc_encrypt : backend_->cbc_decrypt)(&a, fast.data() + offset, length);
      (encrypt ? portable.cbc_encrypt : portable.cbc_decrypt)(&b, slow.data() + offset, length);
      ASSERT_EQ(fast, slow) << "CBC round " << round << " length " << length;
      ASSERT_EQ(0, std::memcmp(a.iv, b.iv, 16)) << "CBC round " << round;
      (encrypt ? backend_->ecb_encrypt : backend_->ecb_decrypt)(&a, fast.data() + offset);
      (encrypt ? portable.ecb_encrypt : portable.ecb_decrypt)(&b, slow.data() + offset);
      ASSERT_EQ(fast, slow) << "ECB round " << round;
    }
  }
}

std::string implementation_name(const ::testing::TestParamInfo<AesImplementation>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Implementations, AesBackends, ::testing::ValuesIn(kAesImplementations),
                         implementation_name);
INSTANTIATE_TEST_SUITE_P(Implementations, FastAesBackends,
                         ::testing::ValuesIn(std::begin(kAesImplementations) + 1,
                                             std::end(kAesImplementations)),
                         implementation_name);

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

// A message padded as FIPS 180-4 5.1.1 says: 0x80, zeros, the bit length.
Bytes padded_message(const Bytes& message) {
  Bytes blocks = message;
  blocks.push_back(0x80);
  while (blocks.size() % 64 != 56) {
    blocks.push_back(0);
  }
  const std::uint64_t bits = std::uint64_t{message.size()} * 8;
  for (int shift = 56; shift >= 0; shift -= 8) {
    blocks.push_back(static_cast<unsigned char>(bits >> static_cast<unsigned>(shift)));
  }
  return blocks;
}

// Every implementation against OpenSSL's SHA-256: compressing the padded
// message from the initial hash value must give OpenSSL's digest. Lengths
// around the block and padding boundaries, unaligned input.
TEST_P(Sha256Backends, MatchesOpenSslOnRandomMessages) {
  const std::uint64_t seed = adrvet_test::test_seed() + 11;
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 300; ++round) {
    const std::size_t length = round < 130 ? static_cast<std::size_t>(round) : rng() % 1300;
    const std::size_t offset = rng() % 8;  // unaligned input
    const Bytes message = random_bytes(rng, length);
    const Bytes padded = padded_message(message);
    Bytes input(offset, 0);
    input.insert(input.end(), padded.begin(), padded.end());
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    backend_->compress(h, input.data() + offset, padded.size() / 64);
    Bytes digest;
    for (const uint32_t word : h) {
      for (int shift = 24; shift >= 0; shift -= 8) {
        digest.push_back(static_cast<unsigned char>(word >> static_cast<unsigned>(shift)));
      }
    }
    ASSERT_EQ(digest, adrvet_test::openssl_sha256(message))
        << "length " << length << ", seed " << seed;
  }
}

INSTANTIATE_TEST_SUITE_P(Implementations, Sha256Backends, ::testing::Values("portable", "shani"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
