// Command-line plumbing shared by the adrvet-list commands: exit statuses,
// messages on standard error, option parsing and buffered standard output.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace adrvet_list {

enum ExitStatus : int {
  kExitOk = 0,
  kExitData = 1,   // invalid input, unusable list, failed verification, lists differ
  kExitUsage = 2,  // the command line itself is wrong
};

// "adrvet-list: <message>" on standard error.
[[gnu::format(printf, 1, 2)]] void error(const char* format, ...);
// "adrvet-list: warning: <message>" on standard error.
[[gnu::format(printf, 1, 2)]] void warning(const char* format, ...);

// Options a command may accept.
enum OptionFlag : unsigned {
  kOptKey = 1U << 0,         // -k, --key S|U
  kOptKeyB = 1U << 1,        // --key-b S|U
  kOptTo = 1U << 2,          // --to S|U
  kOptFormat = 1U << 3,      // --format F
  kOptName = 1U << 4,        // --name NAME
  kOptQuiet = 1U << 5,       // -q, --quiet
  kOptWait = 1U << 6,        // --wait SECONDS, for the list's lock
  kOptMode = 1U << 7,        // --mode MODE, of a new list
  kOptForce = 1U << 8,       // --force: rewrite a list that looks damaged
  kOptAllowEmpty = 1U << 9,  // --allow-empty: pack may write a list of no addresses
  // Peer formats: export's names and file, pack's and add's input format.
  kOptTable = 1U << 16,   // --table TABLE
  kOptFamily = 1U << 17,  // --family FAMILY
  kOptOutput = 1U << 18,  // --output FILE
  kOptFrom = 1U << 19,    // --from FORMAT
  kWriterOptions = kOptWait | kOptMode,
};

struct Options {
  std::optional<int> key;  // key versions: 1 for S, 2 for U
  std::optional<int> key_b;
  std::optional<int> to;
  std::optional<std::string> format;
  std::optional<std::string> name;
  bool quiet = false;
  bool help = false;
  std::optional<std::chrono::milliseconds> wait;
  std::optional<unsigned> mode;
  bool force = false;
  bool allow_empty = false;
  std::optional<std::string> table;  // peer formats
  std::optional<std::string> family;
  std::optional<std::string> output;
  std::optional<std::string> from;
  std::vector<std::string> positional;
};

// Parses argv[1..] of a command. Refuses options the command does not take,
// options given twice, and bad key versions, with a message; then nullopt.
std::optional<Options> parse_options(int argc, char* argv[], unsigned allowed, const char* command);

// What a command accepts.
struct CommandSpec {
  const char* name;
  const char* usage;  // the --help text
  unsigned options;   // OptionFlag bits
  std::size_t min_arguments;
  std::size_t max_arguments;
};

// Parses a command's options and counts its arguments. When it gives
// nullopt the command is over and exits with `status`: 0 after --help, 2
// after a message about a wrong command line.
std::optional<Options> start_command(int argc, char* argv[], const CommandSpec& spec, int& status);

// Standard output in large writes; every write and the final close checked.
class Output {
 public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();
  void add(const char* data, std::size_t size);
  void add(const std::string& text) { add(text.data(), text.size()); }
  void add(char c) { add(&c, 1); }
  // Writes what is left and closes standard output; false on any failure.
  bool finish();
  // The error number of the failure, once finish gave false.
  [[nodiscard]] int error() const { return error_; }

 private:
  bool flush();
  std::string buffer_;
  bool failed_ = false;
  int error_ = 0;
  bool finished_ = false;
  bool wrote_ = false;
};

// Finishes output and turns a write failure into an exit status.
int finish_output(Output& out, int status);

// Prints a command's help text on standard output; exit status 0.
int show_help(const char* text);

// Reads all of standard input; 0, or the error number of a failed read.
int read_standard_input(std::vector<unsigned char>& data);

// Calls `visit(line)` for each line of `data`, without its line feed.
template <typename Visit>
void for_each_line(const std::vector<unsigned char>& data, Visit visit) {
  const char* at = reinterpret_cast<const char*>(data.data());
  const char* const end = at + data.size();
  while (at < end) {
    const char* newline =
        static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
    const char* line_end = newline != nullptr ? newline : end;
    visit(std::string_view(at, static_cast<std::size_t>(line_end - at)));
    at = newline != nullptr ? newline + 1 : end;
  }
}

}  // namespace adrvet_list
