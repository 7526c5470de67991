// adrvet-list's option and command tables against what users read: each
// command's --help, the bash completion (run in a real bash) and the manual
// page's synopsis must name exactly the options the table gives the command,
// and the completion must offer every command and every peer format.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/option_table.h"
#include "commands/command_table.h"
#include "formats/format_table.h"
#include "support/test_support.h"

namespace {

using Names = std::set<std::string>;

const char* const kBashCompletion = "/usr/share/bash-completion/bash_completion";
const std::string kSourceDir = ADRVET_SOURCE_DIR;

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The table's long name for "-k", "--key" or "--help"; unknown ones stay as
// typed, so that they show up in a mismatch.
std::string row_name(const std::string& typed) {
  if (typed == "-h" || typed == "--help") {
    return "help";
  }
  for (const adrvet_list::OptionRow& row : adrvet_list::option_table()) {
    if (typed == std::string("--") + row.long_name ||
        (row.short_name != 0 && typed == std::string("-") + row.short_name)) {
      return row.long_name;
    }
  }
  return typed;
}

Names table_options(const std::string& command) {
  Names names;
  for (const adrvet_list::OptionRow& row : adrvet_list::option_table()) {
    if (adrvet_list::accepts(row, command)) {
      names.insert(row.long_name);
    }
  }
  return names;
}

Names command_names() {
  Names names;
  for (const adrvet_list::CommandRow& command : adrvet_list::command_table()) {
    names.insert(command.name);
  }
  return names;
}

// Options written in `text`: "-k", "--quiet", "--key-b", not "adrvet-list".
Names options_in(const std::string& text) {
  static const std::regex kOption(R"((?:^|[\s\[|(])(--?[a-z][a-z-]*))");
  Names names;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kOption);
       it != std::sregex_iterator(); ++it) {
    names.insert(row_name((*it)[1]));
  }
  return names;
}

std::vector<std::string> words_of(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  return words;
}

// What the completion script offers for the words typed so far, the last
// one being completed, as bash with bash-completion runs it.
std::vector<std::string> complete(const std::vector<std::string>& words) {
  std::string array;
  for (const std::string& word : words) {
    array += " '" + word + "'";
  }
  std::string line;
  for (const std::string& word : words) {
    line += (line.empty() ? "" : " ") + word;
  }
  const std::string script = std::string("source ") + kBashCompletion + " && source " + kSourceDir +
                             "/completions/adrvet-list && COMP_WORDS=(" + array +
                             ") && COMP_CWORD=" + std::to_string(words.size() - 1) +
                             " && COMP_LINE='" + line +
                             "' && COMP_POINT=${#COMP_LINE} && _adrvet_list && "
                             "printf '%s\\n' \"${COMPREPLY[@]}\"";
  const auto result = adrvet_test::run_process("/bin/bash", {"--norc", "-c", script});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return words_of(result.out);
}

// The manual page's synopsis, one entry per ".br"-separated block, by command.
std::multimap<std::string, std::string> man_synopsis() {
  std::string page = read_text(kSourceDir + "/docs/man/adrvet-list.1");
  const std::size_t start = page.find(".SH SYNOPSIS\n");
  const std::size_t end = page.find("\n.SH ", start + 1);
  std::string synopsis = page.substr(start, end - start);
  synopsis = std::regex_replace(synopsis, std::regex(R"(\\-)"), "-");
  std::multimap<std::string, std::string> blocks;
  std::istringstream in(synopsis);
  std::string command;
  std::string block;
  for (std::string line; std::getline(in, line);) {
    std::smatch head;
    if (std::regex_match(line, head, std::regex(R"(\.B adrvet-list ([a-z]+))"))) {
      command = head[1];
      block.clear();
    } else if (line == ".br") {
      if (!command.empty()) {
        blocks.emplace(command, block);
      }
      command.clear();
    } else {
      block += line + "\n";
    }
  }
  return blocks;
}

TEST(OptionTable, RowsAreWellFormed) {
  const Names commands = command_names();
  Names long_names;
  std::set<char> short_names;
  for (const adrvet_list::OptionRow& row : adrvet_list::option_table()) {
    EXPECT_TRUE(long_names.insert(row.long_name).second) << "--" << row.long_name << " twice";
    EXPECT_NE(std::string(row.long_name), "help") << "--help belongs to every command already";
    if (row.short_name != 0) {
      EXPECT_TRUE(short_names.insert(row.short_name).second) << "-" << row.short_name;
      EXPECT_NE(row.short_name, 'h');
    }
    for (const std::string& command : words_of(std::string(row.commands))) {
      EXPECT_EQ(commands.count(command), 1U) << "--" << row.long_name << " names " << command;
    }
    EXPECT_FALSE(row.commands.empty()) << "--" << row.long_name;
  }
}

TEST(OptionTable, EveryCommandsHelpNamesItsOptions) {
  for (const adrvet_list::CommandRow& command : adrvet_list::command_table()) {
    const auto result = adrvet_test::run_list_tool({command.name, "--help"});
    ASSERT_EQ(result.exit_status, 0) << command.name;
    // The usage lines: up to the first empty line.
    const std::string usage = result.out.substr(0, result.out.find("\n\n"));
    EXPECT_EQ(options_in(usage), table_options(command.name)) << usage;
  }
}

TEST(OptionTable, TheManualPageSynopsisNamesEachCommandsOptions) {
  const auto synopsis = man_synopsis();
  for (const adrvet_list::CommandRow& command : adrvet_list::command_table()) {
    Names written;
    const auto [first, last] = synopsis.equal_range(command.name);
    EXPECT_NE(first, last) << command.name << " has no synopsis";
    for (auto it = first; it != last; ++it) {
      const Names some = options_in(it->second);
      written.insert(some.begin(), some.end());
    }
    EXPECT_EQ(written, table_options(command.name)) << command.name;
  }
  for (const auto& [command, block] : synopsis) {
    EXPECT_EQ(command_names().count(command), 1U) << "the page's synopsis has " << command;
  }
}

// --wait's seconds, read in integers: the cases a careless decimal parser
// gets wrong (rounding, the bound, stray characters, huge digit strings).
TEST(OptionValues, WaitSecondsToTheMillisecond) {
  struct Case {
    const char* text;
    long long milliseconds;  // -1: refused
  };
  const Case cases[] = {
      {"0", 0},
      {"10", 10000},
      {"2.5", 2500},
      {".5", 500},
      {"5.", 5000},
      {"0.001", 1},
      {"0.0005", 1},  // half rounds up
      {"0.00049", 0},
      {"0.9995", 1000},
      {"1.23456789", 1235},
      {"00000000000000000000007", 7000},
      {"86400", 86400000},
      {"86400.000", 86400000},
      {"86399.9999", 86400000},
      {"86400.0001", -1},
      {"86401", -1},
      {"99999999999999999999999999", -1},
      {"", -1},
      {".", -1},
      {"1.2.3", -1},
      {"-1", -1},
      {"+1", -1},
      {"1e3", -1},
      {" 1", -1},
      {"1 ", -1},
      {"0x10", -1},
  };
  for (const Case& c : cases) {
    const auto parsed = adrvet_list::parse_wait(c.text);
    if (c.milliseconds < 0) {
      EXPECT_FALSE(parsed.has_value()) << "'" << c.text << "'";
    } else {
      ASSERT_TRUE(parsed.has_value()) << "'" << c.text << "'";
      EXPECT_EQ(parsed->count(), c.milliseconds) << "'" << c.text << "'";
    }
  }
}

class Completion : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!adrvet_test::file_exists(kBashCompletion)) {
      GTEST_SKIP() << kBashCompletion << " is missing (Debian package bash-completion)";
    }
  }
};

TEST_F(Completion, OffersEveryCommand) {
  Names offered;
  for (const std::string& word : complete({"adrvet-list", ""})) {
    offered.insert(word);
  }
  Names expected = command_names();
  expected.insert({"--help", "--version"});
  EXPECT_EQ(offered, expected);
}

TEST_F(Completion, OffersEachCommandsOptions) {
  for (const adrvet_list::CommandRow& command : adrvet_list::command_table()) {
    Names offered;
    for (const std::string& word : complete({"adrvet-list", command.name, "-"})) {
      offered.insert(row_name(word));
    }
    Names expected = table_options(command.name);
    expected.insert("help");
    EXPECT_EQ(offered, expected) << command.name;
  }
}

TEST_F(Completion, OffersEveryPeerFormat) {
  Names formats;
  for (const adrvet_list::PeerFormat& format : adrvet_list::peer_formats()) {
    formats.insert(std::string(format.name));
  }
  const std::vector<std::string> written = complete({"adrvet-list", "export", "--format", ""});
  EXPECT_EQ(Names(written.begin(), written.end()), formats);
  // Imports read spreadsheets too.
  formats.insert("csv");
  const std::vector<std::string> read = complete({"adrvet-list", "pack", "--from", ""});
  EXPECT_EQ(Names(read.begin(), read.end()), formats);
}

}  // namespace
