#!/usr/bin/env bash
# dnsmasq: both export forms pass --test; a live server in a namespace of
# its own, with the README's dhcp-ignore=tag:!known, offers addresses to
# listed hosts only and follows the list on SIGHUP; restarted with the
# dhcp-host= form, it enforces that too.
source "$(dirname "$0")/lib.sh"
echo "dnsmasq: $(dnsmasq --version | head -n 1)"

random_macs 20 >"$work/macs.txt"
list pack -k S --quiet "$work/macs.txt" "$work/list.dat"
listed=$(sed -n 3p "$work/macs.txt")
newcomer=$(random_macs 21 | tail -n 1)
label_hostile "$work/list.dat" "$newcomer" $(sed -n 1,6p "$work/macs.txt")

# The README's configuration, with the list beside the test.
sed "s|/etc/adrvet/|$work/|" "$config_dir/dnsmasq.conf" >"$work/dnsmasq.conf"
list export -k S --format dnsmasq-hosts --output "$work/dnsmasq.hosts" "$work/list.dat"
list export -k S --format dnsmasq --output "$work/hosts.conf" "$work/list.dat"
sed "s|^dhcp-hostsfile=.*|conf-file=$work/hosts.conf|" "$work/dnsmasq.conf" >"$work/conf-file.conf"
expect "dnsmasq --test: the dhcp-hostsfile form" dnsmasq --test --conf-file="$work/dnsmasq.conf"
expect "dnsmasq --test: the dhcp-host= form in a conf-file" \
  dnsmasq --test --conf-file="$work/conf-file.conf"
echo "dhcp-host=zz:11:22:33:44:55" >>"$work/hosts.conf"
expect_not "... which does refuse a bad dhcp-host= line" \
  dnsmasq --test --conf-file="$work/conf-file.conf"

problem=$(netns_problem)
if [ -n "$problem" ]; then
  skip "the live DHCP run needs network namespaces: $problem"
  exit "$failed"
fi
new_netns server dhcp-server
new_netns client dhcp-client
ip link add adrvet-d0 netns "$server" type veth peer name adrvet-d1 netns "$client"
ip -n "$server" addr add 192.168.77.1/24 dev adrvet-d0
ip -n "$server" link set adrvet-d0 up
# veth leaves UDP checksums to an offload that never happens; udhcpc reads
# raw frames and would drop every reply.
ip netns exec "$server" ethtool -K adrvet-d0 tx off >>"$log" 2>&1
# The server's log since the last mark.
: >"$work/dnsmasq.log"
mark=0
set_mark() { mark=$(wc -l <"$work/dnsmasq.log"); }
recent_log() { tail -n "+$((mark + 1))" "$work/dnsmasq.log"; }
log_has() { recent_log | grep -q "$1"; }

# start_dnsmasq CONF: a server on the veth, stopped by the test's trap.
start_dnsmasq() {
  set_mark
  ip netns exec "$server" timeout 120 dnsmasq --keep-in-foreground --conf-file="$1" \
    --interface=adrvet-d0 --bind-interfaces --port=0 --no-resolv --no-hosts --user=root \
    --pid-file="$work/dnsmasq.pid" --dhcp-leasefile="$work/leases" --log-dhcp --log-facility=- \
    >>"$work/dnsmasq.log" 2>&1 &
  dnsmasq_job=$!
  at_exit "kill $dnsmasq_job"
  eventually 10 log_has "DHCP, IP range"
}
if ! start_dnsmasq "$work/dnsmasq.conf"; then
  fail "dnsmasq starts in the namespace"
  cat "$work/dnsmasq.log" >>"$log"
  exit 1
fi
pass "dnsmasq starts in the namespace and reads the hosts file"

# discover MAC: a DISCOVER (and REQUEST) from MAC; true when a lease is had.
discover() {
  ip -n "$client" link set adrvet-d1 down
  ip -n "$client" link set adrvet-d1 address "$1"
  ip -n "$client" link set adrvet-d1 up
  timeout 20 ip netns exec "$client" busybox udhcpc -i adrvet-d1 -n -q -f -t 6 -T 1 -s /bin/true
}
# dnsmasq writes its log when idle, so a line may come after the client's answer.
offered() { eventually 5 log_has "DHCPOFFER(adrvet-d0) [0-9.]* $1"; }
ignored() { eventually 5 log_has "DHCPDISCOVER(adrvet-d0) $1 ignored"; }
offered_now() { log_has "DHCPOFFER(adrvet-d0) [0-9.]* $1"; }

expect "a listed host gets a lease" discover "$listed"
expect "... dnsmasq logged its OFFER" offered "$listed"
expect_not "an unlisted host gets none" discover "$newcomer"
expect "... dnsmasq logged its DISCOVER as ignored" ignored "$newcomer"
expect_not "... and offered it nothing" offered_now "$newcomer"

list add -k S "$work/list.dat" "$newcomer"
list remove -k S "$work/list.dat" "$listed"
list export -k S --format dnsmasq-hosts --output "$work/dnsmasq.hosts" "$work/list.dat"
set_mark
kill -HUP "$(cat "$work/dnsmasq.pid")"
expect "dnsmasq rereads the hosts file on SIGHUP" eventually 10 log_has "read $work/dnsmasq.hosts"
expect "after add, export and SIGHUP the new host gets a lease" discover "$newcomer"
expect "... dnsmasq logged its OFFER" offered "$newcomer"
set_mark
expect_not "the removed host gets none any more" discover "$listed"
expect "... its DISCOVER ignored" ignored "$listed"

# Importing never widens access: hosts-file entries dnsmasq does not admit
# are refused by the import, each row checked against the running server.
rows=(
  "02:aa:00:00:00:01,ignore # comment"
  "02:aa:00:00:00:02,tag:lab,12h"
  "02:aa:00:00:00:03,[::5]"
)
printf '%s\n' "${rows[@]}" >"$work/dnsmasq.hosts"
set_mark
kill -HUP "$(cat "$work/dnsmasq.pid")"
expect "dnsmasq rereads a hosts file of entries it does not admit" \
  eventually 10 log_has "read $work/dnsmasq.hosts"
for row in "${rows[@]}"; do
  expect_not "'$row': dnsmasq gives the host no lease" discover "${row%%,*}"
  printf '%s\n' "$row" >"$work/row.txt"
  expect_not "... and the import refuses the entry" \
    "$ADRVET_LIST" pack -k S --quiet --from dnsmasq-hosts "$work/row.txt" "$work/row.dat"
done

# The dhcp-host= form enforces the same list; dnsmasq reads it when it starts.
kill "$dnsmasq_job"
wait "$dnsmasq_job" 2>/dev/null
list export -k S --format dnsmasq --output "$work/hosts.conf" "$work/list.dat"
expect "dnsmasq restarts with the dhcp-host= form in a conf-file" start_dnsmasq "$work/conf-file.conf"
expect "... a listed host gets a lease" discover "$newcomer"
expect_not "... an unlisted one none" discover "$listed"
expect "... its DISCOVER ignored" ignored "$listed"

# sync: the dhcp-hostsfile form, checked by dnsmasq --test (as dhcp-host=
# lines, which is how dnsmasq reads each line of the file), reloaded by
# SIGHUP; the server started again with the hosts file.
kill "$dnsmasq_job"
wait "$dnsmasq_job" 2>/dev/null
synced=$work/synced
list export -k S --format plain --output "$work/now.txt" "$work/list.dat"
new_synced_list "$synced" "$work/now.txt"
list export -k S --format dnsmasq-hosts --output "$work/dnsmasq.hosts" "$synced"
if ! start_dnsmasq "$work/dnsmasq.conf"; then
  fail "dnsmasq starts again with the hosts file"
  exit 1
fi
write_targets "$synced" <<CONF
[dhcp]
format = dnsmasq-hosts
output = $work/dnsmasq.hosts
reload = kill -HUP $(cat "$work/dnsmasq.pid")
CONF
sync_list() { "$ADRVET_LIST" sync -k S "$@" "$synced" >>"$log" 2>&1; }
late=$(random_macs 22 | tail -n 1)
list add -k S "$synced" "$late"
set_mark
expect "sync after add" sync_list
expect "... dnsmasq rereads the hosts file" eventually 10 log_has "read $work/dnsmasq.hosts"
expect "... the added host gets a lease" discover "$late"
list remove -k S "$synced" "$late"
set_mark
expect "sync after remove" sync_list
expect "... dnsmasq rereads the hosts file" eventually 10 log_has "read $work/dnsmasq.hosts"
expect_not "... the removed host gets none" discover "$late"
expect "... its DISCOVER ignored" ignored "$late"

# A check that refuses the new file: the live file and dnsmasq stay as they were.
cp "$work/dnsmasq.hosts" "$work/hosts.before"
cat >>"$synced/targets.conf" <<CONF
check = dnsmasq --test --conf-file={} --dhcp-host=zz:11:22:33:44:55
CONF
list add -k S "$synced" "$late"
set_mark
expect "a check that fails (dnsmasq --test refusing) fails the sync (exit 1)" exits_with 1 sync_list
expect "... with dnsmasq's message" grep -q "bad hex constant" "$log"
expect "... the live file is left as it was" cmp "$work/hosts.before" "$work/dnsmasq.hosts"
expect_not "... and the host still gets no lease" discover "$late"
sed -i '/^check = /d' "$synced/targets.conf"

# A hand edit: sync --check names it, sync mends it.
grep -v "^$newcomer\$" "$work/dnsmasq.hosts" >"$work/edited.hosts" || true
cp "$work/edited.hosts" "$work/dnsmasq.hosts"
check_drifted() {
  exits_with 1 run_json "$work/check.json" "$ADRVET_LIST" sync -k S --check --json "$synced" &&
    [ "$(json_field "$work/check.json" "d['targets'][0]['added']")" = 2 ]
}
expect "sync --check reports the hand-edited hosts file (exit 1)" check_drifted
expect_state "... as drifted" "$work/check.json" 0 drifted
expect "... sync mends it" sync_list
expect "... and the host added meanwhile gets a lease" discover "$late"
exit "$failed"
