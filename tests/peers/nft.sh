#!/usr/bin/env bash
# nftables: every export passes nft -c; in a namespace of its own the file
# loads, replaces the set on reload, the README's rule enforces it for the
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

problem=$(netns_problem)
if [ -n "$problem" ]; then
  skip "nft -c and loading need a namespace of their own: $problem"
  exit 0
fi
new_netns ns nft
in_ns() { ip netns exec "$ns" "$@"; }

for family in inet bridge netdev; do
  list export -k S --format nft --family "$family" --table lan --name macs \
    --output "$work/$family.nft" "$work/list.dat"
  expect "family $family: nft -c -f accepts the export" in_ns nft -c -f "$work/$family.nft"
done
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

# The set as nft lists it reads back as the same list.
in_ns nft list ruleset >"$work/ruleset.txt"
expect "pack --from nft reads nft list ruleset" \
  "$ADRVET_LIST" pack -k S --from nft "$work/ruleset.txt" "$work/back.dat"
expect "... and gives the same list" "$ADRVET_LIST" diff -k S "$work/list.dat" "$work/back.dat"
in_ns nft list set inet adrvet adrvet >"$work/set.txt"
expect "pack --from nft reads nft list set, the same list" \
  bash -c "'$ADRVET_LIST' pack -k S --from nft '$work/set.txt' '$work/back2.dat' &&
           '$ADRVET_LIST' diff -k S '$work/list.dat' '$work/back2.dat'"
random_macs 100000 7 >"$work/large.txt"
list pack -k S --quiet "$work/large.txt" "$work/large.dat"
list export -k S --format nft --name large --output "$work/large.nft" "$work/large.dat"
expect "a list of 100,000 addresses loads" in_ns nft -f "$work/large.nft"
expect "... and loads again over itself" in_ns nft -f "$work/large.nft"
expect "... its last address is in the set" \
  in_ns nft get element inet adrvet large "{ $(tail -n 1 "$work/large.txt") }"
exit "$failed"
