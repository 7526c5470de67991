#!/usr/bin/env bash
# Runs the tests against the real peers (nftables, ipset, dnsmasq,
# FreeRADIUS, hostapd) and checks that the README shows each configuration
# snippet they use, word for word.
#   tests/peers/run.sh BIN_DIR [PEER...]     BIN_DIR holds adrvet-list
# Ends with "N passed, N failed, N skipped"; exit status 1 on any failure.
# A peer that cannot be tried here is skipped with the reason, never passed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:?usage: tests/peers/run.sh BIN_DIR [PEER...]}" && pwd)
shift
peers=("$@")
[ ${#peers[@]} -gt 0 ] || peers=(nft ipset dnsmasq freeradius hostapd)

export ADRVET_LIST=$bin/adrvet-list
export ADRVET_PEER_SEED=${ADRVET_PEER_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
PEER_RESULTS=$(mktemp)
export PEER_RESULTS
trap 'rm -f "$PEER_RESULTS"' EXIT

readme=$here/../../README.md
echo "README"
for snippet in "$here"/config/*; do
  name=${snippet#"$here"/}
  if python3 -c 'import sys; sys.exit(open(sys.argv[2]).read() not in open(sys.argv[1]).read())' \
    "$readme" "$snippet"; then
    echo "  ok    README shows tests/peers/$name as it is"
    echo pass >>"$PEER_RESULTS"
  else
    echo "  FAIL  README does not show tests/peers/$name word for word"
    echo fail >>"$PEER_RESULTS"
  fi
done

status=0
for peer in "${peers[@]}"; do
  echo "$peer"
  # Each peer gets at most five minutes; its own traps clean up.
  timeout --kill-after=10 300 bash "$here/$peer.sh" || status=1
done

passed=$(grep -c '^pass' "$PEER_RESULTS")
failed=$(grep -c '^fail' "$PEER_RESULTS")
skipped=$(grep -c '^skip' "$PEER_RESULTS")
[ "$failed" -eq 0 ] || status=1
echo "peers: $passed passed, $failed failed, $skipped skipped"
exit "$status"
