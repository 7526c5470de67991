# Shared by the peer tests: results, a scratch directory cleaned on exit,
# network namespaces that go with it, and random lists with a seed.
# Sourced by each tests/peers/*.sh; ADRVET_LIST names the adrvet-list binary.
set -uo pipefail

: "${ADRVET_LIST:?ADRVET_LIST must name the adrvet-list binary}"
: "${PEER_RESULTS:=/dev/null}"
config_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/config" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/adrvet-peer.XXXXXX")
log=$work/log
cleanups=()
at_exit() { cleanups+=("$1"); }
run_cleanups() {
  local i
  for ((i = ${#cleanups[@]} - 1; i >= 0; i--)); do eval "${cleanups[i]}" >/dev/null 2>&1; done
  if [ "${failed:-0}" -ne 0 ] && [ -s "$log" ]; then
    echo "  --- log of the failed run (last 40 lines) ---"
    tail -n 40 "$log" | sed 's/^/  | /'
  fi
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap run_cleanups EXIT
trap 'exit 1' INT TERM

failed=0
pass() { echo "  ok    $*"; echo pass >>"$PEER_RESULTS"; }
fail() { echo "  FAIL  $*"; echo fail >>"$PEER_RESULTS"; failed=1; }
skip() { echo "  SKIP  $*"; echo skip >>"$PEER_RESULTS"; }

# expect DESCRIPTION COMMAND...: passes when the command succeeds.
expect() {
  local what=$1
  shift
  echo "+ $*" >>"$log"
  if "$@" >>"$log" 2>&1; then pass "$what"; else fail "$what"; fi
}

# expect_not DESCRIPTION COMMAND...: passes when the command fails.
expect_not() {
  local what=$1
  shift
  echo "+ (must fail) $*" >>"$log"
  if "$@" >>"$log" 2>&1; then fail "$what"; else pass "$what"; fi
}

list() { "$ADRVET_LIST" "$@" 2>>"$log"; }

# new_netns VAR PURPOSE: a network namespace of the test's own, its name
# in VAR; deleted on exit with whatever still runs in it. (Not called in a
# $(...) subshell, which would lose the cleanup.)
new_netns() {
  local name=adrvet-$2-$$
  ip netns add "$name" || return 1
  at_exit "ip netns pids $name | xargs -r kill -9; ip netns delete $name"
  ip -n "$name" link set lo up
  printf -v "$1" '%s' "$name"
}

# Why network namespaces cannot be made here, or nothing.
netns_problem() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "network namespaces need root"
  elif ! ip netns add "adrvet-probe-$$" 2>/dev/null; then
    echo "ip netns add fails (no CAP_SYS_ADMIN or no namespace support)"
  else
    ip netns delete "adrvet-probe-$$"
  fi
}

# The seed of the random lists: ADRVET_PEER_SEED replays a run.
seed=${ADRVET_PEER_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
echo "  seed $seed (ADRVET_PEER_SEED=$seed replays)"

# random_macs COUNT [SALT]: distinct unicast, globally administered
# addresses, one per line, from the seed.
random_macs() {
  awk -v n="$1" -v s="$((seed + ${2:-0}))" 'BEGIN {
    srand(s)
    while (made < n) {
      first = int(rand() * 64) * 4
      text = sprintf("%02x", first)
      for (i = 0; i < 5; i++) text = text sprintf(":%02x", int(rand() * 256))
      if (!(text in seen)) { seen[text] = 1; print text; made++ }
    }
  }'
}

# wait_for FILE PATTERN SECONDS: true once FILE holds PATTERN.
wait_for() {
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# eventually SECONDS COMMAND...: true once the command succeeds, trying for
# about SECONDS (a peer applies a reload in its own time).
eventually() {
  local i tries=$(($1 * 10))
  shift
  for ((i = 0; i < tries; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# The sync tests: a list directory DIR of its own, fed from a file of
# addresses, with the targets file the test writes on standard input.
#   new_synced_list DIR MACS_FILE; write_targets DIR <<CONF ... CONF
new_synced_list() {
  mkdir -p "$1" && "$ADRVET_LIST" pack -k S --quiet "$2" "$1" 2>>"$log"
}
write_targets() {
  cat >"$1/targets.conf" && chmod 0644 "$1/targets.conf"
}

# run_json JSON_FILE COMMAND...: runs a command that prints one JSON
# document (adrvet-list ... --json), keeps it in JSON_FILE and has python's
# json parse it; gives the command's exit status, or 99 for invalid JSON.
run_json() {
  local out=$1 status=0
  shift
  echo "+ $*" >>"$log"
  "$@" >"$out" 2>>"$log" || status=$?
  cat "$out" >>"$log"
  python3 -m json.tool "$out" >/dev/null 2>>"$log" || return 99
  return "$status"
}

# exits_with STATUS COMMAND...: true when the command exits with STATUS.
exits_with() {
  local want=$1 status=0
  shift
  "$@" || status=$?
  [ "$status" -eq "$want" ]
}

# json_field FILE EXPRESSION: a value of a JSON document, e.g.
# json_field out.json 'd["targets"][0]["state"]'.
json_field() {
  python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' "$1" "$2"
}

# expect_state DESCRIPTION JSON_FILE TARGET_INDEX STATE
expect_state() {
  expect "$1" test "$(json_field "$2" "d['targets'][$3]['state']")" = "$4"
}

# same_addresses LIST LIST: the two lists hold the same addresses, whatever
# their order, labels or expiries.
same_addresses() {
  diff <("$ADRVET_LIST" unpack -k S "$1" | sort) <("$ADRVET_LIST" unpack -k S "$2" | sort)
}

# label_hostile LIST UNLISTED MAC...: gives the listed MACs labels that try
# to leave their place in every export (a closed quote or brace, a line
# continuation, a directive, UNLISTED as an entry, an over-long text), so
# that a peer's checks of what it admits also prove the labels stay comments.
label_hostile() {
  local list_file=$1 unlisted=$2
  shift 2
  local labels=(
    "\" } ; add element inet adrvet adrvet { $unlisted } # \\"
    "dhcp-host=$unlisted,set:known \\"
    "$unlisted"
    "DEFAULT Auth-Type := Accept"
    "\$INCLUDE /etc/passwd"
    "$(printf '\xc3\xa9%.0s' {1..127})x"
  )
  local i=0 mac
  for mac in "$@"; do
    list add -k S --quiet --label "${labels[i % ${#labels[@]}]}" "$list_file" "$mac" || return 1
    i=$((i + 1))
  done
}
