#!/usr/bin/env bash
# Tests the Ansible collection orbitforge.adrvet with Debian's ansible-core:
# builds the collection tarball and installs it from there, renders every
# module's and the role's documentation with ansible-doc, runs the modules'
# unit tests (pytest), then, against the adrvet-list built here, the modules
# on localhost and the role across a fleet of local hosts.
#   scripts/ansible-test.sh [--hosts N]     N: the fleet's size (default 50)
# ADRVET_FLEET_TIMINGS=FILE keeps the fleet's run times.
set -euo pipefail
cd "$(dirname "$0")/.."

hosts=50
if [ "${1:-}" = "--hosts" ]; then
  hosts=$2
fi

scripts/install-deps.sh --build-only ansible-core python3-pytest
cmake --preset default -DADRVET_WERROR="${ADRVET_WERROR:-OFF}" >/dev/null
cmake --build --preset default --target adrvet-list
adrvet_list=$PWD/build/default/bin/adrvet-list

work=$(mktemp -d /tmp/adrvet-ansible.XXXXXX)
trap 'rm -rf "$work"' EXIT
# Debian's python3 has ansible; a python3 earlier on PATH may not.
python=/usr/bin/python3
export ANSIBLE_COLLECTIONS_PATH=$work/collections ANSIBLE_PYTHON_INTERPRETER=$python
export ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_REMOTE_TMP=$work/tmp ANSIBLE_HOME=$work/home
export ANSIBLE_PIPELINING=True ANSIBLE_NOCOLOR=1 ANSIBLE_DEPRECATION_WARNINGS=False
export ANSIBLE_LOCALHOST_WARNING=False ANSIBLE_INVENTORY_UNPARSED_WARNING=False
export PYTHONDONTWRITEBYTECODE=1

echo "== the collection tarball"
ansible-galaxy collection build --output-path "$work/dist" ansible_collections/orbitforge/adrvet
ansible-galaxy collection install -p "$work/collections" "$work"/dist/orbitforge-adrvet-*.tar.gz
installed=$work/collections/ansible_collections/orbitforge/adrvet

echo "== ansible-doc"
failures=0
for plugin in module:adrvet_list module:adrvet_sync module:adrvet_info role:distribute; do
  type=${plugin%%:*} name=orbitforge.adrvet.${plugin#*:}
  if ! ansible-doc -t "$type" "$name" >"$work/doc.txt" 2>&1; then
    echo "FAIL: ansible-doc -t $type $name"; cat "$work/doc.txt"; failures=$((failures + 1)); continue
  fi
  sections=(OPTIONS)
  [ "$type" = module ] && sections+=(EXAMPLES 'RETURN VALUES')
  for section in "${sections[@]}"; do
    if ! grep -q "^$section" "$work/doc.txt" || grep -q WARNING "$work/doc.txt"; then
      echo "FAIL: ansible-doc $name: no $section, or a warning"; cat "$work/doc.txt"
      failures=$((failures + 1))
    fi
  done
done
[ "$failures" -eq 0 ] || exit 1
echo "ansible-doc: 4 rendered"

echo "== unit tests"
(cd "$installed" && "$python" -m pytest -q -p no:cacheprovider tests/unit)

echo "== the modules on localhost"
mkdir -p "$work/localhost"
ansible-playbook --diff -i localhost, -e "adrvet_bin=$adrvet_list" -e "workdir=$work/localhost" \
  "$installed/tests/integration/localhost.yml" >"$work/localhost.log" 2>&1 ||
  { cat "$work/localhost.log"; echo "FAIL: localhost.yml"; exit 1; }
# Diff mode shows the entries that come and go as +/- lines.
for line in '^-52:54:00:00:00:0b$' '^\+52:54:00:00:00:0c$'; do
  grep -q "$line" "$work/localhost.log" || { cat "$work/localhost.log"; echo "FAIL: no $line"; exit 1; }
done
grep -E '^localhost +:' "$work/localhost.log"

echo "== a fleet of $hosts hosts"
"$python" "$installed/tests/integration/fleet/fleet_test.py" --adrvet-list "$adrvet_list" \
  --workdir "$work/fleet" --hosts "$hosts" ${ADRVET_FLEET_TIMINGS:+--timings "$ADRVET_FLEET_TIMINGS"}
