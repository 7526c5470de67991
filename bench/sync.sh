#!/usr/bin/env bash
# How long `adrvet-list sync` takes with the real peers: a list of SIZE
# addresses (100,000 by default) synced to nft, dnsmasq, FreeRADIUS and
# hostapd, each running in a network namespace of the benchmark's own, with
# their own checkers and reloads; then a sync with nothing to do, and one
# after a single address was added. Per target and for all four at once;
# the median of RUNS runs (3). As root. Prints a Markdown table, then what
# FreeRADIUS's files module holds in memory for the list: after a restart,
# and after each of three HUPs that reload it.
#   bench/sync.sh [SIZE [RUNS]]
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-100000}
runs=${2:-3}

scripts/install-deps.sh nftables dnsmasq-base freeradius freeradius-utils hostapd iproute2
cmake --preset default >/dev/null
cmake --build --preset default --target adrvet-list >/dev/null
export ADRVET_LIST=$PWD/build/default/bin/adrvet-list
source tests/peers/lib.sh
source tests/peers/radiusd_conf.sh
trap 'run_cleanups' EXIT
problem=$(netns_problem)
[ -z "$problem" ] || { echo "bench/sync.sh: $problem" >&2; exit 1; }
new_netns ns sync-bench
in_ns() { ip netns exec "$ns" "$@"; }
# A veth pair inside the namespace (not every kernel has dummy links).
ip -n "$ns" link add adrvet-b0 type veth peer name adrvet-b1
ip -n "$ns" addr add 192.168.77.1/24 dev adrvet-b0
ip -n "$ns" link set adrvet-b1 up
ip -n "$ns" link set adrvet-b0 up

list=$work/list
random_macs "$size" >"$work/macs.txt"
new_synced_list "$list" "$work/macs.txt"

# dnsmasq with the README's configuration and the hosts file the sync writes.
sed "s|/etc/adrvet/|$work/|" tests/peers/config/dnsmasq.conf >"$work/dnsmasq.conf"
: >"$work/dnsmasq.hosts"
in_ns dnsmasq --conf-file="$work/dnsmasq.conf" --interface=adrvet-b0 --bind-interfaces --port=0 \
  --no-resolv --no-hosts --user=root --pid-file="$work/dnsmasq.pid" \
  --dhcp-leasefile="$work/leases" --log-facility="$work/dnsmasq.log"
eventually 10 test -s "$work/dnsmasq.pid"

# hostapd without a radio, as in its peer test.
: >"$work/adrvet.accept"
sed "s|^accept_mac_file=.*|accept_mac_file=$work/adrvet.accept|" tests/peers/config/hostapd.conf \
  >"$work/hostapd.conf"
printf 'interface=adrvet-ap0\ndriver=none\nssid=adrvet-bench\n' >>"$work/hostapd.conf"
in_ns hostapd -B -P "$work/hostapd.pid" "$work/hostapd.conf" >"$work/hostapd.log" 2>&1
eventually 10 test -s "$work/hostapd.pid"

# FreeRADIUS with the README's module and authorize section, restarted as
# systemctl restart would.
raddb=$work/raddb
write_radiusd_conf "$raddb" "$work" 18121 adrvet-bench "$work/radiusd.log"
: >"$raddb/authorized_macs"
cat >"$work/restart-radius.sh" <<SCRIPT
#!/bin/sh
[ -s $work/radiusd.pid ] && kill \$(cat $work/radiusd.pid) 2>/dev/null
i=0
while [ -s $work/radiusd.pid ] && kill -0 \$(cat $work/radiusd.pid) 2>/dev/null; do
  i=\$((i + 1)); [ \$i -lt 300 ] || exit 1; sleep 0.05
done
rm -f $work/radiusd.pid
exec ip netns exec $ns freeradius -d $raddb
SCRIPT
chmod 0755 "$work/restart-radius.sh"
"$work/restart-radius.sh"

write_target() {
  case $1 in
    nft) printf '[nft]\nformat = nft\noutput = %s/adrvet.nft\n' "$work" ;;
    dnsmasq) printf '[dnsmasq]\nformat = dnsmasq-hosts\noutput = %s/dnsmasq.hosts\nreload = kill -HUP %s\n' \
      "$work" "$(cat "$work/dnsmasq.pid")" ;;
    freeradius) printf '[freeradius]\nformat = freeradius\noutput = %s/authorized_macs\nreload = %s\n' \
      "$raddb" "$work/restart-radius.sh" ;;
    hostapd) printf '[hostapd]\nformat = hostapd\noutput = %s/adrvet.accept\nreload = kill -HUP %s\n' \
      "$work" "$(cat "$work/hostapd.pid")" ;;
  esac
}
for peer in nft dnsmasq freeradius hostapd; do
  write_target "$peer" >"$work/$peer.conf"
  write_target "$peer" >>"$work/all.conf"
  echo >>"$work/all.conf"
done
chmod 0644 "$work"/*.conf

# seconds TARGETS: one sync, timed; fails unless it succeeded.
seconds() {
  local start end
  start=$(date +%s.%N)
  in_ns "$ADRVET_LIST" sync -k S --quiet --targets "$1" "$list" >>"$log" 2>&1 ||
    { echo "sync with $1 failed:" >&2; tail -n 20 "$log" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] }'; }
empty_outputs() {
  : >"$work/dnsmasq.hosts"
  : >"$work/adrvet.accept"
  : >"$raddb/authorized_macs"
  rm -f "$work/adrvet.nft"
  in_ns nft flush ruleset
}

echo "| Targets | Sync of $size addresses (s) | Nothing to do (s) | One address added (s) |"
echo "|---|---:|---:|---:|"
: >"$work/added.txt"
extra=0
for targets in nft dnsmasq freeradius hostapd all; do
  full=() idle=() one=()
  for ((run = 0; run < runs; run++)); do
    empty_outputs
    "$ADRVET_LIST" remove -k S --quiet "$list" - <"$work/added.txt" 2>/dev/null || true
    : >"$work/added.txt"
    full+=("$(seconds "$work/$targets.conf")")
    idle+=("$(seconds "$work/$targets.conf")")
    extra=$((extra + 1))
    printf '02:00:00:%02x:%02x:%02x\n' $((extra >> 16 & 255)) $((extra >> 8 & 255)) $((extra & 255)) \
      >"$work/added.txt"
    "$ADRVET_LIST" add -k S --quiet "$list" - <"$work/added.txt" 2>>"$log"
    one+=("$(seconds "$work/$targets.conf")")
  done
  printf '| %s | %s | %s | %s |\n' "$targets" \
    "$(printf '%s\n' "${full[@]}" | median)" "$(printf '%s\n' "${idle[@]}" | median)" \
    "$(printf '%s\n' "${one[@]}" | median)"
done

# rss_mib: FreeRADIUS's resident memory, in MiB.
rss_mib() {
  awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$(cat "$work/radiusd.pid")/status"
}
# hup_and_wait: a HUP that reloads the module (the file touched: an unchanged
# file is not reread), once the 5 s since the last one are over, and time
# for the reload; fails when the server says it ignored the HUP.
hup_and_wait() {
  sleep 6
  touch "$raddb/authorized_macs"
  kill -HUP "$(cat "$work/radiusd.pid")"
  sleep 5
  ! grep -q 'Ignoring HUP' "$work/radiusd.log"
}
: >"$raddb/authorized_macs"
"$work/restart-radius.sh"
empty=$(rss_mib)
in_ns "$ADRVET_LIST" sync -k S --quiet --targets "$work/freeradius.conf" "$list" >>"$log" 2>&1
full=$(rss_mib)
echo
echo "FreeRADIUS resident memory: $empty MiB with an empty users file, $full MiB after a restart with $size entries."
printf 'After HUPs that reload the module:'
for hup in 1 2 3; do
  hup_and_wait
  printf ' %s MiB' "$(rss_mib)"
done
echo
