#!/usr/bin/env bash
# Builds adrvet-list and times list updates (bench/list_updates.py).
#   bench/list_updates.sh [--sizes 1000 1000000 ...] [--runs N]
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default --target adrvet-list
exec /usr/bin/python3 bench/list_updates.py --build build/default --work build/default/bench "$@"
