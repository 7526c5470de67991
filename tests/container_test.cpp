// Protected containers: the frozen format, sizes and padding, round trips,
// damaged and unusual files, and crash-safe writing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "crypto/container.h"
#include "crypto/crypto.h"
#include "crypto/key_versions.h"
#include "support/openssl_oracle.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Bytes;
using adrvet_test::file_exists;
using adrvet_test::from_hex;
using adrvet_test::read_file;
using adrvet_test::TempDir;
using adrvet_test::to_bytes;
using adrvet_test::write_file;
using orbitforge::util::decrypt_file;
using orbitforge::util::encrypt_file;
using orbitforge::util::Key;
using orbitforge::util::key_for_version;

// Restated here on purpose: if the product's constants ever change, every
// stored list becomes unreadable, and these tests say so.
const Bytes kKeyMask = from_hex("74bda96079e1c2ee720b3593ad60829f");
const Bytes kInitialCounter = from_hex("5a3e91c708d26b4fa1e37719bc028d64");
const Bytes kMagic = to_bytes("Orbit Forge");
constexpr char kPassPhraseS[] = "k8P!vR3=wT6#yU1$";

Bytes aes_key_for(const char* pass_phrase) {
  Bytes key = kKeyMask;
  for (int i = 0; i < 16; ++i) {
    key[static_cast<std::size_t>(i)] ^= static_cast<unsigned char>(pass_phrase[i]);
  }
  return key;
}

// The independent reading of a container: OpenSSL's CTR over the whole file.
Bytes openssl_image(const Bytes& container) {
  return adrvet_test::openssl_aes128_ctr(aes_key_for(kPassPhraseS), kInitialCounter, container);
}

// An independent writer: any plaintext image, OpenSSL-encrypted under key S.
Bytes container_from_image(const Bytes& image) { return openssl_image(image); }

Bytes image(const Bytes& payload, std::size_t pad_count) {
  Bytes bytes = kMagic;
  bytes.push_back(static_cast<unsigned char>(pad_count));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  bytes.insert(bytes.end(), pad_count, 0);
  return bytes;
}

const Key& key_s() {
  static const Key key = key_for_version(orbitforge::util::kKeyVersionS);
  return key;
}
const Key& key_u() {
  static const Key key = key_for_version(orbitforge::util::kKeyVersionU);
  return key;
}

TEST(Key, IndexWrapsAroundThePassPhrase) {
  const char bytes[16] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h',
                          'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p'};
  const Key key(bytes);
  EXPECT_EQ(key.size(), 16U);
  EXPECT_EQ(key[0], 'a');
  EXPECT_EQ(key[15], 'p');
  EXPECT_EQ(key[16], 'a');
  EXPECT_EQ(key[17], 'b');
  EXPECT_EQ(key[-1], 'p');
  const Key literal("abc");  // the terminator is a key byte too
  EXPECT_EQ(literal.size(), 4U);
  EXPECT_EQ(literal[3], '\0');
  EXPECT_EQ(literal[4], 'a');
}

TEST(Key, VersionLettersAreParsedInOnePlace) {
  const struct {
    const char* text;
    std::optional<int> version;
  } cases[] = {{"S", 1},
               {"s", 1},
               {"U", 2},
               {"u", 2},
               {"", std::nullopt},
               {"SU", std::nullopt},
               {"x", std::nullopt},
               {"S ", std::nullopt}};
  for (const auto& c : cases) {
    EXPECT_EQ(orbitforge::util::parse_key_version(c.text), c.version) << "'" << c.text << "'";
  }
}

TEST(Container, FixturesWrittenEarlierStillOpen) {
  const Bytes expected = read_file(ADRVET_TEST_DATA_DIR "/fixture-payload.txt");
  std::vector<unsigned char> out;
  EXPECT_EQ(decrypt_file(ADRVET_TEST_DATA_DIR "/fixture-S.dat", &out, key_s()), 1);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(decrypt_file(ADRVET_TEST_DATA_DIR "/fixture-U.dat", &out, key_u()), 1);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(decrypt_file(ADRVET_TEST_DATA_DIR "/fixture-U.dat", &out, key_s()), -2);
}

TEST(Container, WriterMatchesTheFormatByteForByte) {
  const struct {
    std::size_t plain_size;
    std::size_t container_size;
    std::size_t pad_count;
  } cases[] = {{0, 16, 4}, {3, 16, 1}, {4, 32, 16}, {5, 32, 15}, {20, 48, 16}, {21, 48, 15}};
  TempDir dir;
  for (const auto& c : cases) {
    Bytes plain(c.plain_size);
    for (std::size_t i = 0; i < plain.size(); ++i) {
      plain[i] = static_cast<unsigned char>(i * 37 + 1);
    }
    write_file(dir.file("plain"), plain);
    ASSERT_TRUE(encrypt_file(dir.file("plain").c_str(), dir.file("c").c_str(), key_s()));
    const Bytes container = read_file(dir.file("c"));
    EXPECT_EQ(container.size(), c.container_size) << c.plain_size;
    EXPECT_EQ(openssl_image(container), image(plain, c.pad_count)) << c.plain_size;
  }
}

TEST(Container, SixteenCharacterLiteralDerivesTheSameKey) {
  TempDir dir;
  write_file(dir.file("plain"), std::string("payload"));
  const Key literal(kPassPhraseS);  // 17 bytes: only the first 16 take part
  ASSERT_TRUE(encrypt_file(dir.file("plain").c_str(), dir.file("a").c_str(), literal));
  ASSERT_TRUE(encrypt_file(dir.file("plain").c_str(), dir.file("b").c_str(), key_s()));
  EXPECT_EQ(read_file(dir.file("a")), read_file(dir.file("b")));
}

TEST(Container, RoundTripsInMemoryAndFileToFile) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  TempDir dir;
  for (std::size_t size : {0UL, 1UL, 4UL, 15UL, 16UL, 17UL, 1000UL, 65536UL + 3}) {
    Bytes plain(size);
    for (auto& b : plain) {
      b = static_cast<unsigned char>(rng());
    }
    write_file(dir.file("plain"), plain);
    ASSERT_TRUE(encrypt_file(dir.file("plain").c_str(), dir.file("c").c_str(), key_u()));
    std::vector<unsigned char> out(100, 0xee);  // replaced, not appended to
    EXPECT_EQ(decrypt_file(dir.file("c").c_str(), &out, key_u()), 1);
    EXPECT_EQ(out, plain) << size;
    ASSERT_TRUE(decrypt_file(dir.file("c").c_str(), dir.file("back").c_str(), key_u()));
    EXPECT_EQ(read_file(dir.file("back")), plain) << size;
  }
}

TEST(Container, WrongKeyLeavesOutputAlone) {
  TempDir dir;
  write_file(dir.file("plain"), std::string("aa:bb:cc:dd:ee:ff\n"));
  ASSERT_TRUE(encrypt_file(dir.file("plain").c_str(), dir.file("c").c_str(), key_u()));
  std::vector<unsigned char> out = to_bytes("kept");
  EXPECT_EQ(decrypt_file(dir.file("c").c_str(), &out, key_s()), -2);
  EXPECT_EQ(out, to_bytes("kept"));
  EXPECT_FALSE(decrypt_file(dir.file("c").c_str(), dir.file("out").c_str(), key_s()));
  EXPECT_FALSE(file_exists(dir.file("out")));
}

// Expected result of opening a plaintext image, by the rules for short and
// damaged containers.
int expected_open_result(const Bytes& img) {
  if (img.size() < kMagic.size()) {
    return -1;
  }
  if (!std::equal(kMagic.begin(), kMagic.end(), img.begin())) {
    return -2;
  }
  if (img.size() < 12 || img[11] > img.size() - 12) {
    return -1;
  }
  return 1;
}

void expect_opens_as_modelled(const Bytes& img, const std::string& label) {
  TempDir dir;
  write_file(dir.file("c"), container_from_image(img));
  const int expected = expected_open_result(img);
  std::vector<unsigned char> out = to_bytes("untouched");
  EXPECT_EQ(decrypt_file(dir.file("c").c_str(), &out, key_s()), expected) << label;
  const bool to_file = decrypt_file(dir.file("c").c_str(), dir.file("out").c_str(), key_s());
  EXPECT_EQ(to_file, expected == 1) << label;
  // The piecewise reader reaches the same verdict from the header alone.
  orbitforge::util::ContainerReader reader;
  std::vector<unsigned char> whole;
  EXPECT_EQ(reader.open(dir.file("c").c_str(), key_s()),
            orbitforge::util::open_container(dir.file("c").c_str(), whole, key_s()))
      << label;
  if (expected == 1) {
    const Bytes payload(img.begin() + 12, img.end() - img[11]);
    Bytes pieces(payload.size());
    for (std::size_t at = 0; at < payload.size(); at += 5) {  // pieces across block boundaries
      const std::size_t n = std::min<std::size_t>(5, payload.size() - at);
      EXPECT_TRUE(reader.read_payload(at, pieces.data() + at, n)) << label;
    }
    EXPECT_EQ(pieces, payload) << label;
    EXPECT_FALSE(reader.read_payload(payload.size(), pieces.data(), 1)) << label;
    EXPECT_EQ(out, payload) << label;
    EXPECT_EQ(read_file(dir.file("out")), payload) << label;
  } else {
    EXPECT_EQ(out, to_bytes("untouched")) << label;
    EXPECT_FALSE(file_exists(dir.file("out"))) << label;
  }
}

TEST(Container, TruncatedAtEveryLength) {
  const Bytes full = image(to_bytes("0123456789abcdefghij"), 16);  // 48 bytes
  ASSERT_EQ(full.size(), 48U);
  for (std::size_t length = 0; length < full.size(); ++length) {
    expect_opens_as_modelled(Bytes(full.begin(), full.begin() + static_cast<long>(length)),
                             "truncated to " + std::to_string(length));
  }
}

TEST(Container, UnusualHeadersAndPadCounts) {
  const struct {
    const char* label;
    Bytes img;
  } cases[] = {
      {"magic only", kMagic},
      {"ten bytes of magic", Bytes(kMagic.begin(), kMagic.end() - 1)},
      {"eleven bytes, not magic", to_bytes("Orbit Forgf")},
      {"pad count zero", image(to_bytes("abc"), 0)},
      {"pad count equals the rest",
       [] {
         Bytes b = image(to_bytes(""), 0);
         b.insert(b.end(), 7, 0);
         b[11] = 7;
         return b;
       }()},
      {"pad count one too many",
       [] {
         Bytes b = image(to_bytes("xyz"), 2);
         b[11] = 6;
         return b;
       }()},
      {"pad count 255 in a short file",
       [] {
         Bytes b = image(to_bytes("x"), 3);
         b[11] = 255;
         return b;
       }()},
      {"size not a multiple of 16", image(to_bytes("12345678901234567"), 2)},
  };
  for (const auto& c : cases) {
    expect_opens_as_modelled(c.img, c.label);
  }
}

TEST(Container, InputAndOutputMayBeTheSameFile) {
  TempDir dir;
  const Bytes plain = to_bytes("52:54:00:12:34:56\n");
  write_file(dir.file("list"), plain);
  ASSERT_TRUE(encrypt_file(dir.file("list").c_str(), dir.file("list").c_str(), key_s()));
  EXPECT_EQ(read_file(dir.file("list")).size(), 32U);
  ASSERT_TRUE(decrypt_file(dir.file("list").c_str(), dir.file("list").c_str(), key_s()));
  EXPECT_EQ(read_file(dir.file("list")), plain);
}

TEST(Container, FailuresLeaveTheOutputPathAsItWas) {
  TempDir dir;
  write_file(dir.file("out"), std::string("previous"));
  EXPECT_FALSE(encrypt_file(dir.file("missing").c_str(), dir.file("out").c_str(), key_s()));
  EXPECT_FALSE(decrypt_file(dir.file("missing").c_str(), dir.file("out").c_str(), key_s()));
  std::vector<unsigned char> out;
  EXPECT_EQ(decrypt_file(dir.file("missing").c_str(), &out, key_s()), -1);
  EXPECT_EQ(read_file(dir.file("out")), to_bytes("previous"));

  write_file(dir.file("plain"), std::string("x"));
  EXPECT_FALSE(encrypt_file(dir.file("plain").c_str(), dir.file("no/such/dir/c").c_str(), key_s()));
  EXPECT_FALSE(encrypt_file(dir.file("plain").c_str(), dir.path().c_str(), key_s()));
  EXPECT_TRUE(adrvet_test::temporary_files(dir.path()).empty());
}

TEST(Container, NonRegularFilesAreRefusedWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  std::vector<unsigned char> out;
  EXPECT_EQ(decrypt_file(dir.file("fifo").c_str(), &out, key_s()), -1);
  EXPECT_EQ(decrypt_file(dir.path().c_str(), &out, key_s()), -1);
  EXPECT_FALSE(encrypt_file(dir.file("fifo").c_str(), dir.file("c").c_str(), key_s()));
  EXPECT_FALSE(file_exists(dir.file("c")));
}

TEST(Container, FourGibibytesAndAboveAreOutsideTheFormat) {
  TempDir dir;
  const auto sparse = [&](const std::string& name, off_t size) {
    write_file(dir.file(name), Bytes{});
    ASSERT_EQ(::truncate(dir.file(name).c_str(), size), 0);
  };
  sparse("container", off_t{1} << 32);
  std::vector<unsigned char> out;
  EXPECT_EQ(decrypt_file(dir.file("container").c_str(), &out, key_s()), -1);
  EXPECT_FALSE(decrypt_file(dir.file("container").c_str(), dir.file("out").c_str(), key_s()));
  // 4 GiB - 28 plain bytes would make a container of exactly 4 GiB.
  sparse("plain", (off_t{1} << 32) - 28);
  EXPECT_FALSE(encrypt_file(dir.file("plain").c_str(), dir.file("out").c_str(), key_s()));
  EXPECT_FALSE(file_exists(dir.file("out")));
}

TEST(ContainerWriting, FullDeviceFails) {
  if (!file_exists("/dev/full")) {
    GTEST_SKIP() << "/dev/full is missing";
  }
  TempDir dir;
  write_file(dir.file("plain"), std::string("aa:bb:cc:dd:ee:ff\n"));
  const auto before = adrvet_test::list_directory("/dev");
  EXPECT_FALSE(encrypt_file(dir.file("plain").c_str(), "/dev/full", key_s()));
  ASSERT_TRUE(encrypt_file(dir.file("plain").c_str(), dir.file("c").c_str(), key_s()));
  EXPECT_FALSE(decrypt_file(dir.file("c").c_str(), "/dev/full", key_s()));
  EXPECT_EQ(adrvet_test::list_directory("/dev").size(), before.size());
}

TEST(ContainerWriting, FailedWriteKeepsTheOldFileWhole) {
  TempDir dir;
  write_file(dir.file("list"), std::string("old list"));
  write_file(dir.file("plain"), Bytes(64 * 1024, 'a'));
  // A file size limit makes the write fail part way, like a full disk.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = encrypt_file(dir.file("plain").c_str(), dir.file("list").c_str(), key_s());
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(written);
  EXPECT_EQ(read_file(dir.file("list")), to_bytes("old list"));
  EXPECT_TRUE(adrvet_test::temporary_files(dir.path()).empty());
}

TEST(ContainerWriting, KeepsPermissionBitsAndSymbolicLinks) {
  TempDir dir;
  write_file(dir.file("plain"), std::string("aa:bb:cc:dd:ee:ff\n"));
  write_file(dir.file("engine.dat"), std::string("old"));
  ASSERT_EQ(::chmod(dir.file("engine.dat").c_str(), 0640), 0);
  ASSERT_EQ(::symlink("engine.dat", dir.file("link").c_str()), 0);
  ASSERT_TRUE(encrypt_file(dir.file("plain").c_str(), dir.file("link").c_str(), key_s()));
  struct stat status {};
  ASSERT_EQ(::stat(dir.file("engine.dat").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640U);
  ASSERT_EQ(::lstat(dir.file("link").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  std::vector<unsigned char> out;
  EXPECT_EQ(decrypt_file(dir.file("engine.dat").c_str(), &out, key_s()), 1);
  EXPECT_EQ(out, to_bytes("aa:bb:cc:dd:ee:ff\n"));
}

TEST(ContainerWriting, ADanglingLinkGetsItsFileCreatedAndStaysALink) {
  TempDir dir;
  write_file(dir.file("plain"), std::string("aa:bb:cc:dd:ee:ff\n"));
  ::mkdir(dir.file("real").c_str(), 0755);
  ASSERT_EQ(::symlink("real/engine.dat", dir.file("link").c_str()), 0);
  ASSERT_TRUE(encrypt_file(dir.file("plain").c_str(), dir.file("link").c_str(), key_s()));
  struct stat status {};
  ASSERT_EQ(::lstat(dir.file("link").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_EQ(::stat(dir.file("real/engine.dat").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600U) << "a new list is private";
  std::vector<unsigned char> out;
  EXPECT_EQ(decrypt_file(dir.file("link").c_str(), &out, key_s()), 1);
  EXPECT_EQ(out, to_bytes("aa:bb:cc:dd:ee:ff\n"));
}

TEST(ContainerWriting, EmptyPayloadGivesAnEmptyFile) {
  TempDir dir;
  write_file(dir.file("empty"), Bytes{});
  ASSERT_TRUE(encrypt_file(dir.file("empty").c_str(), dir.file("c").c_str(), key_s()));
  ASSERT_TRUE(decrypt_file(dir.file("c").c_str(), dir.file("out").c_str(), key_s()));
  EXPECT_TRUE(file_exists(dir.file("out")));
  EXPECT_TRUE(read_file(dir.file("out")).empty());
}

}  // namespace

namespace {

TEST(ContainerReader, OpeningAgainClosesTheEarlierFile) {
  TempDir dir;
  write_file(dir.file("a.txt"), std::string("00:11:22:33:44:55\n"));
  write_file(dir.file("b.txt"), std::string("00:11:22:33:44:66\n66:55:44:33:22:11\n"));
  ASSERT_TRUE(encrypt_file(dir.file("a.txt").c_str(), dir.file("a").c_str(), key_s()));
  ASSERT_TRUE(encrypt_file(dir.file("b.txt").c_str(), dir.file("b").c_str(), key_s()));
  const auto open_descriptors = [] { return adrvet_test::list_directory("/proc/self/fd").size(); };
  orbitforge::util::ContainerReader reader;
  ASSERT_EQ(reader.open(dir.file("a").c_str(), key_s()), orbitforge::util::ContainerStatus::ok);
  const std::size_t with_one = open_descriptors();
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(reader.open(dir.file(i % 2 == 0 ? "b" : "a").c_str(), key_s()),
              orbitforge::util::ContainerStatus::ok);
  }
  EXPECT_EQ(open_descriptors(), with_one) << "an earlier descriptor leaked";
  ASSERT_EQ(reader.open(dir.file("b").c_str(), key_s()), orbitforge::util::ContainerStatus::ok);
  EXPECT_EQ(reader.payload_size(), 36U);
  unsigned char text[36];
  ASSERT_TRUE(reader.read_payload(0, text, sizeof text));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text), sizeof text),
            "00:11:22:33:44:66\n66:55:44:33:22:11\n");
  EXPECT_EQ(reader.open(dir.file("missing").c_str(), key_s()),
            orbitforge::util::ContainerStatus::cannot_open);
  EXPECT_FALSE(reader.read_payload(0, text, 1)) << "a failed open keeps nothing of the last file";
}

TEST(ContainerReader, ReadsAnyRangeOfALargePayload) {
  std::mt19937_64 rng(adrvet_test::test_seed() + 13);
  TempDir dir;
  const Bytes plain = adrvet_test::random_bytes(rng, 100000);
  write_file(dir.file("plain"), plain);
  ASSERT_TRUE(encrypt_file(dir.file("plain").c_str(), dir.file("c").c_str(), key_u()));
  orbitforge::util::ContainerReader reader;
  ASSERT_EQ(reader.open(dir.file("c").c_str(), key_u()), orbitforge::util::ContainerStatus::ok);
  ASSERT_EQ(reader.payload_size(), plain.size());
  for (int round = 0; round < 500; ++round) {
    const std::size_t at = rng() % plain.size();
    const std::size_t n = rng() % std::min<std::size_t>(300, plain.size() - at + 1);
    Bytes piece(n);
    ASSERT_TRUE(reader.read_payload(at, piece.data(), n));
    ASSERT_EQ(piece, Bytes(plain.begin() + static_cast<long>(at),
                           plain.begin() + static_cast<long>(at + n)))
        << at << "+" << n;
  }
}

// Files up to kWholeReadBytes are read and decrypted at once, larger ones
// piece by piece: both give the same bytes on either side of the limit.
TEST(ContainerReader, WholeAndPiecewiseReadingAgreeAtTheLimit) {
  std::mt19937_64 rng(adrvet_test::test_seed() + 17);
  constexpr std::uint64_t kLimit = orbitforge::util::ContainerReader::kWholeReadBytes;
  for (const std::uint64_t file_size : {kLimit - 16, kLimit, kLimit + 16, kLimit + 32}) {
    TempDir dir;
    // The header and a payload of a whole number of blocks get a whole block of padding.
    const Bytes plain = adrvet_test::random_bytes(rng, file_size - 12 - 16);
    write_file(dir.file("plain"), plain);
    ASSERT_TRUE(encrypt_file(dir.file("plain").c_str(), dir.file("c").c_str(), key_s()));
    ASSERT_EQ(read_file(dir.file("c")).size(), file_size);
    orbitforge::util::ContainerReader reader;
    ASSERT_EQ(reader.open(dir.file("c").c_str(), key_s()), orbitforge::util::ContainerStatus::ok);
    ASSERT_EQ(reader.payload_size(), plain.size());
    Bytes all(plain.size());
    ASSERT_TRUE(reader.read_payload(0, all.data(), all.size()));
    EXPECT_EQ(all, plain) << file_size;
    for (int round = 0; round < 50; ++round) {
      const std::size_t at = rng() % plain.size();
      const std::size_t n = rng() % std::min<std::size_t>(300, plain.size() - at + 1);
      Bytes piece(n);
      ASSERT_TRUE(reader.read_payload(at, piece.data(), n));
      ASSERT_EQ(piece, Bytes(plain.begin() + static_cast<long>(at),
                             plain.begin() + static_cast<long>(at + n)))
          << file_size << ": " << at << "+" << n;
    }
    EXPECT_FALSE(reader.read_payload(plain.size(), all.data(), 1));
  }
}

}  // namespace
