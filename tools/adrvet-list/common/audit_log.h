// The audit trail of list changes: one line per change in the system log
// (syslog(3): identifier adrvet-list, facility authpriv), so that journald
// and rsyslog both keep it. A refused or failed change logs its reason; a
// dry run logs nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/addresses.h"

namespace adrvet_list {

// The first few addresses a line names; the rest are counted.
inline constexpr std::size_t kAuditAddresses = 5;

// How many addresses, and the first few of them: all a line names, so that
// a change of millions does not copy them.
struct AuditedAddresses {
  AuditedAddresses() = default;
  AuditedAddresses(const Addresses& values)  // NOLINT(google-explicit-constructor)
      : total(values.size()),
        first(values.begin(),
              values.begin() + static_cast<std::ptrdiff_t>(std::min(total, kAuditAddresses))) {}
  std::size_t total = 0;
  Addresses first;
};

struct AuditCounts {
  AuditedAddresses added;
  AuditedAddresses removed;
  AuditedAddresses updated;  // label or expiry changed
  std::size_t count = 0;     // addresses on the list afterwards
};

// One change of one list, logged when the command ends: the counts once
// the change is made, or else the last message the command gave.
class AuditedChange {
 public:
  AuditedChange(const char* action, std::string list);
  AuditedChange(const AuditedChange&) = delete;
  AuditedChange& operator=(const AuditedChange&) = delete;
  ~AuditedChange();

  void succeeded(AuditCounts counts);
  // Nothing is logged (a dry run, or --help).
  void cancel() { cancelled_ = true; }

 private:
  const char* action_;
  std::string list_;
  AuditCounts counts_;
  bool done_ = false;
  bool cancelled_ = false;
};

// The text of a success line and of a failure line, without the syslog
// header; the parts a reader cannot trust (paths, SUDO_USER, reasons)
// escaped so that no line can pass for another.
std::string audit_success_text(const char* action, const std::string& list,
                               const AuditCounts& counts);
std::string audit_failure_text(const char* action, const std::string& list,
                               const std::string& reason);

}  // namespace adrvet_list
