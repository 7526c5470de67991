// export --output and the peer options, pack --from and add --from, run as
// processes: round trips through the commands and their failure paths.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::read_file;
using adrvet_test::write_file;

std::string text_of(const adrvet_test::Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

std::string unpack(const std::string& list) { return list_tool({"unpack", "-k", "S", list}).out; }

class PeerCommands : public adrvet_test::ListToolTest {
 protected:
  void SetUp() override { pack(file("list.dat"), "00:11:22:33:44:55\n3c:22:fb:12:34:56\n"); }
};

TEST_F(PeerCommands, ExportOutputReplacesTheFileAndKeepsItsMode) {
  write_file(file("accept"), "old content\n");
  ASSERT_EQ(::chmod(file("accept").c_str(), 0640), 0);
  const auto result = list_tool(
      {"export", "-k", "S", "--format", "hostapd", "--output", file("accept"), file("list.dat")});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(text_of(read_file(file("accept"))), "00:11:22:33:44:55\n3c:22:fb:12:34:56\n");
  struct stat st {};
  ASSERT_EQ(::stat(file("accept").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777U, 0640U);
}

TEST_F(PeerCommands, ExportOutputFailuresLeaveTheOldFile) {
  write_file(file("accept"), "old content\n");
  // An unusable list: nothing is written.
  write_file(file("broken.dat"), "not a list");
  auto result = list_tool({"export", "-k", "S", "--output", file("accept"), file("broken.dat")});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(text_of(read_file(file("accept"))), "old content\n");
  // A directory that does not exist.
  result = list_tool({"export", "-k", "S", "--output", file("missing/accept"), file("list.dat")});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("cannot write"), std::string::npos) << result.err;
}

TEST_F(PeerCommands, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"export", "-k", "S", "--format", "nft", "--family", "inet6", file("list.dat")},
      {"export", "-k", "S", "--format", "nft", "--table", "table", file("list.dat")},
      {"export", "-k", "S", "--format", "nft", "--name", "flush", file("list.dat")},
      {"export", "-k", "S", "--format", "ipset", "--name", "a234567890123456789012345678",
       file("list.dat")},
      {"export", "-k", "S", "--from", "nft", file("list.dat")},
      {"pack", "-k", "S", "--from", "xml", "-", file("x.dat")},
      {"pack", "-k", "S", "--output", file("y"), "-", file("x.dat")},
      {"add", "-k", "S", "--from", "bogus", file("list.dat"), "-"},
      {"remove", "-k", "S", "--from", "plain", file("list.dat"), "-"},
  };
  for (const auto& args : cases) {
    const auto result = list_tool(args);
    EXPECT_EQ(result.exit_status, 2) << args[4] << " " << args[5];
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(result.err.empty());
  }
}

TEST_F(PeerCommands, PackFromReportsInvalidLinesAndWritesNothing) {
  write_file(file("hosts.conf"),
             "# lab\n"
             "dhcp-host=00:11:22:33:44:55,laptop,192.168.1.5\n"
             "dhcp-host=00:11:22:33:44:66,ignore\n"
             "dhcp-range=192.168.1.10,192.168.1.50\n");
  const auto result =
      list_tool({"pack", "-k", "S", "--from", "dnsmasq", file("hosts.conf"), file("new.dat")});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find(file("hosts.conf") + ":3: an 'ignore' entry keeps the host out: "
                                                 "'dhcp-host=00:11:22:33:44:66,ignore'"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find(file("hosts.conf") + ": 1 line skipped (not dhcp-host= lines)"),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(adrvet_test::file_exists(file("new.dat")));
}

// A whole dnsmasq configuration: its dhcp-host= lines are the list, the
// other directives are counted; the file's own removals are told too.
TEST_F(PeerCommands, PackFromTakesWholePeerFiles) {
  write_file(file("dnsmasq.conf"),
             "domain=lan\ndhcp-range=192.168.1.10,192.168.1.50,12h\n"
             "dhcp-host=01-00:11:22:33:44:55,laptop # desk\n");
  const auto conf =
      list_tool({"pack", "-k", "S", "--from", "dnsmasq", file("dnsmasq.conf"), file("conf.dat")});
  EXPECT_EQ(conf.exit_status, 0) << conf.err;
  EXPECT_NE(conf.err.find(": 2 lines skipped (not dhcp-host= lines)"), std::string::npos)
      << conf.err;
  EXPECT_EQ(unpack(file("conf.dat")), "00:11:22:33:44:55\n");

  write_file(file("accept"), "00:11:22:33:44:55\n3c:22:fb:12:34:56 # lab\n-00:11:22:33:44:55\n");
  const auto accept =
      list_tool({"pack", "-k", "S", "--from", "hostapd", file("accept"), file("accept.dat")});
  EXPECT_EQ(accept.exit_status, 0) << accept.err;
  EXPECT_NE(accept.err.find("removals applied in order (1 removal, 0 flushes)"), std::string::npos)
      << accept.err;
  EXPECT_EQ(unpack(file("accept.dat")), "3c:22:fb:12:34:56\n");
}

TEST_F(PeerCommands, AddFromReadsFilesAndStandardInput) {
  write_file(file("accept"), "# hostapd\n0a:00:00:00:00:01 10\n");
  const auto result =
      list_tool({"add", "-k", "S", "--from", "hostapd", file("list.dat"), file("accept"), "-"},
                "0a:00:00:00:00:02\n00:11:22:33:44:55 3\n");
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(unpack(file("list.dat")),
            "00:11:22:33:44:55\n0a:00:00:00:00:01\n0a:00:00:00:00:02\n3c:22:fb:12:34:56\n");
  // An invalid line changes nothing.
  const auto bad = list_tool({"add", "-k", "S", "--from", "hostapd", file("list.dat"), "-"},
                             "0a:00:00:00:00:03\n0a:00:00:00:00:04 guests\n");
  EXPECT_EQ(bad.exit_status, 1);
  EXPECT_NE(bad.err.find("-:2: not a VLAN ID after the address"), std::string::npos) << bad.err;
  EXPECT_EQ(unpack(file("list.dat")).find("0a:00:00:00:00:03"), std::string::npos);
}

// export, pack --from: the same list, for random lists in every format.
TEST_F(PeerCommands, RoundTripThroughTheCommands) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  const char* formats[] = {"plain", "hostapd", "dnsmasq",   "dnsmasq-hosts",
                           "ipset", "nft",     "freeradius"};
  const int rounds = adrvet_test::wrapped_run() ? 1 : 3;  // valgrind: one round is enough
  for (int round = 0; round < rounds; ++round) {
    std::string plain;
    // Never zero: pack refuses an empty list, and that is not what this tests.
    const std::size_t count = round == 0 ? 1 : 1 + rng() % 200;
    for (std::size_t i = 0; i < count; ++i) {
      // Unicast and global, and never all-zero: ipset leaves that one out.
      const std::uint64_t value = ((rng() & 0xFFFFFFFFFFFFULL) & ~(3ULL << 40U)) | 1U;
      plain += adrvet_test::colon_address(value) + "\n";
    }
    const auto source = list_tool({"pack", "-k", "S", "-", file("r.dat")}, plain);
    ASSERT_EQ(source.exit_status, 0) << "seed " << seed << ": " << source.err;
    for (const char* format : formats) {
      const auto exported = list_tool(
          {"export", "-k", "S", "--format", format, "--output", file("r.export"), file("r.dat")});
      ASSERT_EQ(exported.exit_status, 0) << exported.err;
      const auto packed =
          list_tool({"pack", "-k", "S", "--from", format, file("r.export"), file("back.dat")});
      ASSERT_EQ(packed.exit_status, 0) << "seed " << seed << " " << format << ": " << packed.err;
      const auto diff = list_tool({"diff", "-k", "S", file("r.dat"), file("back.dat")});
      EXPECT_EQ(diff.exit_status, 0) << "seed " << seed << " " << format << ": " << diff.out;
    }
  }
}

}  // namespace
