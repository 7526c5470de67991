// check: many lookups in one run, each answered exactly as ADRVET would.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "common/json.h"
#include "common/messages.h"
#include "common/text_excerpt.h"
#include "crypto/key_versions.h"
#include "formats/text.h"
#include "input/line_reader.h"
#include "mac/hex2int.h"
#include "mac/list_check.h"
#include "mac/mac_text.h"
#include "mac/macfunc.h"
#include "mac/result_code.h"
#include "store/list_store.h"
#include "store/list_stream.h"

namespace adrvet_list {
namespace {

constexpr char kUsage[] =
    "Usage: adrvet-list check -k S|U [--json] LIST [MAC...]\n"
    "\n"
    "Looks up each MAC, or each line of standard input when no MAC is given, with\n"
    "ADRVET's rules, and prints the address as given, a tab, and ADRVET's result:\n"
    "1 listed, 0 not listed, -6 wrong number of digits, -7 not hex digits,\n"
    "-8 longer than ADRVET accepts (63 characters). Standard input is read as\n"
    "'pack' reads a list: blank lines and '#' comments are skipped, white space\n"
    "around an address is dropped. Exit status 0 when every line was answered; 1\n"
    "when LIST is unusable (reported as by 'verify') or standard input could not\n"
    "be read to its end. --json prints the answers as one JSON document instead.\n";

// ADRVET's answer for one address. On a list in ascending order any exact
// membership test gives the answer of ADRVET's binary search, so such a list
// is looked up through a table of where each 16-bit prefix starts (the 16
// bits below those that all entries share, since lists often hold one
// vendor's addresses): a cache miss or two instead of twenty. Any other list
// is searched as ADRVET searches it, in file order, so that an unsorted list
// gives ADRVET's answers too.
class Finder {
 public:
  explicit Finder(const Addresses& values) : values_(values) {
    if (!values.empty() && values.size() < kNoEntry &&
        std::is_sorted(values.begin(), values.end())) {
      index_prefixes();
    }
  }
  // Starts fetching what contains(value) will read, so that a batch of
  // lookups waits for memory once rather than once per lookup.
  void prefetch(std::uint64_t value) const {
    if (!starts_.empty() && value >= low_ && value <= high_) {
      const std::size_t p = prefix(value);
      if (starts_[p + 1] > starts_[p]) {  // a range often spans two lines
        __builtin_prefetch(values_.data() + starts_[p]);
        __builtin_prefetch(values_.data() + starts_[p + 1] - 1);
      }
    }
  }
  [[nodiscard]] bool contains(std::uint64_t value) const {
    if (starts_.empty()) {
      return orbitforge::mac::contains_address(values_.data(), values_.size(), value);
    }
    if (value < low_ || value > high_) {
      return false;
    }
    const std::size_t p = prefix(value);
    const std::uint64_t* first = values_.data() + starts_[p];
    const std::uint64_t* last = values_.data() + starts_[p + 1];
    if (last - first > kScanLimit) {
      return std::binary_search(first, last, value);
    }
    std::size_t below = 0;  // a short range: counted without branches to mispredict
    for (const std::uint64_t* at = first; at < last; ++at) {
      below += *at < value ? 1U : 0U;
    }
    return first + below < last && first[below] == value;
  }

 private:
  static constexpr unsigned kPrefixBits = 16;
  static constexpr std::size_t kPrefixes = std::size_t{1} << kPrefixBits;
  static constexpr std::size_t kNoEntry = std::numeric_limits<std::uint32_t>::max();
  static constexpr std::ptrdiff_t kScanLimit = 32;

  [[nodiscard]] std::size_t prefix(std::uint64_t value) const {
    return static_cast<std::size_t>(value >> shift_) & (kPrefixes - 1);
  }

  void index_prefixes() {
    low_ = values_.front();
    high_ = values_.back();
    const auto varying = static_cast<unsigned>(std::bit_width(low_ ^ high_));
    shift_ = varying > kPrefixBits ? varying - kPrefixBits : 0;
    starts_.assign(kPrefixes + 1, 0);
    for (const std::uint64_t v : values_) {
      ++starts_[prefix(v) + 1];
    }
    for (std::size_t p = 1; p <= kPrefixes; ++p) {
      starts_[p] += starts_[p - 1];
    }
  }

  const Addresses& values_;
  std::uint64_t low_ = 0;
  std::uint64_t high_ = 0;
  unsigned shift_ = 0;
  std::vector<std::uint32_t> starts_;  // entries of prefix p: [starts_[p], starts_[p + 1])
};

using orbitforge::mac::ResultCode;

// ADRVET's code for an address it would not look up, or nothing, with the
// value, when the answer is the list's. The two common notations are
// decoded straight from the input; only the others need a terminated copy.
std::optional<ResultCode> decode(std::string_view text, std::string& scratch,
                                 std::uint64_t& value) {
  if (orbitforge::mac::decode_common_notation(text, value)) {
    return std::nullopt;
  }
  scratch.assign(text);
  if (scratch.size() > orbitforge::mac::kMaxEnteredChars ||
      std::strlen(scratch.c_str()) != scratch.size()) {
    return ResultCode::bad_arguments;
  }
  return orbitforge::mac::result_of_entering(
      orbitforge::mac::decode_entered(scratch.c_str(), value));
}

// The rest of an answer's line: a tab, ADRVET's code, a line feed.
std::string_view answer_suffix(ResultCode code) {
  switch (code) {
    case ResultCode::listed:
      return "\t1\n";
    case ResultCode::not_listed:
      return "\t0\n";
    case ResultCode::bad_entered_format:
      return "\t-6\n";
    case ResultCode::bad_entered_digits:
      return "\t-7\n";
    case ResultCode::bad_arguments:
      return "\t-8\n";
    default:
      break;
  }
  return "\t-2\n";  // no other code answers an address of a usable list
}

struct Query {
  std::string shown;  // kept between batches: its room is reused
  std::uint64_t value = 0;
  std::optional<ResultCode> refused;  // the address is not looked up
};

// The input as it is echoed: safe for a terminal, and short however long
// (`cut_length`: the whole input's length when `text` is only its start).
void set_shown(Query& query, std::string_view text, std::uint64_t cut_length) {
  if (cut_length != 0 || text.size() > kExcerptLength) {
    query.shown = terminal_text(text.substr(0, kExcerptLength)) + "... (" +
                  std::to_string(std::max<std::uint64_t>(cut_length, text.size())) + " bytes)";
  } else if (needs_terminal_escape(text)) {
    query.shown = terminal_text(text);
  } else {
    query.shown.assign(text);
  }
}

// Answers go to standard output as text, or into the JSON document's results.
struct Answers {
  Output& out;
  Json* results = nullptr;
};

void answer(Answers& answers, const Query& query, const Finder& finder) {
  const ResultCode code = query.refused.value_or(
      finder.contains(query.value) ? ResultCode::listed : ResultCode::not_listed);
  if (answers.results != nullptr) {
    Json result = Json::object();
    result["input"] = std::string(query.shown);
    result["answer"] = orbitforge::mac::code_value(code);
    answers.results->push_back(std::move(result));
    return;
  }
  const std::string_view suffix = answer_suffix(code);
  answers.out.add(query.shown.data(), query.shown.size());
  answers.out.add(suffix.data(), suffix.size());
}

// Lookups in batches: all of a batch decoded and prefetched, then answered.
class Batch {
 public:
  Batch(Answers& out, const Finder& finder) : out_(out), finder_(finder) {}
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;
  ~Batch() = default;

  // `text` is what is looked up; `cut_length` the length of the whole
  // input when `text` is only its start (then it is too long for ADRVET).
  void add(std::string_view shown, std::string_view text, std::uint64_t cut_length) {
    Query& q = queries_[count_++];
    set_shown(q, shown, cut_length);
    q.refused = cut_length != 0 ? std::optional(ResultCode::bad_arguments)
                                : decode(text, scratch_, q.value);
    if (!q.refused) {
      finder_.prefetch(q.value);
    }
    if (count_ == kSize) {
      flush();
    }
  }
  void flush() {
    for (std::size_t i = 0; i < count_; ++i) {
      answer(out_, queries_[i], finder_);
    }
    count_ = 0;
  }

 private:
  static constexpr std::size_t kSize = 32;
  Answers& out_;
  const Finder& finder_;
  std::array<Query, kSize> queries_{};
  std::size_t count_ = 0;
  std::string scratch_;  // an input in an uncommon notation, terminated
};

// A line of standard input as pack reads one: '#' starts a comment, and
// white space around the address (a CR included) is no part of it.
std::string_view line_content(const InputLine& line) {
  std::string_view content = line.kept;
  content = content.substr(0, content.find('#'));
  return text::trim(content);
}

}  // namespace

const char* check_usage() { return kUsage; }

// The JSON document once every answer is in; `complete` is false when
// standard input could not be read to its end.
int finish_json(const std::string& list, Json& results, bool complete, int status) {
  Json document = json_document("check");
  document["list"] = list;
  document["results"] = std::move(results);
  document["complete"] = complete;
  return print_json(document, status);
}

namespace {

// The list's addresses, or false after saying why there are none. A list
// in the canonical layout is decoded a piece at a time: its text is never
// whole in memory, and the addresses fill memory reserved once.
bool load_values(const std::string& list_argument, int key_version, Addresses& values) {
  if (read_canonical_values(list_file_path(list_argument),
                            orbitforge::util::key_for_version(key_version), values)) {
    return true;
  }
  LoadedList list;
  if (!load_usable_list(list_argument, key_version, list)) {
    return false;
  }
  values = std::move(list.values);
  return true;
}

}  // namespace

int run_check(const Options& options) {
  Addresses values;
  if (!load_values(options.positional[0], *options.key, values)) {
    return kExitData;
  }
  const Finder finder(values);
  Output out;
  Json results = Json::array();
  Answers answers{out, options.json ? &results : nullptr};
  Batch batch(answers, finder);
  const auto finish = [&](bool complete, int status) {
    return options.json ? finish_json(options.positional[0], results, complete, status)
                        : finish_output(out, status);
  };
  if (options.positional.size() > 1) {
    for (std::size_t i = 1; i < options.positional.size(); ++i) {
      const std::string& given = options.positional[i];
      batch.add(given, given, 0);
    }
    batch.flush();
    return finish(true, kExitOk);
  }
  // Line by line: memory stays bounded whatever comes in, and the answers
  // so far are written whenever the input pauses, so that a program can
  // write an address and read its answer.
  LineReader reader(STDIN_FILENO);
  InputLine line;
  while (reader.next(line)) {
    // A line cut short is too long for ADRVET, unless its comment starts
    // within what was kept.
    const bool too_long = line.cut() && line.kept.find('#') == std::string_view::npos;
    const std::string_view content = too_long ? line.kept : line_content(line);
    if (content.empty()) {
      continue;  // blank, or only a comment
    }
    batch.add(content, content, too_long ? line.length : 0);
    if (!reader.holds_more()) {
      batch.flush();
      (void)out.flush_now();
    }
  }
  batch.flush();
  if (reader.error() != 0) {
    (void)finish(false, kExitData);
    error("check: cannot read standard input: %s", std::strerror(reader.error()));
    return kExitData;
  }
  return finish(true, kExitOk);
}

}  // namespace adrvet_list
