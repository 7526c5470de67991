#!/usr/bin/env bash
# The programs load nothing but libc at run time (the C++ runtime is linked
# in): ldd shows what a run loads. Fails with the extra libraries named.
#   loads_only_libc.sh PROGRAM...
set -euo pipefail
status=0
for program in "$@"; do
  extra=$(ldd "$program" | awk '{print $1}' |
    grep -v -E '^(linux-vdso\.so\.1|libc\.so\.6|/lib(64)?/ld-linux[-a-z0-9_.]*\.so\.[0-9]+)$' || true)
  if [ -n "$extra" ]; then
    echo "$program also loads:" $extra >&2
    status=1
  else
    echo "$program loads only libc"
  fi
done
exit $status
