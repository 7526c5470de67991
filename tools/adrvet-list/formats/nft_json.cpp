#include "formats/nft_json.h"

#include <algorithm>
#include <array>
#include <utility>

#include "formats/address_parser.h"
#include "formats/text.h"

namespace adrvet_list::peers {
namespace {

using Json = nlohmann::json;

// nft's own output nests a handful of levels; far deeper is no nft output,
// and is refused before the parser sees it.
constexpr std::size_t kMaxDepth = 32;

constexpr const char* kNotAnElement = "not an element nft lists for a set of addresses";

// The keys of an 'nft -j -f' file's commands, which are not what nft lists.
constexpr std::array<std::string_view, 10> kCommands = {
    "add", "create", "insert", "delete", "destroy", "flush", "replace", "reset", "rename", "list"};

bool is_command(std::string_view key) {
  return std::ranges::any_of(kCommands, [key](std::string_view command) { return key == command; });
}

const std::string* string_member(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? &found->get_ref<const std::string&>()
                                                     : nullptr;
}

constexpr const char* kNotSeconds = "a timeout that is not a number of seconds";

// A timeout or time left as nft -j lists it: whole seconds, at most a
// hundred years (as the text reader takes); -1 for anything else.
std::int64_t seconds_of(const Json& value) {
  constexpr std::int64_t kLimit = std::int64_t{100} * 366 * 86400;
  if (!value.is_number_integer()) {
    return -1;
  }
  if (value.is_number_unsigned()) {
    const auto seconds = value.get<std::uint64_t>();
    return seconds <= static_cast<std::uint64_t>(kLimit) ? static_cast<std::int64_t>(seconds) : -1;
  }
  const auto seconds = value.get<std::int64_t>();
  return seconds >= 0 && seconds <= kLimit ? seconds : -1;
}

// The comment and the seconds left of an annotated element: "expires"
// (what is left) beats "timeout" (what it was given).
void take_notes(const Json& annotated, NftJsonElement& element) {
  if (const auto comment = annotated.find("comment"); comment != annotated.end()) {
    if (!comment->is_string()) {
      element.problem = "a comment that is not a string";
      return;
    }
    element.comment = comment->get_ref<const std::string&>();
  }
  for (const char* key : {"expires", "timeout"}) {
    if (const auto found = annotated.find(key); found != annotated.end()) {
      element.seconds_left = seconds_of(*found);
      if (element.seconds_left < 0) {
        element.problem = kNotSeconds;
      }
      return;
    }
  }
}

// {"elem": {"val": ..., "timeout": ..., "comment": ...}}: the value with
// what nft keeps beside it.
void classify_annotated(const Json& annotated, NftJsonElement& element) {
  const auto value = annotated.find("val");
  if (!annotated.is_object() || value == annotated.end()) {
    element.problem = kNotAnElement;
    return;
  }
  if (value->is_string()) {
    take_notes(annotated, element);
    element.address = value->get_ref<const std::string&>();
  } else if (value->is_object() && (value->contains("range") || value->contains("prefix"))) {
    element.problem = "a range stands for many addresses";
  } else {
    element.problem = kNotAnElement;
  }
}

// A lone address, an annotated one, or something no set of addresses holds
// for good (a range, a concatenation).
void classify(const Json& item, NftJsonElement& element) {
  if (item.is_string()) {
    element.address = item.get_ref<const std::string&>();
  } else if (item.is_object() && item.size() == 1 && item.contains("elem")) {
    classify_annotated(item.at("elem"), element);
  } else if (item.is_object() && (item.contains("range") || item.contains("prefix"))) {
    element.problem = "a range stands for many addresses";
  } else {
    element.problem = kNotAnElement;
  }
  if (element.problem == nullptr) {
    const ParsedLine parsed = parse_list_line(element.address);
    if (parsed.kind != ParsedLine::Kind::address) {
      element.problem = parsed.kind == ParsedLine::Kind::blank ? "no address" : parsed.reason;
    }
  }
}

}  // namespace

void NftJsonInput::take(std::string_view line, NftJsonSink& sink) {
  kept_.clear();
  parsed_ = nullptr;
  if (!broken_) {
    scan(line, sink);
  }
}

// Follows the brackets outside strings, so that the document is parsed once,
// when its last bracket closes.
void NftJsonInput::scan(std::string_view line, NftJsonSink& sink) {
  std::size_t start = 0;  // where the document's text on this line begins
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (in_string_) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        in_string_ = false;
      }
      continue;
    }
    if (depth_ == 0) {
      if (text::is_blank(c)) {
        continue;
      }
      if (c != '{') {
        sink.json_invalid(line.substr(i), "text after the JSON document nft printed");
        broken_ = true;
        return;
      }
      start = i;
    }
    if (c == '"') {
      in_string_ = true;
    } else if (c == '{' || c == '[') {
      if (++depth_ > kMaxDepth) {
        sink.json_invalid(line.substr(i), "JSON nested far deeper than nft's output");
        broken_ = true;
        return;
      }
    } else if (c == '}' || c == ']') {
      if (--depth_ == 0) {
        document_.append(line.substr(start, i + 1 - start));
        read_document(sink);
        document_.clear();
      }
    }
  }
  if (depth_ > 0) {
    document_.append(line.substr(start));
    document_ += '\n';
  }
}

void NftJsonInput::read_document(NftJsonSink& sink) {
  try {
    parsed_ = Json::parse(document_);
  } catch (const Json::parse_error& failed) {
    sink.json_invalid(keep("byte " + std::to_string(failed.byte) + " of the JSON document"),
                      "not valid JSON");
    return;
  }
  const auto items = parsed_.find("nftables");
  if (!parsed_.is_object() || items == parsed_.end() || !items->is_array()) {
    constexpr std::size_t kShown = 64;
    sink.json_invalid(keep(document_.substr(0, kShown)),
                      "not 'nft -j list' output, an object with an \"nftables\" array");
    return;
  }
  for (std::size_t i = 0; i < items->size(); ++i) {
    const Json& item = items->at(i);
    const std::string where = "nftables[" + std::to_string(i) + "]";
    if (!item.is_object() || item.size() != 1) {
      sink.json_invalid(keep(where), "not an nft object, which has one key such as \"set\"");
      continue;
    }
    const std::string& key = item.begin().key();
    if (key == "set") {
      read_set(item.begin().value(), i, sink);
    } else if (is_command(key)) {
      sink.json_invalid(keep(std::string(where).append(".").append(key)),
                        "a command of an 'nft -j -f' file; what 'nft -j list ruleset' prints "
                        "is read");
    }
    // Tables, chains, rules, maps and the rest hold no set of addresses.
  }
}

void NftJsonInput::read_set(const Json& set, std::size_t item, NftJsonSink& sink) {
  const std::string where = "nftables[" + std::to_string(item) + "].set";
  const std::string* family = set.is_object() ? string_member(set, "family") : nullptr;
  const std::string* table = set.is_object() ? string_member(set, "table") : nullptr;
  const std::string* name = set.is_object() ? string_member(set, "name") : nullptr;
  if (family == nullptr || table == nullptr || name == nullptr) {
    sink.json_invalid(keep(where), R"(a set without the strings "family", "table" and "name")");
    return;
  }
  const std::string* type = string_member(set, "type");
  NftJsonSet listed{*family + " " + *table + " " + *name, type != nullptr && *type == "ether_addr"};
  if (const auto timeout = set.find("timeout"); timeout != set.end()) {
    // The timeout each element gets unless it says otherwise.
    listed.timeout = seconds_of(*timeout);
    if (listed.timeout < 0) {
      sink.json_invalid(keep(where + ".timeout"), kNotSeconds);
      listed.timeout = ParsedLine::kForever;
    }
  }
  sink.json_set(listed);
  const auto elements = set.find("elem");
  if (elements == set.end()) {
    return;
  }
  if (!elements->is_array()) {
    sink.json_invalid(keep(where + ".elem"), "not a list of elements");
    return;
  }
  for (std::size_t index = 0; index < elements->size(); ++index) {
    NftJsonElement element;
    element.item = item;
    element.index = index;
    classify(elements->at(index), element);
    sink.json_element(listed, element);
  }
}

const char* NftJsonInput::finish() const {
  return depth_ > 0 || in_string_ ? "the input ends inside a JSON document" : nullptr;
}

std::string_view NftJsonInput::where(const NftJsonElement& element) {
  return keep("nftables[" + std::to_string(element.item) + "].set.elem[" +
              std::to_string(element.index) + "]");
}

std::string_view NftJsonInput::keep(std::string text) {
  return kept_.emplace_back(std::move(text));
}

}  // namespace adrvet_list::peers
