// Many writers of one list at once, as scripts run them: every update
// counts, readers never see a torn or missing list, and the lock never
// outlives its holder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crypto/container.h"
#include "crypto/key_versions.h"
#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::run_concurrently;
using adrvet_test::run_process;

constexpr std::uint64_t kUnicast = 0xFCFFFFFFFFFFULL;  // no warnings: unicast, globally unique

std::string colon(std::uint64_t v) { return adrvet_test::colon_address(v); }

// The addresses of a list, or nullopt when it does not open under `version`.
std::optional<std::set<std::uint64_t>> listed(const std::string& container, int version) {
  std::vector<unsigned char> payload;
  if (orbitforge::util::open_container(container.c_str(), payload,
                                       orbitforge::util::key_for_version(version)) !=
      orbitforge::util::ContainerStatus::ok) {
    return std::nullopt;
  }
  std::set<std::uint64_t> values;
  for (std::size_t at = 0; at + 17 <= payload.size(); at += 18) {
    const std::string hex(payload.begin() + static_cast<std::ptrdiff_t>(at),
                          payload.begin() + static_cast<std::ptrdiff_t>(at + 17));
    std::string digits;
    std::copy_if(hex.begin(), hex.end(), std::back_inserter(digits),
                 [](char c) { return c != ':'; });
    values.insert(std::stoull(digits, nullptr, 16));
  }
  return values;
}

std::vector<std::uint64_t> distinct_addresses(std::mt19937_64& rng, std::size_t count,
                                              const std::set<std::uint64_t>& avoid = {}) {
  std::set<std::uint64_t> chosen;
  while (chosen.size() < count) {
    const std::uint64_t v = rng() & kUnicast;
    if (!avoid.contains(v)) {
      chosen.insert(v);
    }
  }
  std::vector<std::uint64_t> values(chosen.begin(), chosen.end());
  std::shuffle(values.begin(), values.end(), rng);
  return values;
}

class ConcurrentUpdates : public adrvet_test::ListToolTest {
 protected:
  void SetUp() override {
    rng_.seed(adrvet_test::test_seed());
    ::mkdir(list_.c_str(), 0755);
    initial_ = distinct_addresses(rng_, 100);
    std::string text;
    for (const std::uint64_t v : initial_) {
      text += colon(v) + "\n";
    }
    pack(list_, text);
  }
  [[nodiscard]] std::vector<std::string> command(const char* verb, std::uint64_t value,
                                                 const char* key = "S") const {
    return {verb, "-k", key, "--wait", "120", list_, colon(value)};
  }
  [[nodiscard]] std::set<std::uint64_t> initial_set() const {
    return {initial_.begin(), initial_.end()};
  }

  std::mt19937_64 rng_{adrvet_test::test_seed()};
  std::string list_ = dir_.file("list");
  std::string container_ = list_ + "/engine.dat";
  std::vector<std::uint64_t> initial_;
};

TEST_F(ConcurrentUpdates, EveryCommandOfManyWritersCounts) {
  struct Case {
    const char* name;
    std::size_t adds;
    std::size_t removes;
  };
  for (const Case& c : {Case{"64 add", 64, 0}, Case{"64 remove", 0, 64}, Case{"mixed", 32, 32}}) {
    SetUp();
    std::set<std::uint64_t> expected = initial_set();
    std::vector<std::vector<std::string>> commands;
    for (const std::uint64_t v : distinct_addresses(rng_, c.adds, expected)) {
      commands.push_back(command("add", v));
      expected.insert(v);
    }
    for (std::size_t i = 0; i < c.removes; ++i) {
      commands.push_back(command("remove", initial_[i]));
      expected.erase(initial_[i]);
    }
    std::shuffle(commands.begin(), commands.end(), rng_);
    const auto results = run_concurrently(ADRVET_LIST_BINARY, commands);
    for (std::size_t i = 0; i < results.size(); ++i) {
      EXPECT_EQ(results[i].exit_status, 0) << c.name << ": " << commands[i][0] << " "
                                           << commands[i].back() << ": " << results[i].err;
    }
    EXPECT_EQ(listed(container_, 1), expected) << c.name;
  }
}

TEST_F(ConcurrentUpdates, RekeyRacingAddsEndsUnderOneKeyWithEveryAcceptedAddress) {
  std::vector<std::vector<std::string>> commands;
  const auto added = distinct_addresses(rng_, 31, initial_set());
  for (const std::uint64_t v : added) {
    commands.push_back(command("add", v));
  }
  commands.insert(commands.begin() + 15, {"rekey", "-k", "S", "--to", "U", "--wait", "120", list_});
  const auto results = run_concurrently(ADRVET_LIST_BINARY, commands);
  std::set<std::uint64_t> expected = initial_set();
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (commands[i][0] == "rekey") {
      EXPECT_EQ(results[i].exit_status, 0) << results[i].err;
    } else if (results[i].exit_status == 0) {
      expected.insert(std::stoull(
          [&] {
            std::string d = commands[i].back();
            d.erase(std::remove(d.begin(), d.end(), ':'), d.end());
            return d;
          }(),
          nullptr, 16));
    } else {
      // After the rekey, an add under the old key fails loudly instead of undoing it.
      EXPECT_EQ(results[i].exit_status, 1);
      EXPECT_NE(results[i].err.find("ADRVET would answer -3"), std::string::npos) << results[i].err;
    }
  }
  EXPECT_EQ(listed(container_, 1), std::nullopt) << "the rekey was undone";
  EXPECT_EQ(listed(container_, 2), expected);
}

TEST_F(ConcurrentUpdates, ReadersSeeTheOldListOrTheNewOneNeverAnError) {
  const std::uint64_t stays = initial_[0];  // in every version of the list
  std::atomic<bool> writing{true};
  std::atomic<int> answers{0};
  std::atomic<int> wrong{0};
  std::string first_wrong;
  std::vector<std::thread> readers;
  // Under the sanitizers six processes share two cores with other tests: the
  // bound only stops a hung reader, and a stopped one is said as such.
  adrvet_test::ProcessOptions bounded;
  bounded.timeout_seconds = 120;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&, r] {
      while (writing) {
        const ProcessResult result =
            r == 0 ? run_process(ADRVET_BINARY, {"S", list_, colon(stays)}, bounded)
                   : run_process(ADRVET_LIST_BINARY, {"check", "-k", "S", list_, colon(stays)},
                                 bounded);
        ++answers;
        const bool listed_answer =
            r == 0 ? result.exit_status == 1
                   : result.exit_status == 0 && result.out == colon(stays) + "\t1\n";
        if (!listed_answer && wrong++ == 0) {
          first_wrong = (r == 0 ? "ADRVET: " : "check: ") + std::to_string(result.exit_status) +
                        (result.timed_out         ? " (stopped after 120 s)"
                         : result.exit_status < 0 ? " (killed by a signal)"
                                                  : "") +
                        " " + result.out + result.err;
        }
      }
    });
  }
  // Writers add and remove other addresses, four at a time, two thousand times.
  const auto others = distinct_addresses(rng_, 500, initial_set());
  std::vector<std::vector<std::string>> commands;
  for (int round = 0; round < 4; ++round) {
    for (const std::uint64_t v : others) {
      commands.push_back(command(round % 2 == 0 ? "add" : "remove", v));
    }
  }
  std::atomic<std::size_t> next{0};
  std::atomic<int> failed_writes{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([&] {
      for (std::size_t i = next++; i < commands.size(); i = next++) {
        failed_writes += list_tool(commands[i]).exit_status == 0 ? 0 : 1;
      }
    });
  }
  for (std::thread& t : writers) {
    t.join();
  }
  writing = false;
  for (std::thread& t : readers) {
    t.join();
  }
  EXPECT_EQ(failed_writes, 0);
  EXPECT_GT(answers, 20);
  EXPECT_EQ(wrong, 0) << first_wrong;
  EXPECT_EQ(listed(container_, 1)->count(stays), 1U);
}

// Holds the lock of `container` in a child process until it is killed.
pid_t hold_lock(const std::string& container) {
  const std::string lock = container.substr(0, container.rfind('/') + 1) + ".engine.dat.lock";
  int ready[2];
  if (::pipe(ready) != 0) {
    return -1;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(lock.c_str(), O_RDONLY | O_CREAT, 0600);
    const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
    (void)::write(ready[1], &ok, 1);
    for (;;) {
      ::pause();
    }
  }
  char ok = 'n';
  ::close(ready[1]);
  (void)::read(ready[0], &ok, 1);
  ::close(ready[0]);
  return ok == 'y' ? pid : -1;
}

void kill_and_reap(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

double seconds_of(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(ConcurrentUpdates, AHeldLockMakesWritersWaitThenFailAndDiesWithItsHolder) {
  const auto before = adrvet_test::read_file(container_);
  const pid_t holder = hold_lock(container_);
  ASSERT_GT(holder, 0);
  const std::string address = colon(distinct_addresses(rng_, 1, initial_set())[0]);
  struct Case {
    std::vector<std::string> wait;
    double at_least;
    double at_most;
  };
  // The default wait is ten seconds.
  for (const Case& c :
       {Case{{"--wait", "0"}, 0, 2}, Case{{"--wait", "1.5"}, 1.4, 6}, Case{{}, 9.9, 19}}) {
    std::vector<std::string> args = {"add", "-k", "S"};
    args.insert(args.end(), c.wait.begin(), c.wait.end());
    args.insert(args.end(), {list_, address});
    ProcessResult result;
    const double took = seconds_of([&] { result = list_tool(args); });
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(
        result.err.find(container_ + ": the list's lock is held by pid " + std::to_string(holder)),
        std::string::npos)
        << result.err;
    EXPECT_GE(took, c.at_least);
    EXPECT_LE(took, c.at_most) << "did not give up";
    EXPECT_EQ(adrvet_test::read_file(container_), before);
  }
  kill_and_reap(holder);
  EXPECT_EQ(list_tool({"add", "-k", "S", "--wait", "0", list_, address}).exit_status, 0);
}

TEST_F(ConcurrentUpdates, AWriterKilledWhileWritingLeavesTheLockFree) {
  std::string big;
  for (const std::uint64_t v : distinct_addresses(rng_, 200000, initial_set())) {
    big += colon(v) + "\n";
  }
  ASSERT_EQ(list_tool({"pack", "-k", "S", "-", list_}, big).exit_status, 0);
  const auto old_list = listed(container_, 1);
  int killed = 0;
  for (int round = 0; round < 10; ++round) {
    const std::uint64_t v = distinct_addresses(rng_, 1, *old_list)[0];
    adrvet_test::ProcessOptions options;
    options.kill_after_microseconds = static_cast<int>(5000 + rng_() % 60000);
    killed += run_process(ADRVET_LIST_BINARY, {"add", "-k", "S", list_, colon(v)}, options).killed;
    const auto now = listed(container_, 1);
    ASSERT_TRUE(now.has_value());
    EXPECT_TRUE(now->size() == old_list->size() || now->size() == old_list->size() + 1);
    const ProcessResult next =
        list_tool({"add", "-k", "S", "--wait", "0", list_, colon(v), "--quiet"});
    EXPECT_EQ(next.exit_status, 0) << "round " << round << ": " << next.err;
    ASSERT_EQ(list_tool({"remove", "-k", "S", "--wait", "0", list_, colon(v)}).exit_status, 0);
  }
  EXPECT_GT(killed, 0);
}

}  // namespace
