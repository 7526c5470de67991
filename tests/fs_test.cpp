// The safe-file layer inside a host program: descriptors it must not leak
// when reading throws, the umask it must read without changing it (another
// thread may be creating files), and a directory sync that fails. This
// program supplies its own umask() and fsync() in front of the C
// library's, so that it sees every call the library makes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <new>
#include <string>
#include <vector>

#include "fs/detail/file_io.h"
#include "fs/file_update.h"
#include "support/test_support.h"

namespace {

std::atomic<int> umask_calls{0};
std::atomic<bool> fail_directory_sync{false};

}  // namespace

extern "C" mode_t umask(mode_t mask) noexcept {
  umask_calls.fetch_add(1);
  return static_cast<mode_t>(::syscall(SYS_umask, mask));
}

extern "C" int fsync(int fd) {
  struct stat status {};
  if (fail_directory_sync.load() && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

using adrvet_test::TempDir;
namespace util = orbitforge::util;

std::size_t open_descriptors() {
  std::size_t count = 0;
  DIR* fds = ::opendir("/proc/self/fd");
  while (fds != nullptr && ::readdir(fds) != nullptr) {
    ++count;
  }
  if (fds != nullptr) {
    ::closedir(fds);
  }
  return count;
}

// A byte buffer that cannot grow, as when memory runs out.
struct NoMemoryBytes {
  std::vector<unsigned char> bytes;
  [[nodiscard]] std::size_t size() const { return bytes.size(); }
  [[nodiscard]] std::size_t max_size() const { return bytes.max_size(); }
  unsigned char* data() { return bytes.data(); }
  void reserve(std::size_t /*size*/) { throw std::bad_alloc(); }
  void resize(std::size_t size) { bytes.resize(size); }
};

TEST(ReadWholeFile, ClosesItsDescriptorWhenReadingThrows) {
  TempDir dir;
  adrvet_test::write_file(dir.file("list"), std::string("00:1a:2b:3c:4d:5e\n"));
  const std::size_t before = open_descriptors();
  for (int round = 0; round < 3; ++round) {
    NoMemoryBytes data;
    EXPECT_THROW((void)util::detail::read_whole_file(dir.file("list").c_str(), data),
                 std::bad_alloc);
  }
  EXPECT_EQ(open_descriptors(), before);
}

TEST(WriteFile, TakesTheUmaskWithoutEverSettingIt) {
  struct Case {
    mode_t umask;
    mode_t expected;
  };
  const mode_t saved = static_cast<mode_t>(::syscall(SYS_umask, 022));
  for (const Case& c :
       {Case{022, 0644}, Case{027, 0640}, Case{077, 0600}, Case{0, 0666}, Case{0777, 0}}) {
    TempDir dir;
    (void)::syscall(SYS_umask, c.umask);
    umask_calls = 0;
    util::WriteOptions options;
    options.new_file_mode = 0666;
    options.apply_umask = true;
    const std::string path = dir.file("export");
    const unsigned char byte = 'x';
    ASSERT_TRUE(util::write_file(path.c_str(), &byte, 1, options).ok()) << std::oct << c.umask;
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, c.expected) << "umask " << std::oct << c.umask;
    EXPECT_EQ(umask_calls.load(), 0) << "the library set the umask";
    EXPECT_EQ(static_cast<mode_t>(::syscall(SYS_umask, c.umask)), c.umask);
  }
  (void)::syscall(SYS_umask, saved);
}

TEST(WriteFile, AFailedDirectorySyncIsReportedWithTheNewFileInPlace) {
  TempDir dir;
  const std::string path = dir.file("engine.dat");
  adrvet_test::write_file(path, std::string("old"));
  const std::string next = "new";
  fail_directory_sync = true;
  const util::FileResult plain = util::write_file(
      path.c_str(), reinterpret_cast<const unsigned char*>(next.data()), next.size());
  util::FileUpdate update;
  const util::FileResult begun = update.begin(path.c_str());
  const util::FileResult committed =
      update.commit(reinterpret_cast<const unsigned char*>(next.data()), next.size());
  fail_directory_sync = false;
  for (const util::FileResult& result : {plain, committed}) {
    EXPECT_EQ(result.status, util::FileStatus::not_durable);
    EXPECT_EQ(result.error, EIO);
    EXPECT_NE(util::describe(result).find("could not be synced"), std::string::npos);
  }
  EXPECT_TRUE(begun.ok());
  EXPECT_EQ(adrvet_test::read_file(path), adrvet_test::Bytes(next.begin(), next.end()));
}

}  // namespace
