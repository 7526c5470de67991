#!/usr/bin/env bash
# ipset: the restore script fills a temporary set and swaps it in. Where the
# kernel has hash:mac, in a namespace of its own: ipset test finds listed and
# not unlisted addresses, reloads replace the set, 100,000 addresses load,
# the README's iptables rule takes the set, and ipset save reads back.
source "$(dirname "$0")/lib.sh"
echo "ipset: $(ipset --version)"

random_macs 40 >"$work/macs.txt"
echo 00:00:00:00:00:00 >>"$work/macs.txt"
list pack -k S --quiet "$work/macs.txt" "$work/list.dat"
listed=$(sed -n 1p "$work/macs.txt")
other=$(sed -n 2p "$work/macs.txt")
unlisted=02:00:00:00:00:01
label_hostile "$work/list.dat" "$unlisted" $(sed -n 1,6p "$work/macs.txt")
"$ADRVET_LIST" export -k S --format ipset --output "$work/restore.txt" "$work/list.dat" \
  2>"$work/warnings.txt"
expect "the export leaves out the all-zero address with a warning naming it" \
  grep -q "00:00:00:00:00:00 left out" "$work/warnings.txt"

problem=$(netns_problem)
if [ -n "$problem" ]; then
  skip "ipset runs in a namespace of its own: $problem"
  exit "$failed"
fi
new_netns ns ipset
in_ns() { ip netns exec "$ns" "$@"; }
# The script's create/fill/swap/destroy steps, with hash:ip standing in for
# hash:mac (the same generic hash code in the kernel) and each address
# turned into 10.x.y.z from its last three bytes: it reloads again and
# again, across a change of hashsize, and leaves no temporary set.
as_hash_ip() {
  awk 'function byte(h) { return (index("0123456789abcdef", substr(h, 1, 1)) - 1) * 16 + index("0123456789abcdef", substr(h, 2, 1)) - 1 }
       $1 == "add" {
         split($3, b, ":")
         ip = sprintf("10.%d.%d.%d", byte(b[4]), byte(b[5]), byte(b[6]))
         rest = substr($0, index($0, $3) + length($3))  # its timeout and comment
         if (!(ip in seen)) printf "add %s %s%s\n", $2, ip, rest  # two addresses may share their last bytes
         seen[ip] = 1
         next
       }
       { sub(/hash:mac/, "hash:ip"); print }' "$1"
}
stand_in() {
  random_macs "$1" "$2" >"$work/stand-in.txt"
  list pack -k S --quiet "$work/stand-in.txt" "$work/stand-in.dat"
  # Hostile labels as comments, and one address that expires, with timeouts.
  label_hostile "$work/stand-in.dat" "$unlisted" $(head -n 6 "$work/stand-in.txt")
  list add -k S --quiet --expires 1h "$work/stand-in.dat" "$(head -n 1 "$work/stand-in.txt")"
  list export -k S --format ipset --name standin --timeouts --output "$work/stand-in.ipset" \
    "$work/stand-in.dat"
  as_hash_ip "$work/stand-in.ipset" >"$work/stand-in.restore"
  in_ns ipset restore -f "$work/stand-in.restore" && in_ns ipset list standin -t |
    grep -qx "Number of entries: $(grep -c '^add ' "$work/stand-in.restore")"
}
if in_ns ipset create adrvet-probe-ip hash:ip 2>/dev/null; then
  in_ns ipset destroy adrvet-probe-ip
  expect "hash:ip stand-in: the restore script loads" stand_in 10 1
  expect "... loads again over the live set" stand_in 10 1
  expect "... and again after the list grew past another hashsize" stand_in 3000 2
  expect_not "... and leaves no temporary set behind" in_ns ipset list -n standin-new
  expect "... with each hostile label a comment of its own element, and a timeout" \
    bash -c "ip netns exec '$ns' ipset list standin | grep -c 'comment \"' | grep -qx 6 &&
      ip netns exec '$ns' ipset list standin | grep -q 'timeout 3[0-9][0-9][0-9] '"
else
  skip "the kernel has no hash:ip either: the restore script's steps are not tried"
fi

if ! reason=$(in_ns ipset create adrvet-probe hash:mac 2>&1); then
  skip "this kernel ($(uname -r)) offers no hash:mac sets ('ipset create probe hash:mac': ${reason#ipset v*: }); nothing more of ipset can be tried here"
  exit "$failed"
fi
in_ns ipset destroy adrvet-probe

expect "ipset restore loads the export" in_ns ipset restore -f "$work/restore.txt"
expect "ipset test: a listed address is in the set" in_ns ipset test adrvet "$listed"
expect_not "ipset test: an unlisted address is not" in_ns ipset test adrvet "$unlisted"
expect "the same script restores again over the live set" in_ns ipset restore -f "$work/restore.txt"
expect_not "... and leaves no temporary set behind" in_ns ipset list -n adrvet-new

list remove -k S "$work/list.dat" "$listed"
list export -k S --format ipset --output "$work/restore.txt" "$work/list.dat"
expect "after remove, the new export restores" in_ns ipset restore -f "$work/restore.txt"
expect_not "ipset test: the removed address is gone" in_ns ipset test adrvet "$listed"
expect "ipset test: the others stay" in_ns ipset test adrvet "$other"

if command -v iptables >/dev/null; then
  expect "the README's iptables rule takes the set" in_ns bash "$config_dir/ipset.sh"
else
  skip "iptables is not installed: the README's rule is not tried"
fi

in_ns ipset save adrvet >"$work/save.txt"
expect "pack --from ipset reads ipset save output" \
  "$ADRVET_LIST" pack -k S --quiet --from ipset "$work/save.txt" "$work/back.dat"
list remove -k S "$work/list.dat" 00:00:00:00:00:00
expect "... and gives the same addresses (less the all-zero address)" \
  same_addresses "$work/list.dat" "$work/back.dat"

random_macs 100000 7 >"$work/large.txt"
list pack -k S --quiet "$work/large.txt" "$work/large.dat"
list export -k S --format ipset --name large --output "$work/large-restore.txt" "$work/large.dat"
expect "a list of 100,000 addresses restores" in_ns ipset restore -f "$work/large-restore.txt"
expect "... and the set holds all of them" \
  bash -c "ip netns exec '$ns' ipset list large -t | grep -qx 'Number of entries: 100000'"
exit "$failed"
