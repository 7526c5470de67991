#!/usr/bin/env bash
# The systemd units as built here (their adrvet-list the one beside them)
# pass `systemd-analyze verify` for a list directory instance, without a
# warning about them; exit 77 (skipped) where systemd-analyze is missing.
#   tests/systemd_units_test.sh UNIT_DIR
set -uo pipefail
units=$(cd "${1:?usage: systemd_units_test.sh UNIT_DIR}" && pwd)
command -v systemd-analyze >/dev/null || { echo "SKIP: no systemd-analyze" >&2; exit 77; }
instance=$(systemd-escape --path /etc/adrvet)
status=0
for template in adrvet-sync@.path adrvet-sync@.service adrvet-prune@.timer adrvet-prune@.service; do
  unit=$units/${template/@./@$instance.}
  # verify reads an instance's file from its template beside it.
  output=$(SYSTEMD_LOG_COLOR=0 systemd-analyze verify --man=no "$unit" 2>&1)
  verified=$?
  # Other packages' units that verify happens to load may warn; ours may not.
  ours=$(grep -i 'adrvet' <<<"$output")
  if [ "$verified" -ne 0 ] || [ -n "$ours" ]; then
    echo "FAIL $template: exit $verified"
    echo "$output"
    status=1
  else
    echo "ok   $template"
  fi
done
exit "$status"
