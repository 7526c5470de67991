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
