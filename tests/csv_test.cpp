// Spreadsheets in: the CSV reader against RFC 4180 and hostile bytes
// (every case also fed through a pipe one byte per write, so that no
// record depends on where a read ends), --columns and header rows, and
// pack and add --from csv as administrators run them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "input/csv_columns.h"
#include "input/csv_reader.h"
#include "support/list_tool_fixture.h"
#include "support/test_support.h"

namespace {

using adrvet_list::CsvReader;
using adrvet_test::list_tool;
using adrvet_test::ProcessResult;
using adrvet_test::write_file;

// Each record of the input on `fd` as "LINE:field|field" or "LINE:!problem".
std::vector<std::string> records_from(int fd) {
  CsvReader reader(fd);
  adrvet_list::CsvRecord record;
  std::vector<std::string> out;
  while (reader.next(record)) {
    std::string line = std::to_string(record.line) + ":";
    if (record.problem != nullptr) {
      line += std::string("!") + record.problem;
    } else {
      for (std::size_t i = 0; i < record.fields.size(); ++i) {
        line += (i == 0 ? "" : "|") + record.fields[i];
      }
    }
    out.push_back(line);
  }
  EXPECT_EQ(reader.error(), 0);
  return out;
}

std::vector<std::string> records_of(const std::string& text) {
  const int fd = ::memfd_create("csv", MFD_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::lseek(fd, 0, SEEK_SET);
  std::vector<std::string> records = records_from(fd);
  ::close(fd);
  return records;
}

// The same through a pipe whose writer gives one byte at a time.
std::vector<std::string> records_trickled(const std::string& text) {
  int ends[2];
  EXPECT_EQ(::pipe(ends), 0);
  std::thread writer([&text, out = ends[1]] {
    for (const char c : text) {
      if (::write(out, &c, 1) != 1) {
        break;
      }
    }
    ::close(out);
  });
  std::vector<std::string> records = records_from(ends[0]);
  writer.join();
  ::close(ends[0]);
  return records;
}

struct ReaderCase {
  std::string text;
  std::vector<std::string> records;
};

void expect_records(const std::vector<ReaderCase>& cases) {
  for (const ReaderCase& c : cases) {
    EXPECT_EQ(records_of(c.text), c.records) << c.text;
    EXPECT_EQ(records_trickled(c.text), c.records) << "one byte per read: " << c.text;
  }
}

TEST(CsvReader, Rfc4180Records) {
  expect_records({
      {"", {}},
      {"a,b,c\n1,2,3\n", {"1:a|b|c", "2:1|2|3"}},
      {"a,b\r\n1,2\r\n", {"1:a|b", "2:1|2"}},
      {"a,b\r\n1,2", {"1:a|b", "2:1|2"}},  // no line end after the last record
      {"a,b", {"1:a|b"}},
      {"a,\n,b\n", {"1:a|", "2:|b"}},
      {",,\n", {"1:||"}},
      {"\n\n", {"1:", "2:"}},
      {"\n\r\n\n", {"1:", "2:", "3:"}},
      {"\"a,b\",c\n", {"1:a,b|c"}},
      {"\"\"\n", {"1:"}},
      {"\"\"\"\"\n", {"1:\""}},
      {"\"say \"\"hi\"\"\"\n", {"1:say \"hi\""}},
      {"\"a\",\"\",\"c\"\r\n", {"1:a||c"}},
      // A record's line is where it starts; quoted line ends count.
      {"\"two\nlines\",x\nnext\n", {"1:two\nlines|x", "3:next"}},
      {"x,\"y\r\nz\"\r\nw\r\n", {"1:x|y\r\nz", "3:w"}},
      {"\"a\n\n\nb\"\nc\n", {"1:a\n\n\nb", "5:c"}},
      {"\"cr\ralone\"\n", {"1:cr\ralone"}},
      // The byte-order mark only at the very start, and only whole.
      {"\xEF\xBB\xBFmac,label\n", {"1:mac|label"}},
      {"\xEF\xBB\xBF", {}},
      {"\xEF\xBB\xBF\"q\"\n", {"1:q"}},
      {"\xEF\xBBx\n", {"1:\xEF\xBBx"}},
      {"a\n\xEF\xBB\xBF\n", {"1:a", "2:\xEF\xBB\xBF"}},
      // UTF-8 and any other byte is kept as it is.
      {"Zo\xC3\xAB,\xE2\x82\xAC\n", {"1:Zo\xC3\xAB|\xE2\x82\xAC"}},
      {std::string("n\0l,\xFF\n", 6), {std::string("1:n\0l|\xFF", 7)}},
  });
}

TEST(CsvReader, MalformedRecordsAreReportedAndTheNextOneReadAgain) {
  expect_records({
      {"\"a\"b\nok\n", {"1:!text after the closing quote of a field", "2:ok"}},
      {"\"a\" ,b\n", {"1:!text after the closing quote of a field"}},
      {"a\"b\nok\n", {"1:!a quote inside a field that does not start with one", "2:ok"}},
      {" \"a\"\n", {"1:!a quote inside a field that does not start with one"}},
      {"ok\n\"open\nmore,\n", {"1:ok", "2:!the input ends inside a quoted field"}},
      {"\"a\"\"\n", {"1:!the input ends inside a quoted field"}},
      {"a\rb\nok\n", {"1:!a carriage return outside quotes that does not end the line", "2:ok"}},
      {"a\r", {"1:!a carriage return outside quotes that does not end the line"}},
      {"a\r\rb\r\n", {"1:!a carriage return outside quotes that does not end the line"}},
  });
}

// Bounded memory: a field, a record and a count of fields past their
// limits are reported at their line, not kept; the next record is whole.
TEST(CsvReader, LimitsAreReportedNotKept) {
  const std::size_t field = CsvReader::kMaxField;
  std::string fields_1024(CsvReader::kMaxFields - 1, ',');
  std::string record_limit;
  for (std::size_t i = 0; i <= CsvReader::kMaxRecord / field; ++i) {
    record_limit += std::string(field - 1, 'r') + ",";
  }
  const std::vector<ReaderCase> cases = {
      {std::string(field, 'x') + "\nb\n", {"1:" + std::string(field, 'x'), "2:b"}},
      {"a," + std::string(field + 1, 'x') + "\nb\n", {"1:!a field longer than 64 KiB", "2:b"}},
      {"a," + std::string(3 * field, 'x') + "\nb\n", {"1:!a field longer than 64 KiB", "2:b"}},
      {"\"" + std::string(3 * field, '\n') + "\"\nb\n",
       {"1:!a field longer than 64 KiB", std::to_string(3 * field + 2) + ":b"}},
      {record_limit + "\nb\n", {"1:!a record longer than 1 MiB", "2:b"}},
      {fields_1024 + "\nb\n", {"1:" + std::string(CsvReader::kMaxFields - 1, '|'), "2:b"}},
      {fields_1024 + ",\nb\n", {"1:!more than 1024 fields", "2:b"}},
      {fields_1024 + ",,\nb\n", {"1:!more than 1024 fields", "2:b"}},
  };
  for (const ReaderCase& c : cases) {
    EXPECT_EQ(records_of(c.text), c.records) << c.text.substr(0, 40);
  }
}

// Random records written as RFC 4180 says (quoted when they must be, or
// always) read back as they were, in any chunking.
TEST(CsvReader, RandomRecordsRoundTrip) {
  const std::uint64_t seed = adrvet_test::test_seed();
  std::mt19937_64 rng(seed);
  const std::string alphabet = std::string("ab,\"\r\n \xC3\xA9\0", 10);
  for (int round = 0; round < 200; ++round) {
    std::string text;
    std::vector<std::string> expected;
    std::uint64_t line = 1;
    const bool always_quote = rng() % 2 == 0;
    const bool crlf = rng() % 2 == 0;
    for (std::uint64_t r = rng() % 6; r > 0; --r) {
      const std::size_t count = 1 + rng() % 4;
      std::string shown = std::to_string(line) + ":";
      for (std::size_t f = 0; f < count; ++f) {
        std::string value;
        for (std::uint64_t n = rng() % 6; n > 0; --n) {
          value += alphabet[rng() % alphabet.size()];
        }
        const bool quote = always_quote || value.find_first_of(",\"\r\n") != std::string::npos ||
                           (count == 1 && value.empty());
        std::string written = value;
        for (std::size_t at = written.find('"'); at != std::string::npos;
             at = written.find('"', at + 2)) {
          written.insert(at, 1, '"');
        }
        text += (f == 0 ? "" : ",") + (quote ? "\"" + written + "\"" : written);
        shown += (f == 0 ? "" : "|") + value;
        for (const char c : value) {
          line += c == '\n' ? 1 : 0;
        }
      }
      text += crlf ? "\r\n" : "\n";
      ++line;
      expected.push_back(shown);
    }
    EXPECT_EQ(records_of(text), expected) << "seed " << seed << " round " << round;
    if (round % 20 == 0) {
      EXPECT_EQ(records_trickled(text), expected) << "seed " << seed << " round " << round;
    }
  }
}

struct ColumnsCase {
  const char* spec;
  std::vector<std::string> first;  // the first record
  const char* layout;              // CsvLayout::describe(), or the problem
  bool header;
};

TEST(CsvColumns, SpecsAndHeaders) {
  const std::vector<std::string> header = {"Name", " MAC ", "Expires", "label"};
  const std::vector<ColumnsCase> cases = {
      {"mac=1", {"x"}, "mac=1", false},
      {"mac=3,label=1", {"x"}, "mac=3, label=1", false},
      {"expires=2,mac=1,label=3", {"x"}, "mac=1, label=3, expires=2", false},
      {"mac=1024", {"x"}, "mac=1024", false},
      {"mac=mac", header, "mac=2", true},
      {"mac=MAC,label=Name", header, "mac=2, label=1", true},
      {"mac=2,label=Name", header, "mac=2, label=1", true},
      {"mac=mac,expires=expires,label=label", header, "mac=2, label=4, expires=3", true},
      {"", header, "'' is not a column it reads: mac, label or expires", false},
      {"label=1", header, "the mac column is missing: mac=N or mac=NAME", false},
      {"mac", header, "mac needs a column: mac=N or mac=NAME", false},
      {"mac=", header, "mac needs a column: mac=N or mac=NAME", false},
      {"mac=1,", header, "'' is not a column it reads: mac, label or expires", false},
      {"mac=1,mac=2", header, "mac is given twice", false},
      {"mac=1,comment=2", header, "'comment' is not a column it reads: mac, label or expires",
       false},
      {"mac=0", header, "column 0 does not exist: columns count from 1 to 1024", false},
      {"mac=1025", header, "column 1025 does not exist: columns count from 1 to 1024", false},
      {"mac=99999999999999999999", header,
       "column 99999999999999999999 does not exist: columns count from 1 to 1024", false},
      {"mac=address", header, "the header row has no column 'address' (for mac)", false},
      {"mac=1,label=note", header, "the header row has no column 'note' (for label)", false},
      {"mac=a", {"a", "b", "A "}, "the header row names 'a' twice (columns 1 and 3)", false},
  };
  for (const ColumnsCase& c : cases) {
    std::string problem;
    const auto columns = adrvet_list::parse_columns(c.spec, problem);
    std::optional<adrvet_list::CsvLayout> layout;
    if (columns) {
      layout = adrvet_list::resolve_columns(*columns, c.first, problem);
    }
    EXPECT_EQ(layout ? layout->describe() : problem, c.layout) << c.spec;
    EXPECT_EQ(layout && layout->header, c.header) << c.spec;
  }
}

TEST(CsvColumns, HeaderRowsWithoutColumnsOption) {
  struct Case {
    std::vector<std::string> first;
    const char* layout;  // or the problem; "" when no header was found
  };
  const std::vector<Case> cases = {
      {{"mac"}, "mac=1"},
      {{"Label", "MAC", "whatever", "EXPIRES"}, "mac=2, label=1, expires=4"},
      {{"expires", "mac"}, "mac=2, expires=1"},
      {{"00:11:22:33:44:55", "phone"}, ""},
      {{"address", "label"}, ""},
      {{"mac", "Mac"}, "the header row names 'mac' twice (columns 1 and 2)"},
  };
  for (const Case& c : cases) {
    std::string problem;
    const auto layout = adrvet_list::layout_from_header(c.first, problem);
    EXPECT_EQ(layout ? layout->describe() : problem, c.layout);
    EXPECT_TRUE(!layout || layout->header);
  }
}

// ---- pack and add --from csv, as processes ----

std::string read_text(const std::string& path) {
  const adrvet_test::Bytes bytes = adrvet_test::read_file(path);
  return {bytes.begin(), bytes.end()};
}

class CsvImport : public adrvet_test::ListToolTest {
 protected:
  void SetUp() override {
    list_ = dir_.file("list");
    ASSERT_EQ(::mkdir(list_.c_str(), 0750), 0);
  }
  std::string csv(const std::string& text, const std::string& name = "devices.csv") {
    write_file(dir_.file(name), text);
    return dir_.file(name);
  }
  // show's lines as "address expires label" (the origin varies).
  std::vector<std::string> shown() {
    const ProcessResult result = list_tool({"show", "-k", "S", list_});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    std::vector<std::string> rows;
    std::size_t start = 0;
    while (start < result.out.size()) {
      const std::size_t end = result.out.find('\n', start);
      std::vector<std::string> fields;
      for (std::size_t at = start;;) {
        const std::size_t tab = result.out.find('\t', at);
        if (tab == std::string::npos || tab > end) {
          fields.push_back(result.out.substr(at, end - at));
          break;
        }
        fields.push_back(result.out.substr(at, tab - at));
        at = tab + 1;
      }
      rows.push_back(fields[0] + " " + fields[1] + " " + fields.back());
      start = end + 1;
    }
    return rows;
  }
  std::string list_;
};

TEST_F(CsvImport, PackKeepsLabelsAndExpiriesAsASpreadsheetWroteThem) {
  // As a spreadsheet saves it: byte-order mark, CRLF, quotes where needed,
  // a column the import does not read, a blank row at the end.
  const std::string input = csv(
      "\xEF\xBB\xBFNote,MAC,Label,Expires\r\n"
      "\"front desk, left\",00-11-22-33-44-55,\"Zo\xC3\xAB's \"\"phone\"\"\",2030-06-30\r\n"
      "x,3C:22:FB:12:34:56,\"printer, 2nd floor\",\r\n"
      "\"a note\non two lines\",aabb.ccdd.eeff,\xE6\x9D\xB1\xE4\xBA\xAC,2031-01-01T12:00:00Z\r\n"
      ",,,\r\n");
  const ProcessResult packed = list_tool({"pack", "-k", "S", "--from", "csv", "--columns",
                                          "mac=MAC,label=label,expires=4", input, list_});
  ASSERT_EQ(packed.exit_status, 0) << packed.err;
  EXPECT_EQ(shown(), (std::vector<std::string>{
                         "00:11:22:33:44:55 2030-06-30T23:59:59Z Zo\xC3\xAB's \"phone\"",
                         "3c:22:fb:12:34:56 - printer, 2nd floor",
                         "aa:bb:cc:dd:ee:ff 2031-01-01T12:00:00Z \xE6\x9D\xB1\xE4\xBA\xAC",
                     }));
  // ADRVET answers from the list as ever (1: listed).
  const ProcessResult listed =
      adrvet_test::run_process(ADRVET_BINARY, {"S", list_, "aa:bb:cc:dd:ee:ff"});
  EXPECT_EQ(listed.exit_status, 1) << listed.err;

  // Without --columns, the header row is taken, and what was chosen is said.
  const std::string again =
      csv("mac,label\n00:11:22:33:44:55,desk\n66:77:88:99:aa:bb,new\n", "again.csv");
  const ProcessResult repacked = list_tool({"pack", "-k", "S", "--from", "csv", again, list_});
  ASSERT_EQ(repacked.exit_status, 0) << repacked.err;
  EXPECT_NE(repacked.err.find(again + ": the header row names the columns: mac=1, label=2"),
            std::string::npos)
      << repacked.err;
  EXPECT_EQ(shown(), (std::vector<std::string>{
                         "00:11:22:33:44:55 2030-06-30T23:59:59Z desk",
                         "66:77:88:99:aa:bb - new",
                     }));
}

TEST_F(CsvImport, AddSetsLabelsOnListedAddressesAndSaysSo) {
  ASSERT_EQ(list_tool({"add", "-k", "S", "--create", "--label", "old", list_, "00:11:22:33:44:55",
                       "00:11:22:33:44:66"})
                .exit_status,
            0);
  const std::string first = csv("00:11:22:33:44:55,renamed\n02:00:00:00:00:01,guest\n", "a.csv");
  const std::string second = csv("mac\n00:11:22:33:44:55\n", "b.csv");
  const ProcessResult added =
      list_tool({"add", "-k", "S", "--from", "csv", "--columns", "mac=1,label=2", "--expires", "7d",
                 "--json", list_, first, "-"},
                "00:11:22:33:44:55,renamed\n");
  ASSERT_EQ(added.exit_status, 0) << added.err;
  EXPECT_NE(added.out.find("\"added\":[\"02:00:00:00:00:01\"]"), std::string::npos) << added.out;
  EXPECT_NE(added.out.find("\"updated\":[\"00:11:22:33:44:55\"]"), std::string::npos) << added.out;
  const std::vector<std::string> rows = shown();
  ASSERT_EQ(rows.size(), 3U);
  EXPECT_EQ(rows[0].substr(0, 18) + rows[0].substr(39), "00:11:22:33:44:55 renamed");
  EXPECT_EQ(rows[1], "00:11:22:33:44:66 - old");
  EXPECT_EQ(rows[2].substr(rows[2].size() - 6), " guest");
  EXPECT_NE(rows[2][18], '-');  // --expires 7d, where no column says

  // A file without a label column leaves the names as they are.
  const ProcessResult kept = list_tool({"add", "-k", "S", "--from", "csv", list_, second});
  ASSERT_EQ(kept.exit_status, 0) << kept.err;
  EXPECT_NE(kept.err.find("already present: 00:11:22:33:44:55"), std::string::npos) << kept.err;
  EXPECT_EQ(shown()[0].substr(shown()[0].size() - 8), " renamed");
}

struct BadCase {
  const char* name;
  std::string text;
  std::vector<std::string> extra;  // options
  int status;
  std::string message;  // after "FILE", as in "FILE:3: ..."
};

// Every bad input gets its place and reason, and leaves the list and its
// inventory byte for byte as they were.
TEST_F(CsvImport, BadInputChangesNothing) {
  ASSERT_EQ(list_tool({"add", "-k", "S", "--create", "--label", "kept", list_, "00:11:22:33:44:55"})
                .exit_status,
            0);
  const std::string good = "mac,label,expires\n00:11:22:33:44:66,ok,7d\n";
  const std::vector<BadCase> cases = {
      {"ragged", good + "00:11:22:33:44:77,short\n", {}, 1, ":3: 2 fields, but column 3 is read"},
      {"unterminated",
       good + "00:11:22:33:44:77,\"open,7d\nmore\n",
       {},
       1,
       ":3: the input ends inside a quoted field"},
      {"quote in field",
       good + "00:11:22:33:44:77,a\"b,7d\n",
       {},
       1,
       ":3: a quote inside a field that does not start with one"},
      {"bad address", good + "\n00:11:22:33:44,x,7d\n", {}, 1, ":4: not an address"},
      {"comment in address",
       good + "00:11:22:33:44:77 # x,x,7d\n",
       {},
       1,
       ":3: not an address: '00:11:22:33:44:77 # x'"},
      {"no address", good + ",label only,\n", {}, 1, ":3: not an address: ''"},
      {"past",
       good + "00:11:22:33:44:77,x,2001-01-01\n",
       {},
       1,
       ":3: expires: that time has passed: '2001-01-01'"},
      {"year 10000",
       good + "00:11:22:33:44:77,x,10000-01-01\n",
       {},
       1,
       ":3: expires: the year must lie between 1970 and 9999: '10000-01-01'"},
      {"zero",
       good + "00:11:22:33:44:77,x,0d\n",
       {},
       1,
       ":3: expires: a duration of zero has expired already: '0d'"},
      {"overflow",
       good + "00:11:22:33:44:77,x,99999999999999999999w\n",
       {},
       1,
       ":3: expires: the duration reaches beyond the year 9999"},
      {"invalid UTF-8", good + "00:11:22:33:44:77,caf\xC3,7d\n", {}, 1, ":3: label: "},
      {"control byte", good + "00:11:22:33:44:77,\"esc\x1b[31m\",7d\n", {}, 1, ":3: label: "},
      {"long label",
       good + "00:11:22:33:44:77," + std::string(256, 'l') + ",7d\n",
       {},
       1,
       ":3: label: "},
      {"twice",
       good + "00:11:22:33:44:88,x,7d\n00-11-22-33-44-66,other,7d\n",
       {},
       1,
       ":4: 00:11:22:33:44:66 again, with another label than on line 2"},
      {"twice expiry",
       good + "00:11:22:33:44:66,ok,8d\n",
       {},
       1,
       ":3: 00:11:22:33:44:66 again, with another expiry than on line 2"},
      {"no header",
       "00:11:22:33:44:66,x\n",
       {},
       1,
       ":1: the first row is no header naming a 'mac' column, and no --columns says which "
       "column holds what"},
      {"header with numbers",
       good,
       {"--columns", "mac=1"},
       1,
       ":1: not an address (a header row? --columns mac=NAME names the columns): 'mac'"},
      {"name not in header",
       good,
       {"--columns", "mac=mac,label=name"},
       1,
       ":1: --columns: the header row has no column 'name' (for label)"},
      {"too many fields", good + std::string(1100, ',') + "\n", {}, 1, ":3: more than 1024 fields"},
      {"bad columns",
       good,
       {"--columns", "mac=0"},
       2,
       "--columns 'mac=0': column 0 does not exist"},
      {"set name", good, {"--name", "x"}, 2, "--name, --table and --family choose a set"},
  };
  const std::string list_file = list_ + "/engine.dat";
  const std::string inventory_file = list_ + "/engine.dat.inventory";
  const std::string list_before = read_text(list_file);
  const std::string inventory_before = read_text(inventory_file);
  for (const BadCase& c : cases) {
    const std::string input = csv(c.text);
    for (const char* command : {"pack", "add"}) {
      std::vector<std::string> args = {command, "-k", "S", "--from", "csv"};
      args.insert(args.end(), c.extra.begin(), c.extra.end());
      if (std::string(command) == "pack") {
        args.insert(args.end(), {input, list_});
      } else {
        args.insert(args.end(), {list_, input});
      }
      const ProcessResult result = list_tool(args);
      EXPECT_EQ(result.exit_status, c.status) << c.name << " " << command << ": " << result.err;
      const std::string expected = c.status == 2 ? c.message : input + c.message;
      EXPECT_NE(result.err.find(expected), std::string::npos)
          << c.name << " " << command << ": " << result.err;
      EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << c.name;
      EXPECT_EQ(read_text(list_file), list_before) << c.name << " " << command;
      EXPECT_EQ(read_text(inventory_file), inventory_before) << c.name << " " << command;
    }
  }
  const ProcessResult plain =
      list_tool({"pack", "-k", "S", "--columns", "mac=1", csv(good), list_});
  EXPECT_EQ(plain.exit_status, 2);
  EXPECT_NE(plain.err.find("it goes with --from csv"), std::string::npos) << plain.err;
}

// A quoted field of a gigabyte (a sparse file): a short message with its
// line, in bounded memory, and nothing written.
TEST_F(CsvImport, AGigabyteFieldIsRefusedInBoundedMemory) {
  const std::string input = dir_.file("huge.csv");
  {
    const int fd = ::open(input.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::string head = "mac,label\n00:11:22:33:44:55,\"";
    ASSERT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    const std::string tail = "\"\n00:11:22:33:44:66,fine\n";
    const auto at = static_cast<off_t>(head.size() + (std::uint64_t{1} << 30U));
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), at), static_cast<ssize_t>(tail.size()));
    ::close(fd);
  }
  adrvet_test::ProcessOptions options;
  options.timeout_seconds = 120;
  if (!ADRVET_SANITIZED && !adrvet_test::wrapped_run()) {
    options.address_space_limit = std::uint64_t{256} << 20U;
  }
  const ProcessResult result = adrvet_test::run_process(
      ADRVET_LIST_BINARY, {"pack", "-k", "S", "--from", "csv", input, list_}, options);
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_NE(result.err.find(input + ":2: a field longer than 64 KiB"), std::string::npos)
      << result.err.substr(0, 500);
  EXPECT_LT(result.err.size(), 1000U);
  EXPECT_FALSE(adrvet_test::file_exists(list_ + "/engine.dat"));
}

}  // namespace
