#!/usr/bin/env bash
# Builds ADRVET with its tests and runs the whole suite.
#   scripts/test.sh [PRESET]    PRESET: default (g++) or sanitize (clang, ASan+UBSan)
# ADRVET_WERROR=ON turns warnings into errors, as CI does.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-default}
scripts/install-deps.sh
cmake --preset "$preset" -DADRVET_BUILD_TESTS=ON -DADRVET_WERROR="${ADRVET_WERROR:-OFF}" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
