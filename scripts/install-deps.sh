#!/usr/bin/env bash
# Installs the Debian packages that building and testing ADRVET need, and
# any further packages named as arguments (the benchmarks name theirs).
# Only missing packages are installed, so running it again costs nothing.
set -euo pipefail

#   scripts/install-deps.sh [--build-only] [PACKAGE...]
# --build-only: only what building ADRVET itself needs.
# nlohmann-json3-dev: header-only, for adrvet-list's --json documents.
packages=(cmake ninja-build g++ nlohmann-json3-dev)
if [ "${1:-}" = "--build-only" ]; then
  shift
else
  packages+=(
    clang libclang-rt-14-dev                         # sanitizer toolchain and runtimes
    libgtest-dev libbenchmark-dev valgrind           # test and benchmark frameworks, memcheck
    libssl-dev python3 python3-cryptography-vectors  # test oracles and published vectors
    bash-completion                                  # runs adrvet-list's completion in a test
    zsh fish                                         # completion is tested in each shell
    systemd                                          # systemd-analyze verify of the units
  )
fi
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
