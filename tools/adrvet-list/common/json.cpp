#include "common/json.h"

#include <ctime>

#include "cli/output.h"
#include "mac/mac_text.h"

namespace adrvet_list {

Json json_document(std::string_view command) {
  Json document = Json::object();
  document["schema_version"] = kJsonSchemaVersion;
  document["command"] = command;
  return document;
}

Json json_address(std::uint64_t value) {
  char text[orbitforge::mac::kFormattedSize];
  orbitforge::mac::format_address(value, ':', text);
  return std::string(text, orbitforge::mac::kFormattedSize - 1);
}

Json json_addresses(const Addresses& values) {
  Json array = Json::array();
  for (const std::uint64_t value : values) {
    array.push_back(json_address(value));
  }
  return array;
}

Json json_time(std::optional<std::int64_t> seconds) {
  if (!seconds) {
    return nullptr;
  }
  const auto time = static_cast<std::time_t>(*seconds);
  std::tm parts{};
  char text[32];
  if (::gmtime_r(&time, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
    return nullptr;
  }
  return std::string(text);
}

Json json_text(const std::optional<std::string>& text) {
  if (!text) {
    return nullptr;
  }
  return *text;
}

Json change_summary_json(std::string_view command, const ChangeSummary& summary) {
  Json document = json_document(command);
  document["list"] = summary.list;
  document["dry_run"] = summary.dry_run;
  document["created"] = summary.created;
  document["added"] = json_addresses(summary.added);
  document["removed"] = json_addresses(summary.removed);
  document["updated"] = json_addresses(summary.updated);
  document["unchanged"] = json_addresses(summary.unchanged);
  document["count"] = summary.count;
  return document;
}

int print_json(const Json& document, int status) {
  Output out;
  out.add(document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
  out.add('\n');
  return finish_output(out, status);
}

}  // namespace adrvet_list
