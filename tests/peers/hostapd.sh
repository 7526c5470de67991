#!/usr/bin/env bash
# hostapd: with driver=none and the README's macaddr_acl=1, the export as
# accept_mac_file brings the AP up with exactly the listed addresses, and a
# SIGHUP takes a new export.
source "$(dirname "$0")/lib.sh"
echo "hostapd: $(hostapd -v 2>&1 | grep -m 1 '^hostapd')"

random_macs 25 >"$work/macs.txt"
list pack -k S --quiet "$work/macs.txt" "$work/list.dat"
gone=$(sed -n 4p "$work/macs.txt")
newcomer=$(random_macs 26 | tail -n 1)
label_hostile "$work/list.dat" "$newcomer" $(sed -n 1,6p "$work/macs.txt")

sed "s|^accept_mac_file=.*|accept_mac_file=$work/adrvet.accept|" "$config_dir/hostapd.conf" \
  >"$work/hostapd.conf"
cat >>"$work/hostapd.conf" <<CONF
interface=adrvet-ap0
driver=none
ssid=adrvet-test
ctrl_interface=$work/ctrl
CONF
list export -k S --format hostapd --output "$work/adrvet.accept" "$work/list.dat"

problem=$(netns_problem)
if [ -n "$problem" ]; then
  skip "hostapd runs in a namespace of its own: $problem"
  exit 0
fi
new_netns ns hostapd
ip netns exec "$ns" timeout 120 hostapd "$work/hostapd.conf" >"$work/hostapd.log" 2>&1 &
at_exit "kill $!"
expect "hostapd reaches AP-ENABLED" wait_for "$work/hostapd.log" "AP-ENABLED" 20
cli() { timeout 10 ip netns exec "$ns" hostapd_cli -p "$work/ctrl" -i adrvet-ap0 "$@"; }
shown() { cli accept_acl SHOW | awk '{print $1}' | sort; }
expect "accept_acl SHOW lists exactly the listed addresses" \
  diff <(shown) <(sort "$work/macs.txt")

list remove -k S "$work/list.dat" "$gone"
list add -k S "$work/list.dat" "$newcomer"
list export -k S --format hostapd --output "$work/adrvet.accept" "$work/list.dat"
for pid in $(ip netns pids "$ns"); do
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = hostapd ] && kill -HUP "$pid"
done
list export -k S --format plain --output "$work/now.txt" "$work/list.dat"
reloaded() { diff <(shown) <(sort "$work/now.txt"); }
expect "after SIGHUP accept_acl SHOW lists the new list" eventually 10 reloaded
enabled() { cli status | grep -qx state=ENABLED; }
expect "... and hostapd is still enabled" enabled

# What hostapd itself reads and prints comes back as the same addresses: a
# file with trailing comments and a '-' removal line, and accept_acl SHOW
# output (neither has the labels).
newest=$(random_macs 27 | tail -n 1)
{
  sed 's/$/ # a comment/' "$work/now.txt"
  echo "$newest#no space"
  echo "-$newest"
} >"$work/adrvet.accept"
for pid in $(ip netns pids "$ns"); do
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = hostapd ] && kill -HUP "$pid"
done
expect "hostapd takes the comments and applies the removal" eventually 10 reloaded
expect "pack --from hostapd reads that file" \
  "$ADRVET_LIST" pack -k S --quiet --from hostapd "$work/adrvet.accept" "$work/back.dat"
expect "... as hostapd does" same_addresses "$work/list.dat" "$work/back.dat"
cli accept_acl SHOW >"$work/shown.txt"
expect "pack --from hostapd reads accept_acl SHOW output" \
  "$ADRVET_LIST" pack -k S --quiet --from hostapd "$work/shown.txt" "$work/shown.dat"
expect "... the same addresses" same_addresses "$work/list.dat" "$work/shown.dat"

# sync: hostapd has no checker of its own; the reload is its SIGHUP.
hostapd_pid=
for pid in $(ip netns pids "$ns"); do
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = hostapd ] && hostapd_pid=$pid
done
synced=$work/synced
list export -k S --format plain --output "$work/now.txt" "$work/list.dat"
new_synced_list "$synced" "$work/now.txt"
write_targets "$synced" <<CONF
[wifi]
format = hostapd
output = $work/adrvet.accept
reload = kill -HUP $hostapd_pid
CONF
sync_list() { "$ADRVET_LIST" sync -k S "$@" "$synced" >>"$log" 2>&1; }
allowed() { shown | grep -qx "$1"; }
following() { list export -k S --format plain --output "$work/now.txt" "$synced" && reloaded; }
late=$(random_macs 27 | tail -n 1)
list add -k S "$synced" "$late"
expect "sync after add" sync_list
expect "... hostapd admits the added station" eventually 10 allowed "$late"
expect "... and holds exactly the list" eventually 10 following
list remove -k S "$synced" "$late"
expect "sync after remove" sync_list
expect_not "... hostapd no longer admits the removed station" eventually 10 allowed "$late"

# A check that refuses the new file: the live file and hostapd stay as they were.
cp "$work/adrvet.accept" "$work/accept.before"
cat >>"$synced/targets.conf" <<CONF
check = sh -c 'echo "{}: line 3: refused by the test" >&2; exit 1'
CONF
list add -k S "$synced" "$late"
expect "a refused file fails the sync (exit 1)" exits_with 1 sync_list
expect "... with the checker's message" grep -q "line 3: refused by the test" "$log"
expect "... the live file is left as it was" cmp "$work/accept.before" "$work/adrvet.accept"
expect_not "... and hostapd, not reloaded, does not admit the station" allowed "$late"
sed -i '/^check = /d' "$synced/targets.conf"

# A hand edit: sync --check names it, sync mends it.
echo "$late" >>"$work/adrvet.accept"
list remove -k S "$synced" "$late"
check_drifted() {
  exits_with 1 run_json "$work/check.json" "$ADRVET_LIST" sync -k S --check --json "$synced" &&
    [ "$(json_field "$work/check.json" "d['targets'][0]['removed']")" = 1 ]
}
expect "sync --check reports the hand-edited accept file (exit 1)" check_drifted
expect_state "... as drifted" "$work/check.json" 0 drifted
expect "... sync mends it" sync_list
expect "... and hostapd holds exactly the list again" eventually 10 following
exit "$failed"
