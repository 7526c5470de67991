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

# The services' commands, run as systemd would run them (the instance's
# directory for %f, the default key) on a list with a target: each must
# succeed (an option a command does not take fails here, not at 3 a.m.),
# and the target must then hold the list.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
adrvet_list=$(sed -n 's|^ExecStart=\([^ ]*adrvet-list\) .*|\1|p' "$units/adrvet-sync@.service" | head -n 1)
"$adrvet_list" add -k S --create --quiet --expires 1d "$work" 02:00:00:00:00:01 2>/dev/null ||
  { echo "FAIL: could not make the test list"; exit 1; }
printf '[out]\nformat = plain\noutput = %s/out.txt\n' "$work" >"$work/targets.conf"
chmod 0600 "$work/targets.conf"
for service in adrvet-sync@.service adrvet-prune@.service; do
  while read -r line; do
    command=${line#ExecStart=}
    command=${command//%f/$work}
    command=${command//\$\{ADRVET_KEY\}/S}
    read -r -a words <<<"$command"
    if ! "${words[@]}" >"$work/run.log" 2>&1; then
      echo "FAIL $service: '$command' failed:"
      cat "$work/run.log"
      status=1
    else
      echo "ok   $service runs '${words[*]:1}'"
    fi
  done < <(grep '^ExecStart=' "$units/$service")
done
if ! grep -qx 02:00:00:00:00:01 "$work/out.txt" 2>/dev/null; then
  echo "FAIL: the services did not write the target"
  status=1
fi
exit "$status"
