#!/usr/bin/env bash
# Builds ADRVET, protects the bundled example list under key version S with
# adrvet-list, and checks one listed and one unlisted address.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --build-only
cmake --preset default >/dev/null
cmake --build --preset default --target ADRVET adrvet-list  # only what the demo runs

bin=build/default/bin
list_dir=build/default/example-list
mkdir -p "$list_dir"
"$bin/adrvet-list" pack -k S examples/maclist.txt "$list_dir"

check() {
  echo
  echo "\$ ADRVET $*"
  local status=0
  "$bin/ADRVET" "$@" || status=$?
  echo "exit status: $status"
}
check S "$list_dir" 3c:22:fb:12:34:56 D   # on the list: 1
check S "$list_dir" 3c:22:fb:12:34:57 D   # not on the list: 0
