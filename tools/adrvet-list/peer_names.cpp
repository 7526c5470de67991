#include "peer_names.h"

#include <algorithm>
#include <array>

namespace adrvet_list {
namespace {

// Every word nft 1.0.6 refuses as a table or set name, found by loading each
// word of its manual page, its examples and its parser's token names in
// both places.
constexpr std::array<std::string_view, 145> kNftKeywords = {
    "accept",    "add",      "ah",         "all",      "and",         "arp",      "auto-merge",
    "bridge",    "cgroup",   "chain",      "comment",  "comp",        "constant", "continue",
    "counter",   "cpu",      "create",     "ct",       "day",         "dccp",     "define",
    "delete",    "describe", "device",     "devices",  "dnat",        "drop",     "dst",
    "dup",       "dynamic",  "ecn",        "element",  "elements",    "esp",      "ether",
    "exists",    "expires",  "export",     "exthdr",   "fib",         "flags",    "flow",
    "flowtable", "flush",    "frag",       "fwd",      "gc-interval", "get",      "goto",
    "handle",    "hbh",      "hook",       "hour",     "ibriport",    "ibrname",  "icmp",
    "icmpv6",    "igmp",     "iif",        "iifgroup", "iifname",     "iiftype",  "import",
    "include",   "index",    "inet",       "insert",   "interval",    "ip",       "ip6",
    "ipsec",     "jhash",    "jump",       "limit",    "list",        "log",      "lt",
    "map",       "mark",     "masquerade", "meta",     "meter",       "mh",       "missing",
    "monitor",   "netdev",   "nftrace",    "not",      "notrack",     "numgen",   "obriport",
    "obrname",   "offload",  "oif",        "oifgroup", "oifname",     "oiftype",  "or",
    "osf",       "pkttype",  "policy",     "position", "priority",    "queue",    "quota",
    "random",    "redefine", "redirect",   "reject",   "rename",      "replace",  "reset",
    "return",    "rt",       "rt0",        "rt2",      "rtclassid",   "rule",     "ruleset",
    "sctp",      "secmark",  "set",        "size",     "skgid",       "skuid",    "snat",
    "socket",    "srh",      "symhash",    "synproxy", "table",       "tcp",      "th",
    "time",      "timeout",  "tproxy",     "type",     "typeof",      "udp",      "udplite",
    "undefine",  "update",   "vlan",       "vmap",     "xt"};

constexpr bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Letters, digits, '_', '-', '.', starting with a letter or '_'.
const char* identifier_problem(std::string_view name, std::size_t max_size) {
  if (name.empty()) {
    return "an empty name";
  }
  if (name.size() > max_size) {
    return "too long";
  }
  if (!is_letter(name[0]) && name[0] != '_') {
    return "does not start with a letter or '_'";
  }
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return is_letter(c) || is_digit(c) || c == '_' || c == '-' || c == '.';
  });
  return plain ? nullptr : "holds a character other than letters, digits, '_', '-', '.'";
}

}  // namespace

const char* nft_name_problem(std::string_view name) {
  constexpr std::size_t kMaxNftName = 31;
  if (const char* problem = identifier_problem(name, kMaxNftName)) {
    return problem;
  }
  if (std::find(kNftKeywords.begin(), kNftKeywords.end(), name) != kNftKeywords.end()) {
    return "an nft keyword, which nft does not take as a name";
  }
  return nullptr;
}

const char* ipset_name_problem(std::string_view name) {
  constexpr std::size_t kMaxIpsetName = 31;  // IPSET_MAXNAMELEN less its terminating zero
  return identifier_problem(name, kMaxIpsetName - kIpsetTemporarySuffix.size());
}

}  // namespace adrvet_list
