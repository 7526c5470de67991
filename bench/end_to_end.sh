#!/usr/bin/env bash
# Builds ADRVET and runs the end-to-end benchmark (bench/end_to_end.py).
#   bench/end_to_end.sh [--sizes 1000 100000 ...] [--runs N]
# Results: build/default/bench/results.md and end_to_end.png.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh time gnuplot-nox openssl
cmake --preset default >/dev/null
cmake --build --preset default
exec /usr/bin/python3 bench/end_to_end.py --build build/default --work build/default/bench "$@"
