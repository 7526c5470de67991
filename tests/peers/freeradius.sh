#!/usr/bin/env bash
# FreeRADIUS: the README's files module and authorize section pass -XC; a
# server of the test's own, on 127.0.0.1 in a namespace of its own, accepts
# listed addresses in any notation through the stock
# rewrite_calling_station_id, rejects others, and follows the list on HUP.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/radiusd_conf.sh"
echo "FreeRADIUS: $(freeradius -v | sed -n 's/^radiusd: //p' | head -n 1)"

random_macs 30 >"$work/macs.txt"
list pack -k S --quiet "$work/macs.txt" "$work/list.dat"
listed=$(sed -n 5p "$work/macs.txt")
other=$(sed -n 6p "$work/macs.txt")
unlisted=$(random_macs 31 | tail -n 1)
label_hostile "$work/list.dat" "$unlisted" $(sed -n 1,6p "$work/macs.txt")
port=18120
secret=adrvet-test

# A whole server configuration of its own around the README's two snippets.
conf=$work/raddb
write_radiusd_conf "$conf" "$work" "$port" "$secret"
list export -k S --format freeradius --output "$conf/authorized_macs" "$work/list.dat"
expect "freeradius -XC accepts the README's configuration" freeradius -XC -d "$conf"

problem=$(netns_problem)
if [ -n "$problem" ]; then
  skip "the live server needs a network namespace of its own: $problem"
  exit "$failed"
fi
new_netns ns radius
# Nine hours ahead of UTC: an Expiration read as local time would be off.
ip netns exec "$ns" env TZ=JST-9 timeout 120 freeradius -X -d "$conf" >"$work/radiusd.log" 2>&1 &
radius_job=$!
at_exit "kill $radius_job"
if ! wait_for "$work/radiusd.log" "Ready to process requests" 20; then
  fail "freeradius starts"
  tail -n 20 "$work/radiusd.log" >>"$log"
  exit 1
fi
pass "freeradius starts on 127.0.0.1:$port in the namespace"

# answer MAC: what the server says to a MAC authentication request.
answer() {
  printf 'User-Name = "%s", User-Password = "%s", Calling-Station-Id = "%s"\n' "$1" "$1" "$1" |
    timeout 20 ip netns exec "$ns" radclient -r 2 -t 3 "127.0.0.1:$port" auth "$secret" 2>&1 |
    grep -o 'Access-Accept\|Access-Reject' | tail -n 1
}
accepted() { [ "$(answer "$1")" = Access-Accept ]; }
rejected() { [ "$(answer "$1")" = Access-Reject ]; }
upper_hyphen() { echo "$1" | tr 'a-f:' 'A-F-'; }
bare() { echo "$1" | tr -d ':'; }

expect "a listed address, lower-case colon: Access-Accept" accepted "$listed"
expect "the same, upper-case hyphen: Access-Accept" accepted "$(upper_hyphen "$listed")"
expect "the same, bare: Access-Accept" accepted "$(bare "$listed")"
expect "an unlisted address: Access-Reject" rejected "$unlisted"
expect "an unlisted address, bare: Access-Reject" rejected "$(bare "$unlisted")"

list remove -k S "$work/list.dat" "$listed"
list add -k S "$work/list.dat" "$unlisted"
# FreeRADIUS ignores a HUP that comes within two seconds of a module's
# loading, and a HUP when no file changed: export and HUP again until the
# module says it reloaded.
export_and_hup() {
  local i pid
  for ((i = 0; i < 10; i++)); do
    list export -k S --format freeradius --output "$conf/authorized_macs" "$work/list.dat"
    for pid in $(ip netns pids "$ns"); do
      [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = freeradius ] && kill -HUP "$pid"
    done
    wait_for "$work/radiusd.log" 'Reloaded module "authorized_macs"' 1 && return 0
  done
  return 1
}
expect "export and HUP: freeradius reloads the files module" export_and_hup
expect "the removed address is rejected" \
  rejected "$listed"
expect "... the added one accepted" accepted "$unlisted"
expect "... the others still accepted" accepted "$other"

# Importing never widens access: entries the server does not accept are
# refused by the import, each row checked against the running server.
rows=(
  "02-AA-00-00-00-01 Auth-Type := Reject # comment"
  "02-AA-00-00-00-02 Auth-Type:=Reject#x"
  "02-AA-00-00-00-03 Auth-Type += Reject"
  "02-aa-00-00-00-04"
  "02-AA-00-00-00-05 NAS-IP-Address == 10.9.9.9"
)
printf '%s\n' "${rows[@]}" >"$conf/authorized_macs"
hup_until_reloaded() {
  local i pid before
  for ((i = 0; i < 10; i++)); do
    before=$(grep -c 'Reloaded module "authorized_macs"' "$work/radiusd.log")
    touch "$conf/authorized_macs"
    for pid in $(ip netns pids "$ns"); do
      [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = freeradius ] && kill -HUP "$pid"
    done
    sleep 1
    [ "$(grep -c 'Reloaded module "authorized_macs"' "$work/radiusd.log")" -gt "$before" ] && return 0
  done
  return 1
}
expect "the server reloads a file of entries it does not admit" hup_until_reloaded
for row in "${rows[@]}"; do
  address=$(echo "${row%% *}" | tr 'a-f-' 'A-F:')
  # A hand-written Reject keeps the device out: the README's authorize
  # section honours it before it accepts what the module found.
  expect "'$row': the server rejects $address" rejected "$address"
  printf '%s\n' "$row" >"$work/row.txt"
  expect_not "... and the import refuses the entry" \
    "$ADRVET_LIST" pack -k S --quiet --from freeradius "$work/row.txt" "$work/row.dat"
done

# Expiries reach the server as Expiration, in seconds since the epoch (the
# server at UTC+9 reads a written date in its own zone): a device whose time
# is still to come is admitted, one whose time has passed since the export
# is turned away. The import reads the times back to the second, and refuses
# the one that has passed, as --expires would.
guest=$(sed -n 7p "$work/macs.txt")
gone=$(sed -n 8p "$work/macs.txt")
list add -k S --quiet --label guest --expires 2h "$work/list.dat" "$guest"
list add -k S --quiet --expires 1s "$work/list.dat" "$gone"
gone_at=$(date -d "$(list show -k S "$work/list.dat" | awk -v a="$gone" '$1 == a { print $2 }')" +%s)
while [ "$(date +%s)" -le "$gone_at" ]; do sleep 0.2; done
list export -k S --format freeradius --output "$conf/authorized_macs" "$work/list.dat"
expect "the server reloads the export with two Expirations" hup_until_reloaded
expect "... written as Expiration := SECONDS" grep -Eq \
  "^$(upper_hyphen "$guest") Expiration := [0-9]+\$" "$conf/authorized_macs"
expect "a future Expiration: Access-Accept (the server runs at UTC+9)" accepted "$guest"
expect "an Expiration passed: Access-Reject" rejected "$gone"
expect "... and the import refuses it, saying why" bash -c "
  ! '$ADRVET_LIST' pack -k S --quiet --from freeradius '$conf/authorized_macs' '$work/back.dat' \
    2>'$work/back.err' && grep -q ':[0-9]*: that time has passed' '$work/back.err'"
list prune -k S --quiet "$work/list.dat" >/dev/null
list export -k S --format freeradius --output "$work/pruned.radius" "$work/list.dat"
expect "once pruned, the import reads the expiries back to the second" bash -c "
  '$ADRVET_LIST' pack -k S --quiet --from freeradius '$work/pruned.radius' '$work/back.dat' &&
  diff <('$ADRVET_LIST' show -k S '$work/list.dat' | cut -f1,2) \
       <('$ADRVET_LIST' show -k S '$work/back.dat' | cut -f1,2)"

# sync: checked by the default, freeradius -XC on a server of its own around
# the new file; reloaded by a restart, which the server confirms by coming
# up (here a script in the namespace; systemctl restart freeradius, whose
# unit reports readiness, in the README). A HUP would be ignored within 5 s
# of the last one, and the two syncs below come quicker than that.
cat >"$work/restart-radius.sh" <<SCRIPT
#!/bin/sh
for pid in \$(ip netns pids $ns); do
  [ "\$(cat /proc/\$pid/comm 2>/dev/null)" = freeradius ] && kill \$pid
done
i=0
while ip netns pids $ns | xargs -r -I{} cat /proc/{}/comm 2>/dev/null | grep -qx freeradius; do
  i=\$((i + 1)); [ \$i -lt 100 ] || exit 1; sleep 0.1
done
log=$work/radiusd.restart.\$\$.log
ip netns exec $ns timeout 120 freeradius -X -d $conf >"\$log" 2>&1 </dev/null &
i=0
until grep -q "Ready to process requests" "\$log"; do
  i=\$((i + 1)); [ \$i -lt 200 ] || { tail -n 5 "\$log" >&2; exit 1; }; sleep 0.1
done
SCRIPT
chmod 0755 "$work/restart-radius.sh"
synced=$work/synced
list export -k S --format plain --output "$work/now.txt" "$work/list.dat"
new_synced_list "$synced" "$work/now.txt"
write_targets "$synced" <<CONF
[radius]
format = freeradius
output = $conf/authorized_macs
reload = $work/restart-radius.sh
CONF
sync_list() { "$ADRVET_LIST" sync -k S "$@" "$synced" >>"$log" 2>&1; }
late=$(random_macs 32 | tail -n 1)
list add -k S "$synced" "$late"
expect "sync after add: freeradius -XC accepts the file, the server restarts" sync_list
expect "... the added address is accepted" accepted "$late"
list remove -k S "$synced" "$late"
expect "sync after remove, at once" sync_list
expect "... the removed address is rejected" rejected "$late"
expect "... the others still accepted" accepted "$other"

# A check that refuses the new file: the live file and the server stay as they were.
cp "$conf/authorized_macs" "$work/users.before"
cat >>"$synced/targets.conf" <<CONF
check = sh -c 'echo "{}[2]: Parse error: refused by the test" >&2; exit 1'
CONF
list add -k S "$synced" "$late"
expect "a refused file fails the sync (exit 1)" exits_with 1 sync_list
expect "... with the checker's message" grep -q "Parse error: refused by the test" "$log"
expect "... the live file is left as it was" cmp "$work/users.before" "$conf/authorized_macs"
expect "... and the address is still rejected" rejected "$late"
sed -i '/^check = /d' "$synced/targets.conf"

# A hand edit: sync --check names it, sync mends it.
by_hand=$(random_macs 33 | tail -n 1)
upper_hyphen "$by_hand" >>"$conf/authorized_macs"
check_drifted() {
  exits_with 1 run_json "$work/check.json" "$ADRVET_LIST" sync -k S --check --json "$synced" &&
    [ "$(json_field "$work/check.json" "d['targets'][0]['added']")" = 1 ] &&
    [ "$(json_field "$work/check.json" "d['targets'][0]['removed']")" = 1 ]
}
expect "sync --check reports the hand-edited users file (exit 1; 1 missing, 1 in excess)" \
  check_drifted
expect_state "... as drifted" "$work/check.json" 0 drifted
expect "... sync mends it" sync_list
expect "... the address added meanwhile is accepted" accepted "$late"
expect "... the one added by hand is rejected" rejected "$by_hand"
exit "$failed"
