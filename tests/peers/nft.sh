#!/usr/bin/env bash
# nftables: every export passes nft -c; in a namespace of its own the file
# loads, replaces the set on reload, reads back from nft list and nft -j
# list, the README's rule enforces it for the
# machine and for what it forwards, a Debian nftables.conf (flush ruleset)
# that includes the rule and then the export keeps the list over a reload,
# and a list of 100,000 addresses loads.
source "$(dirname "$0")/lib.sh"
echo "nftables: $(nft --version)"

random_macs 50 >"$work/macs.txt"
list pack -k S --quiet "$work/macs.txt" "$work/list.dat"
first=$(sed -n 1p "$work/macs.txt")
second=$(sed -n 2p "$work/macs.txt")
unlisted=02:00:00:00:00:01
label_hostile "$work/list.dat" "$unlisted" $(sed -n 1,6p "$work/macs.txt")

problem=$(netns_problem)
if [ -n "$problem" ]; then
  skip "nft -c and loading need a namespace of their own: $problem"
  exit 0
fi
new_netns ns nft
in_ns() { ip netns exec "$ns" "$@"; }

for family in ip ip6 inet arp bridge netdev; do
  list export -k S --format nft --family "$family" --table lan --name macs \
    --output "$work/$family.nft" "$work/list.dat"
  expect "family $family: nft -c -f accepts the export" in_ns nft -c -f "$work/$family.nft"
done
# nft's own limit on names, 255 characters: the export takes what nft takes.
long=a$(printf 'b%.0s' $(seq 254))
list export -k S --format nft --table "$long" --name "$long" --output "$work/long.nft" \
  "$work/list.dat"
expect "a table and set named with 255 characters load" in_ns nft -f "$work/long.nft"
in_ns nft delete table inet "$long"
expect_not "256 characters: the export refuses them" \
  "$ADRVET_LIST" export -k S --format nft --name "${long}c" "$work/list.dat"
sed "s/$long/${long}c/g" "$work/long.nft" >"$work/longer.nft"
expect_not "... and so does nft" in_ns nft -c -f "$work/longer.nft"
# A set of that name the administrator made with other flags: nft stops at
# the set's line, which says what to do; done, the export loads.
in_ns nft add table inet admin
in_ns nft add set inet admin macs '{ type ether_addr; flags timeout; timeout 1h; counter; }'
list export -k S --format nft --table admin --name macs --output "$work/admin.nft" "$work/list.dat"
expect "over a set with a timeout and counters: nft refuses the export, saying what to do" \
  bash -c "! ip netns exec '$ns' nft -f '$work/admin.nft' 2>'$work/admin.err' &&
           grep -q 'nft delete set inet admin macs' '$work/admin.err'"
expect "... and done, the export loads" bash -c "ip netns exec '$ns' nft delete set inet admin macs &&
  ip netns exec '$ns' nft -f '$work/admin.nft'"
in_ns nft delete table inet admin
list pack -k S --quiet --allow-empty - "$work/empty.dat" </dev/null
list export -k S --format nft --output "$work/empty.nft" "$work/empty.dat"
expect "an empty list: nft -c -f accepts the export" in_ns nft -c -f "$work/empty.nft"
for name in set table flush add ether elements meter export rt0; do
  expect_not "the keyword '$name' is refused as a set name" \
    "$ADRVET_LIST" export -k S --format nft --name "$name" "$work/list.dat"
  sed "s/ macs\b/ $name/g" "$work/inet.nft" >"$work/keyword.nft"
  expect_not "... and nft refuses it too" in_ns nft -c -f "$work/keyword.nft"
done

# The export and nft agree on names: every word of nft's manual page that
# the export refuses nft refuses too, and a sample of the others nft takes.
agree_on_names() {
  local word
  zcat /usr/share/man/man8/nft.8.gz | tr -c 'a-z_A-Z0-9-' '\n' |
    grep -E '^[a-z_][a-z0-9_-]*$' | sort -u >"$work/words.txt"
  while read -r word; do
    if "$ADRVET_LIST" export -k S --format nft --name "$word" "$work/list.dat" >/dev/null 2>&1; then
      echo "$word" >>"$work/taken.txt"
    else
      echo "$word" >>"$work/refused.txt"
    fi
  done <"$work/words.txt"
  while read -r word; do
    sed "s/ macs\b/ $word/g" "$work/inet.nft" >"$work/word.nft"
    in_ns nft -c -f "$work/word.nft" 2>/dev/null && echo "nft takes '$word', which the export refuses"
  done <"$work/refused.txt" | grep . && return 1
  while read -r word; do
    sed "s/ macs\b/ $word/g" "$work/inet.nft" >"$work/word.nft"
    in_ns nft -c -f "$work/word.nft" 2>/dev/null || echo "nft refuses '$word', which the export takes"
  done < <(shuf -n 100 --random-source=<(yes "$seed") "$work/taken.txt") | grep . && return 1
  echo "$(wc -l <"$work/refused.txt") words refused by both"
}
if [ -r /usr/share/man/man8/nft.8.gz ]; then
  expect "the export refuses the names nft refuses, and takes others nft takes" agree_on_names
else
  skip "nft's manual page is not installed: the agreement on names is not tried"
fi

list export -k S --format nft --output "$work/allowed.nft" "$work/list.dat"
expect "the export loads" in_ns nft -f "$work/allowed.nft"
expect "it loads again over itself" in_ns nft -f "$work/allowed.nft"
# The README's rule, its LAN port named as the test's.
sed 's/"lan0"/"adrvet-fw"/' "$config_dir/nft.nft" >"$work/rule.nft"
expect "the README rule loads beside it" in_ns nft -f "$work/rule.nft"
expect "nft get element: a listed address is in the set" \
  in_ns nft get element inet adrvet adrvet "{ $first }"
expect_not "nft get element: an unlisted address is not" \
  in_ns nft get element inet adrvet adrvet "{ $unlisted }"

# Enforcement: a host behind a veth pair pings the namespace with a listed
# and then an unlisted hardware address.
new_netns host nft-host
ip link add adrvet-fw netns "$ns" type veth peer name adrvet-h netns "$host"
ip -n "$ns" addr add 10.77.0.1/24 dev adrvet-fw && ip -n "$ns" link set adrvet-fw up
ip -n "$host" addr add 10.77.0.2/24 dev adrvet-h
ping_from() {
  ip -n "$host" link set adrvet-h down
  ip -n "$host" link set adrvet-h address "$1"
  ip -n "$host" link set adrvet-h up
  ip -n "$ns" neigh flush dev adrvet-fw
  ip netns exec "$host" busybox ping -c 2 -W 2 10.77.0.1
}
expect "a listed host's ping is answered" ping_from "$first"
expect_not "an unlisted host's ping is dropped" ping_from "$unlisted"

# Forwarding: the namespace routes the host to a third one behind it; the
# rule's forward chain drops what unlisted hosts send through it.
new_netns far nft-far
ip link add adrvet-up netns "$ns" type veth peer name adrvet-far netns "$far"
ip -n "$ns" addr add 10.78.0.1/24 dev adrvet-up && ip -n "$ns" link set adrvet-up up
ip -n "$far" addr add 10.78.0.2/24 dev adrvet-far && ip -n "$far" link set adrvet-far up
ip -n "$far" route add default via 10.78.0.1
in_ns sysctl -qw net.ipv4.ip_forward=1
ping_through() {
  ip -n "$host" link set adrvet-h down
  ip -n "$host" link set adrvet-h address "$1"
  ip -n "$host" link set adrvet-h up
  ip -n "$host" route replace default via 10.77.0.1
  ip -n "$ns" neigh flush dev adrvet-fw
  ip netns exec "$host" busybox ping -c 2 -W 2 10.78.0.2
}
expect "a listed host reaches the network behind the namespace" ping_through "$first"
expect_not "an unlisted host's forwarded ping is dropped" ping_through "$unlisted"
expect "the uplink port is not filtered: the far side reaches the namespace" \
  ip netns exec "$far" busybox ping -c 2 -W 2 10.78.0.1

# Boot and "systemctl reload nftables": Debian's nftables.conf flushes the
# whole ruleset. Including only the rule leaves the set empty; including
# the export after it brings the list back on every load.
printf 'flush ruleset\ninclude "%s"\n' "$work/rule.nft" >"$work/rule-only.conf"
printf 'flush ruleset\ninclude "%s"\ninclude "%s"\n' "$work/rule.nft" "$work/allowed.nft" \
  >"$work/nftables.conf"
in_ns nft -f "$work/rule-only.conf"
expect_not "with only the rule in nftables.conf a reload drops listed hosts too" ping_from "$first"
expect "nftables.conf with the rule, then the export, loads" in_ns nft -f "$work/nftables.conf"
expect "... and again, as systemctl reload does" in_ns nft -f "$work/nftables.conf"
expect "... and the listed host is answered after it" ping_from "$first"
expect_not "... the unlisted one is not" ping_from "$unlisted"

list remove -k S "$work/list.dat" "$first"
list export -k S --format nft --output "$work/allowed.nft" "$work/list.dat"
expect "the export after remove loads over the old set" in_ns nft -f "$work/allowed.nft"
expect_not "nft get element: the removed address is gone" \
  in_ns nft get element inet adrvet adrvet "{ $first }"
expect "nft get element: the others stay" in_ns nft get element inet adrvet adrvet "{ $second }"
expect_not "the removed host's ping is now dropped" ping_from "$first"

# The set as nft lists it reads back as the same addresses.
in_ns nft list ruleset >"$work/ruleset.txt"
expect "pack --from nft reads nft list ruleset" \
  "$ADRVET_LIST" pack -k S --from nft "$work/ruleset.txt" "$work/back.dat"
expect "... and gives the same addresses" same_addresses "$work/list.dat" "$work/back.dat"
in_ns nft list set inet adrvet adrvet >"$work/set.txt"
expect "pack --from nft reads nft list set" \
  "$ADRVET_LIST" pack -k S --from nft "$work/set.txt" "$work/back2.dat"
expect "... the same addresses" same_addresses "$work/list.dat" "$work/back2.dat"
# ... and so does what nft -j prints, on one line as nft prints it or spread
# over many as a pretty-printer leaves it.
in_ns nft -j list ruleset >"$work/ruleset.json"
expect "pack --from nft reads nft -j list ruleset" \
  "$ADRVET_LIST" pack -k S --from nft "$work/ruleset.json" "$work/back3.dat"
expect "... the same addresses" same_addresses "$work/list.dat" "$work/back3.dat"
in_ns nft -j list set inet adrvet adrvet | python3 -m json.tool >"$work/set.json"
expect "pack --from nft reads nft -j list set, pretty-printed" \
  "$ADRVET_LIST" pack -k S --from nft "$work/set.json" "$work/back4.dat"
expect "... the same addresses" same_addresses "$work/list.dat" "$work/back4.dat"
# Importing never widens access. Each file is loaded by nft into a namespace
# of its own; the import must be refused, or list exactly the elements nft
# keeps for good (one that expires, or a range, is never "for good").
new_netns imp nft-import
peer_keeps() {
  ip netns exec "$imp" nft -j list set inet t s | python3 -c '
import json, sys
for item in json.load(sys.stdin)["nftables"]:
    for e in item.get("set", {}).get("elem", []):
        if isinstance(e, str):
            print(e)
        elif "elem" in e and isinstance(e["elem"].get("val"), str) and "timeout" not in e["elem"] and "expires" not in e["elem"]:
            print(e["elem"]["val"])
        else:
            print("expiring-or-range")
' | sort
}
set_head=$'table inet t {\n\tset s {\n\t\ttype ether_addr\n'
plain_set="$set_head"$'\t}\n}\n'
a=02:11:22:33:44:01 b=02:11:22:33:44:02
# never_wider NAME WANT TEXT: WANT is "refused" or "taken"; the peer decides what is right.
never_wider() {
  local name=$1 want=$2 file=$work/import-$1.nft
  printf '%s' "$3" >"$file"
  ip netns exec "$imp" nft flush ruleset
  if ! ip netns exec "$imp" nft -f "$file" >>"$log" 2>&1; then
    expect_not "nft refuses $name: so does the import" \
      "$ADRVET_LIST" pack -k S --quiet --from nft "$file" "$work/import-$name.dat"
    return
  fi
  peer_keeps >"$work/peer-$name.txt"
  # What nft -j lists of the set it loaded is held to the same rule.
  ip netns exec "$imp" nft -j list set inet t s >"$work/listed-$name.json"
  local input
  for input in "$file" "$work/listed-$name.json"; do
    if [ "$want" = refused ]; then
      expect_not "$name: the import of ${input##*/} refuses it" \
        "$ADRVET_LIST" pack -k S --quiet --allow-empty --from nft "$input" "$work/import-$name.dat"
    elif [ "$want" = expiring ]; then
      # What nft drops when its time is up, the list keeps with that expiry.
      expect "$name: the import of ${input##*/} gives the element its expiry" bash -c "
        '$ADRVET_LIST' pack -k S --quiet --from nft '$input' '$work/import-$name.dat' &&
        '$ADRVET_LIST' show -k S '$work/import-$name.dat' | grep '^$a' | grep -qv '^$a	-'"
    else
      expect "$name: the import of ${input##*/} lists what nft keeps" bash -c "
        '$ADRVET_LIST' pack -k S --quiet --allow-empty --from nft '$input' '$work/import-$name.dat' &&
        '$ADRVET_LIST' export -k S '$work/import-$name.dat' | sort | diff - '$work/peer-$name.txt'"
    fi
  done
}
never_wider delete-after-add taken "$plain_set"$"add element inet t s { $a, $b }
delete element inet t s { $a }
"
never_wider flush-after-add taken "$plain_set"$"add element inet t s { $a, $b }
flush set inet t s
"
never_wider flush-then-add taken "$plain_set"$"add element inet t s { $a }
flush set inet t s
add element inet t s { $b }
"
never_wider element-timeout expiring "$set_head"$'\t\tflags timeout\n'$'\t\t'"elements = { $a timeout 5m, $b }
"$'\t}\n}\n'
never_wider set-timeout expiring "$set_head"$'\t\ttimeout 1h\n'$'\t\t'"elements = { $a }
"$'\t}\n}\n'
never_wider range-with-spaces refused "$set_head"$'\t\tflags interval\n'$'\t\t'"elements = { $a - $b }
"$'\t}\n}\n'
never_wider newline-without-comma refused "$set_head"$'\t\t'"elements = { $a
$b }
"$'\t}\n}\n'
# Labels and lifetimes through the real nft and back: the export with
# --timeouts loads, and what nft lists of it (as text and as JSON) imports
# with the same labels, and expiries off by no more than the seconds that
# passed.
ip netns exec "$imp" nft flush ruleset
printf '%s\n' "$a" "$b" 02:11:22:33:44:03 >"$work/noted.txt"
list pack -k S --quiet "$work/noted.txt" "$work/noted.dat"
list add -k S --quiet --label "front desk, east #1" --expires 2h "$work/noted.dat" "$a"
list add -k S --quiet --label "Zo$(printf '\303\253')'s phone" "$work/noted.dat" "$b"
list show -k S "$work/noted.dat" >"$work/noted-show.txt"
started=$(date +%s)
list export -k S --format nft --timeouts --name noted --output "$work/noted.nft" "$work/noted.dat"
expect "labels and --timeouts: the export loads" ip netns exec "$imp" nft -f "$work/noted.nft"
ip netns exec "$imp" nft list set inet adrvet noted >"$work/noted-listed.nft"
ip netns exec "$imp" nft -j list set inet adrvet noted >"$work/noted-listed.json"
expiry_of() { date -d "$(awk -v a="$1" '$1 == a { print $2 }' "$2")" +%s; }
for input in noted-listed.nft noted-listed.json; do
  rm -rf "$work/noted-back"
  expect "$input: imports" "$ADRVET_LIST" pack -k S --quiet --from nft "$work/$input" \
    "$work/noted-back"
  list show -k S "$work/noted-back" >"$work/noted-back.txt"
  expect "... with the labels nft kept" bash -c \
    "diff <(cut -f1,5 '$work/noted-show.txt') <(cut -f1,5 '$work/noted-back.txt')"
  expect "... and no expiry where there was none" bash -c \
    "diff <(cut -f1,2 '$work/noted-show.txt' | grep -v '^$a') \
          <(cut -f1,2 '$work/noted-back.txt' | grep -v '^$a')"
  passed=$(($(date +%s) - started))
  drift=$(($(expiry_of "$a" "$work/noted-back.txt") - $(expiry_of "$a" "$work/noted-show.txt")))
  expect "... and the expiry, off by $drift s, within the $passed s that passed (and 1 s of rounding)" \
    test "${drift#-}" -le $((passed + 1))
done

# nft list ruleset with two sets of addresses: refused without a choice,
# naming both; --name (and --table, --family) take exactly what nft holds.
ip netns exec "$imp" nft flush ruleset
ip netns exec "$imp" nft -f - <<EOF2
table inet t { set s { type ether_addr; elements = { $a }; }; }
table bridge u { set s { type ether_addr; elements = { $b }; }; }
EOF2
ip netns exec "$imp" nft list ruleset >"$work/two-sets.txt"
expect "two sets, no choice: refused, naming both" bash -c "
  ! '$ADRVET_LIST' pack -k S --from nft '$work/two-sets.txt' '$work/two.dat' 2>'$work/two.err' &&
  grep -q 'inet t s, bridge u s' '$work/two.err'"
for family in inet bridge; do
  ip netns exec "$imp" nft list set "$family" "$([ "$family" = inet ] && echo t || echo u)" s |
    grep -o '02:11:22:33:44:0[12]' >"$work/want-$family.txt"
  expect "--family $family --name s takes what nft holds there" bash -c "
    '$ADRVET_LIST' pack -k S --quiet --from nft --family $family --name s '$work/two-sets.txt' \
      '$work/two-$family.dat' &&
    '$ADRVET_LIST' export -k S '$work/two-$family.dat' | diff - '$work/want-$family.txt'"
done
ip netns exec "$imp" nft -j list ruleset >"$work/two-sets.json"
expect "nft -j, two sets, no choice: refused, naming both" bash -c "
  ! '$ADRVET_LIST' pack -k S --from nft '$work/two-sets.json' '$work/two.dat' 2>'$work/two.err' &&
  grep -q 'inet t s, bridge u s' '$work/two.err'"
expect "nft -j: --family bridge --name s takes what nft holds there" bash -c "
  '$ADRVET_LIST' pack -k S --quiet --from nft --family bridge --name s '$work/two-sets.json' \
    '$work/two-json.dat' && '$ADRVET_LIST' export -k S '$work/two-json.dat' |
    diff - '$work/want-bridge.txt'"
printf '%s\n' "$a" >"$work/plain.txt"
expect_not "plain text fed to the nft importer is refused" \
  "$ADRVET_LIST" pack -k S --from nft "$work/plain.txt" "$work/plain.dat"
expect "... with a reason, not 'no addresses'" bash -c \
  "'$ADRVET_LIST' pack -k S --from nft '$work/plain.txt' '$work/plain.dat' 2>&1 | grep -q 'not an nft statement'"

random_macs 100000 7 >"$work/large.txt"
list pack -k S --quiet "$work/large.txt" "$work/large.dat"
list export -k S --format nft --name large --output "$work/large.nft" "$work/large.dat"
expect "a list of 100,000 addresses loads" in_ns nft -f "$work/large.nft"
expect "... and loads again over itself" in_ns nft -f "$work/large.nft"
expect "... its last address is in the set" \
  in_ns nft get element inet adrvet large "{ $(tail -n 1 "$work/large.txt") }"
in_ns nft -j list set inet adrvet large >"$work/large.json"
expect "... nft -j list set of it imports" \
  "$ADRVET_LIST" pack -k S --quiet --from nft "$work/large.json" "$work/large-back.dat"
expect "... as the same addresses" same_addresses "$work/large.dat" "$work/large-back.dat"

# sync: a list of its own and a targets file with nft's defaults (nft -c -f
# checks, nft -f loads), run in the namespace as root runs it there; the
# README's rule drops what the set lacks.
synced=$work/synced
new_synced_list "$synced" "$work/macs.txt"
write_targets "$synced" <<CONF
[firewall]
format = nft
output = $synced/adrvet.nft
CONF
sync_in_ns() { in_ns "$ADRVET_LIST" sync -k S "$@" "$synced" >>"$log" 2>&1; }
list add -k S "$synced" "$unlisted"
expect "sync after add: nft -c accepts the file, nft -f loads it" sync_in_ns
expect "... the added host's ping is answered" ping_from "$unlisted"
list remove -k S "$synced" "$unlisted"
expect "sync after remove" sync_in_ns
expect_not "... the removed host's ping is dropped" ping_from "$unlisted"
expect_not "... nft get element: it is gone from the set" \
  in_ns nft get element inet adrvet adrvet "{ $unlisted }"
expect "a second sync has nothing to do and exits 0" sync_in_ns

# A file nft refuses: the set it declares exists with another type.
printf 'table inet clash {\n\tset allow {\n\t\ttype ipv4_addr\n\t}\n}\n' | in_ns nft -f -
echo "# the live file before" >"$synced/clash.nft"
cat >>"$synced/targets.conf" <<CONF

[clash]
format = nft
table = clash
name = allow
output = $synced/clash.nft
CONF
list add -k S "$synced" "$unlisted"
expect "a target whose file nft -c refuses fails the sync (exit 1)" \
  exits_with 1 run_json "$work/clash.json" in_ns "$ADRVET_LIST" sync -k S --json "$synced"
expect_state "... reported as failed" "$work/clash.json" 1 failed
expect "... with nft's own message" grep -q "Could not resolve hostname" "$work/clash.json"
expect "... its live file is left as it was" grep -qx "# the live file before" "$synced/clash.nft"
expect "... the set nft holds keeps its type" \
  bash -c "ip netns exec $ns nft list set inet clash allow | grep -q 'type ipv4_addr'"
expect_state "... and the other target is synced all the same" "$work/clash.json" 0 updated
expect "... so the added host's ping is answered" ping_from "$unlisted"
sed -i '/^\[clash\]/,$d' "$synced/targets.conf"

# A hand edit of the live file: sync --check names it, sync mends it.
awk '{ print } /^add element/ { print "\t02:00:00:00:00:09," }' "$synced/adrvet.nft" >"$work/edited.nft"
cp "$work/edited.nft" "$synced/adrvet.nft"
expect "the hand edit loads" in_ns nft -f "$synced/adrvet.nft"
check_drifted() {
  exits_with 1 run_json "$work/check.json" in_ns "$ADRVET_LIST" sync -k S --check --json "$synced" &&
    [ "$(json_field "$work/check.json" "d['targets'][0]['removed']")" = 1 ]
}
expect "sync --check reports the hand-edited live file (exit 1, 1 address in excess)" check_drifted
expect_state "... as drifted" "$work/check.json" 0 drifted
expect "... sync puts the list's file back" sync_in_ns
expect "... and sync --check is content (exit 0)" in_ns "$ADRVET_LIST" sync -k S --check "$synced"
exit "$failed"
