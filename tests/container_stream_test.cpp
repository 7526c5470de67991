// The container written piece by piece against the one written whole, and
// the streamed commit of a locked update: declined, failed, done.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "crypto/container.h"
#include "crypto/key_versions.h"
#include "fs/file_update.h"
#include "support/test_support.h"

namespace {

using adrvet_test::Bytes;
using adrvet_test::TempDir;
using orbitforge::util::ContainerStatus;
using orbitforge::util::ContainerWriter;
using orbitforge::util::ContentSink;
using orbitforge::util::FileResult;
using orbitforge::util::FileStatus;

// A file in memory; fails every call once `limit` bytes would be passed.
class MemorySink final : public ContentSink {
 public:
  explicit MemorySink(std::size_t limit = SIZE_MAX) : limit_(limit) {}
  bool append(const unsigned char* data, std::size_t size) override {
    if (failed_ || bytes.size() + size > limit_) {
      failed_ = true;
      return false;
    }
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  bool rewrite(std::uint64_t offset, const unsigned char* data, std::size_t size) override {
    if (failed_ || offset + size > bytes.size()) {
      failed_ = true;
      return false;
    }
    std::copy(data, data + size, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
  }
  [[nodiscard]] FileResult failure() const override {
    return failed_ ? FileResult::failure(FileStatus::write_failed, 28) : FileResult{};
  }
  Bytes bytes;

 private:
  std::size_t limit_;
  bool failed_ = false;
};

// The container write_container makes of `payload`, read back from a file.
Bytes whole_container(const Bytes& payload, int key_version) {
  TempDir dir;
  const std::string path = dir.file("whole.dat");
  EXPECT_TRUE(orbitforge::util::write_container(path.c_str(), payload.data(), payload.size(),
                                                orbitforge::util::key_for_version(key_version)));
  return adrvet_test::read_file(path);
}

TEST(ContainerWriter, PiecesOfAnySizeMakeTheBytesOfTheWholeWriter) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  // Sizes around the block, the head's block, and the writer's own piece.
  const std::vector<std::size_t> sizes = {0,
                                          1,
                                          3,
                                          4,
                                          5,
                                          15,
                                          16,
                                          17,
                                          19,
                                          20,
                                          31,
                                          32,
                                          33,
                                          1000,
                                          4095,
                                          4096,
                                          (256U << 10U) - 12,
                                          (256U << 10U) - 11,
                                          (256U << 10U) + 5,
                                          (600U << 10U) + 7};
  for (const std::size_t size : sizes) {
    for (const int version : {1, 2}) {
      const Bytes payload = adrvet_test::random_bytes(rng, size);
      MemorySink sink;
      {
        ContainerWriter writer(sink, orbitforge::util::key_for_version(version));
        std::size_t at = 0;
        while (at < size) {
          const std::size_t piece = std::min<std::size_t>(size - at, rng() % 70000 + 1);
          ASSERT_TRUE(writer.append(payload.data() + at, piece));
          at += piece;
        }
        ASSERT_TRUE(writer.finish());
        EXPECT_EQ(writer.payload_size(), size);
      }
      EXPECT_EQ(sink.bytes, whole_container(payload, version)) << "payload of " << size << " bytes";
    }
  }
}

TEST(ContainerWriter, AFailedSinkFailsTheWriteAndNothingMoreIsPassed) {
  std::mt19937_64 rng(adrvet_test::test_seed());
  const Bytes payload = adrvet_test::random_bytes(rng, 1U << 20U);
  for (const std::size_t limit : {std::size_t{0}, std::size_t{100000}, std::size_t{1U << 20U}}) {
    MemorySink sink(limit);
    ContainerWriter writer(sink, orbitforge::util::key_for_version(1));
    (void)writer.append(payload.data(), payload.size());
    EXPECT_FALSE(writer.finish()) << "limit " << limit;
    EXPECT_FALSE(sink.failure().ok());
    EXPECT_LE(sink.bytes.size(), limit);
  }
}

struct Scratch {
  TempDir dir;
  std::string path = dir.file("engine.dat");
};

FileResult stream(const std::string& path, const Bytes& payload, bool replace) {
  orbitforge::util::FileUpdate update;
  EXPECT_TRUE(update.begin(path.c_str()).ok());
  return update.commit_stream([&](ContentSink& sink) {
    ContainerWriter writer(sink, orbitforge::util::key_for_version(1));
    EXPECT_TRUE(writer.append(payload.data(), payload.size()));
    EXPECT_TRUE(writer.finish());
    return replace;
  });
}

TEST(StreamedCommit, DoneItReplacesTheFileAndKeepsItsMode) {
  Scratch scratch;
  const Bytes old_payload = adrvet_test::to_bytes("00:00:00:00:00:01\n");
  ASSERT_TRUE(orbitforge::util::write_container(scratch.path.c_str(), old_payload.data(),
                                                old_payload.size(),
                                                orbitforge::util::key_for_version(1)));
  ASSERT_EQ(::chmod(scratch.path.c_str(), 0640), 0);
  const Bytes payload(100000, 'x');
  ASSERT_TRUE(stream(scratch.path, payload, true).ok());
  EXPECT_EQ(adrvet_test::read_file(scratch.path), whole_container(payload, 1));
  struct stat status {};
  ASSERT_EQ(::stat(scratch.path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777U, 0640U);
  EXPECT_TRUE(adrvet_test::temporary_files(scratch.dir.path()).empty());
}

TEST(StreamedCommit, DeclinedItLeavesTheFileAndNoTemporary) {
  Scratch scratch;
  const Bytes old_payload = adrvet_test::to_bytes("00:00:00:00:00:01\n");
  ASSERT_TRUE(orbitforge::util::write_container(scratch.path.c_str(), old_payload.data(),
                                                old_payload.size(),
                                                orbitforge::util::key_for_version(1)));
  const Bytes before = adrvet_test::read_file(scratch.path);
  struct stat old_status {};
  ASSERT_EQ(::stat(scratch.path.c_str(), &old_status), 0);
  EXPECT_TRUE(stream(scratch.path, Bytes(5000, 'y'), false).ok());
  struct stat new_status {};
  ASSERT_EQ(::stat(scratch.path.c_str(), &new_status), 0);
  EXPECT_EQ(new_status.st_ino, old_status.st_ino);
  EXPECT_EQ(adrvet_test::read_file(scratch.path), before);
  EXPECT_TRUE(adrvet_test::temporary_files(scratch.dir.path()).empty());
}

TEST(StreamedCommit, AFifoIsNotStreamedInto) {
  Scratch scratch;
  ASSERT_EQ(::mkfifo(scratch.path.c_str(), 0600), 0);
  const FileResult result = stream(scratch.path, Bytes(10, 'z'), true);
  EXPECT_EQ(result.status, FileStatus::cannot_open_special);
}

TEST(ContainerReaderOnAnUpdate, TellsCutShortFilesFromWholeOnes) {
  Scratch scratch;
  std::string text;
  for (int i = 0; i < 10000; ++i) {  // beyond the size read in one piece
    text += adrvet_test::colon_address(static_cast<std::uint64_t>(i) * 7919U) + "\n";
  }
  const Bytes payload = adrvet_test::to_bytes(text);
  const Bytes whole = whole_container(payload, 1);
  struct Case {
    const char* name;
    std::size_t cut;  // bytes dropped from the end
    ContainerStatus status;
    bool intact;
  };
  const std::vector<Case> cases = {
      {"whole", 0, ContainerStatus::ok, true},
      {"a block short", 16, ContainerStatus::ok, false},  // the pad is now payload text
      {"a byte short", 1, ContainerStatus::ok, false},
  };
  for (const Case& c : cases) {
    adrvet_test::write_file(scratch.path,
                            Bytes(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(c.cut)));
    orbitforge::util::FileUpdate update;
    ASSERT_TRUE(update.begin(scratch.path.c_str()).ok());
    orbitforge::util::ContainerReader reader;
    orbitforge::util::OpenDetails details;
    EXPECT_EQ(reader.open(update, orbitforge::util::key_for_version(1), details), c.status)
        << c.name;
    EXPECT_EQ(details.intact, c.intact) << c.name;
    orbitforge::util::ContainerReader other;
    EXPECT_EQ(other.open(update, orbitforge::util::key_for_version(2), details),
              ContainerStatus::wrong_key)
        << c.name;
  }
}

}  // namespace
