// Helpers shared by the test programs: scratch directories, files, hex,
// vector files and running the built programs as processes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace adrvet_test {

using Bytes = std::vector<unsigned char>;

// A fresh directory under TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const Bytes& bytes);
void write_file(const std::string& path, const std::string& text);
// A list container at `path` whose payload is `text` as given (any layout,
// as another tool may have written it), under key version 1 (S); no
// inventory beside it. False when it could not be written.
[[nodiscard]] bool write_list_text(const std::string& path, const std::string& text);
Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);
std::vector<std::string> list_directory(const std::string& path);
// The temporary files that writers of `path`'s files left there.
std::vector<std::string> temporary_files(const std::string& path);

Bytes from_hex(const std::string& hex);

// A 48-bit MAC value as "aa:bb:cc:dd:ee:ff", and as twelve hex digits.
std::string colon_address(std::uint64_t value);
std::string hex12(std::uint64_t value);
Bytes to_bytes(const std::string& text);

// One record of a NIST .rsp/.txt vector file: upper-cased keys to values,
// plus the [SECTION] it stood under.
struct VectorRecord {
  std::string section;
  std::map<std::string, std::string> fields;
  [[nodiscard]] const std::string& at(const std::string& key) const { return fields.at(key); }
};
std::vector<VectorRecord> read_vector_file(const std::string& relative_path);

// Seed for randomized tests: ADRVET_TEST_SEED replays a run; printed either way.
std::uint64_t test_seed();
Bytes random_bytes(std::mt19937_64& rng, std::size_t count);

struct ProcessResult {
  int exit_status = -1;  // 0-255, or -1 if it did not exit normally
  std::string out;
  std::string err;
  bool timed_out = false;
  bool killed = false;  // by kill_after_microseconds
};

struct ProcessOptions {
  std::string stdin_text;
  std::optional<std::uint64_t> address_space_limit;  // bytes, RLIMIT_AS
  int timeout_seconds = 20;
  bool as_nobody = false;              // when root: run as uid/gid 65534, so permissions apply
  std::vector<unsigned> extra_groups;  // with as_nobody: supplementary groups
  std::optional<int> kill_after_microseconds;  // SIGKILL the process then, if still running
};

// True when ADRVET_TEST_WRAPPER runs the programs under a tool such as valgrind.
bool wrapped_run();

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const ProcessOptions& options = {});

// adrvet-list with `args`, `input` on its standard input.
ProcessResult run_list_tool(const std::vector<std::string>& args, const std::string& input = "",
                            int timeout_seconds = 60);

// Runs every command at once, each in its own thread, and gives their
// results in the same order.
std::vector<ProcessResult> run_concurrently(const std::string& program,
                                            const std::vector<std::vector<std::string>>& commands,
                                            const ProcessOptions& options = {});

}  // namespace adrvet_test
