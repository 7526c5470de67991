#!/usr/bin/env bash
# Builds ADRVET, protects the bundled example list under key version S with
# adrvet-list, and checks one listed and one unlisted address, printing each
# command so that it can be pasted and run again from the repository's top.
set -euo pipefail
cd "$(dirname "$0")/.."

bin=build/default/bin
list_dir=build/default/example-list
log=build/default/demo-build.log

scripts/install-deps.sh --build-only
mkdir -p build/default
echo "Building ADRVET and adrvet-list (the compiler's output goes to $log) ..."
if ! { cmake --preset default && cmake --build --preset default --target ADRVET adrvet-list; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "The build failed; the whole output is in $log" >&2
  exit 1
fi

# Each command is shown as it can be pasted, then run as shown.
run() {
  echo "\$ $1"
  set +e  # ADRVET's status 1 (listed) is an answer, not a failure
  eval "$1"
  set -e
}

cat <<'TEXT'

A list is a directory holding engine.dat, a protected (encrypted) file.
S and U name the built-in key the list is written with (its key version):
a list written with -k S is read with S. D asks ADRVET to print one message.

TEXT
run "mkdir -p $list_dir"
run "$bin/adrvet-list pack -k S examples/maclist.txt $list_dir"

cat <<'TEXT'

ADRVET answers through its exit status: 1 means the address IS on the list,
0 that it is not, 248 to 255 that it cannot tell (missing list, wrong key,
bad address). So "if ADRVET ...; then" is true for an address that is NOT
listed: test the status with case, or use "adrvet-list test", which exits 0
for listed, 1 for not listed and 2 when it cannot tell, as "if" expects.

TEXT
for mac in 3c:22:fb:12:34:56 3c:22:fb:12:34:57; do
  run "$bin/ADRVET S $list_dir $mac D; echo \"exit status: \$?\""
done
for mac in 3c:22:fb:12:34:56 3c:22:fb:12:34:57; do
  run "if $bin/adrvet-list test -k S $list_dir $mac; then echo \"$mac: let in\"; else echo \"$mac: keep out\"; fi"
done
echo
echo "Try more: $bin/adrvet-list --help, man docs/man/ADRVET.1"
