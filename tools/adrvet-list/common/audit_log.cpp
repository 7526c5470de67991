#include "common/audit_log.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "common/addresses.h"
#include "common/messages.h"

namespace adrvet_list {
namespace {

// "text" with quotes, backslashes, control bytes and bytes above 0x7e as \xHH.
std::string quoted(const std::string& text) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      out += "\\x";
      out += kHex[c >> 4U];
      out += kHex[c & 0xFU];
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string who() {
  std::string text = " uid=" + std::to_string(::getuid());
  if (const char* sudo_user = std::getenv("SUDO_USER")) {
    text += " sudo_user=" + quoted(sudo_user);
  }
  return text;
}

void append_addresses(std::string& text, const char* name, const AuditedAddresses& values) {
  text += ' ';
  text += name;
  text += '=';
  text += std::to_string(values.total);
  if (values.total == 0) {
    return;
  }
  text += " (";
  for (std::size_t i = 0; i < values.first.size(); ++i) {
    text += (i == 0 ? "" : " ") + colon_text(values.first[i]);
  }
  if (values.total > values.first.size()) {
    text += " and " + std::to_string(values.total - values.first.size()) + " more";
  }
  text += ')';
}

void log_line(int priority, const std::string& text) {
  ::openlog("adrvet-list", LOG_PID, LOG_AUTHPRIV);
  ::syslog(priority, "%s", text.c_str());
  ::closelog();
}

}  // namespace

std::string audit_success_text(const char* action, const std::string& list,
                               const AuditCounts& counts) {
  std::string text = std::string(action) + " list=" + quoted(list);
  append_addresses(text, "added", counts.added);
  append_addresses(text, "removed", counts.removed);
  append_addresses(text, "updated", counts.updated);
  text += " count=" + std::to_string(counts.count);
  return text + who();
}

std::string audit_failure_text(const char* action, const std::string& list,
                               const std::string& reason) {
  return std::string(action) + " list=" + quoted(list) + " failed reason=" + quoted(reason) + who();
}

AuditedChange::AuditedChange(const char* action, std::string list)
    : action_(action), list_(std::move(list)) {}

void AuditedChange::succeeded(AuditCounts counts) {
  counts_ = std::move(counts);
  done_ = true;
}

AuditedChange::~AuditedChange() {
  if (cancelled_) {
    return;
  }
  if (done_) {
    log_line(LOG_NOTICE, audit_success_text(action_, list_, counts_));
  } else {
    const std::string& reason = last_error();
    log_line(LOG_WARNING, audit_failure_text(action_, list_, reason.empty() ? "stopped" : reason));
  }
}

}  // namespace adrvet_list
