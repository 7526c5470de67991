#!/usr/bin/env bash
# Configures, builds, installs and runs ADRVET as a user or packager would
# with nothing but a compiler, CMake, Ninja and the header-only
# nlohmann-json3-dev: GoogleTest, Google
# Benchmark, OpenSSL and the vector files are hidden from CMake. The
# optional parts must say they are left out, and asking for the tests
# explicitly must fail.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --build-only
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hidden=(
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_CryptographyVectors=ON
)

# The README's install commands, in a build directory of their own.
cmake --preset default -B "$work/build" -DADRVET_WERROR="${ADRVET_WERROR:-OFF}" "${hidden[@]}" \
  >"$work/configure.log"
for part in tests benchmarks; do
  if ! grep -q "Not building the $part: missing" "$work/configure.log"; then
    echo "configure did not say that the $part are left out:" >&2
    cat "$work/configure.log" >&2
    exit 1
  fi
done
grep "Not building" "$work/configure.log"
nice -n 10 cmake --build "$work/build" >/dev/null
DESTDIR="$work/stage" cmake --install "$work/build" --prefix /usr >/dev/null

printf '3c:22:fb:12:34:56\n00:1a:2b:3c:4d:5e\n' >"$work/macs.txt"
mkdir "$work/list"
"$work/stage/usr/bin/adrvet-list" pack -k S "$work/macs.txt" "$work/list"
answer() { "$work/stage/usr/bin/ADRVET" S "$work/list" "$1" || echo $?; }
[ "$(answer 3c:22:fb:12:34:56)" = 1 ] && [ "$(answer 3c:22:fb:12:34:57)" = "" ] || {
  echo "the installed ADRVET gave wrong answers" >&2
  exit 1
}
echo "built, installed and ran with only a compiler, CMake, Ninja and nlohmann-json3-dev"

if cmake --preset default -B "$work/required" -DADRVET_BUILD_TESTS=ON "${hidden[@]}" \
  >"$work/required.log" 2>&1; then
  echo "-DADRVET_BUILD_TESTS=ON configured without the test dependencies" >&2
  exit 1
fi
echo "-DADRVET_BUILD_TESTS=ON requires the test dependencies"
