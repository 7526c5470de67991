#!/usr/bin/env bash
# The library's layers, lowest first: base, fs, crypto, mac. A file may
# include its own layer and those below, never one above; the programs
# (src/main.cpp, tools/, examples/) never include a detail/ header.
#   layers.sh SOURCE_DIR
set -euo pipefail
cd "$1"
layers=(base fs crypto mac)
status=0
for rank in "${!layers[@]}"; do
  for above in "${layers[@]:rank+1}"; do
    if grep -rn --include='*.h' --include='*.cpp' "#include [\"<]$above/" "src/${layers[rank]}"; then
      echo "^ ${layers[rank]} includes $above, a layer above it" >&2
      status=1
    fi
  done
done
if grep -rn --include='*.h' --include='*.cpp' -E '#include ["<][a-z]+/detail/' \
  src/main.cpp tools examples; then
  echo "^ a program includes a library detail/ header" >&2
  status=1
fi
[ "$status" -eq 0 ] && echo "no include runs up a layer; the programs keep out of detail/"
exit $status
