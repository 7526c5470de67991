#!/usr/bin/env bash
# Checks the installation the way users meet it: the manual pages render
# without warnings; a staged install serves a CMake and a pkg-config
# consumer; the Debian package passes lintian, installs, works (its
# systemd units verify), brings completion where bash, zsh and fish look
# for it, and removes cleanly.
#   scripts/check-install.sh [--no-deb]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh groff-base man-db dpkg-dev pkg-config make lintian zsh fish systemd

for page in docs/man/*.[13]; do
  warnings=$(groff -ww -z -man "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings" >&2
    exit 1
  fi
done
echo "manual pages render without warnings"

cmake --preset default >/dev/null
cmake --build --preset default
stage=$PWD/build/default/stage
rm -rf "$stage"
DESTDIR="$stage" cmake --install build/default >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' build/default/CMakeCache.txt)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S examples/consumer/cmake -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$stage$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer" "$work/cmake.dat"

pc_dir=$(dirname "$(find "$stage" -name adrvet.pc)")
PKG_CONFIG_PATH="$pc_dir" make -s -C examples/consumer/pkg-config -B consumer >/dev/null
mv examples/consumer/pkg-config/consumer "$work/pkg-consumer"
"$work/pkg-consumer" "$work/pkg.dat"

zsh_dir=$stage$prefix/share/zsh/site-functions
[ -f "$zsh_dir/_adrvet" ] || { echo "no zsh completion in $zsh_dir" >&2; exit 1; }

[ "${1:-}" = "--no-deb" ] && exit 0

(cd build/default && cpack -G DEB >/dev/null)
deb=$(ls build/default/adrvet_*.deb)
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Section\|Depends\|Maintainer\):/  &/p'
if ! report=$(lintian --fail-on error,warning "$deb" 2>&1); then
  echo "$report" >&2
  echo "lintian finds fault with $deb" >&2
  exit 1
fi
echo "lintian: no errors or warnings"
dpkg -i "$deb" >/dev/null
printf '3c:22:fb:12:34:56\n00:1a:2b:3c:4d:5e\n' > "$work/macs.txt"
mkdir "$work/list"
/usr/bin/adrvet-list pack -k S "$work/macs.txt" "$work/list"
status=0
/usr/bin/ADRVET S "$work/list" 3c:22:fb:12:34:56 D || status=$?
[ "$status" -eq 1 ] || { echo "installed ADRVET answered $status" >&2; exit 1; }
man -w ADRVET >/dev/null && man -w adrvet-list >/dev/null && man -w 3 adrvet >/dev/null
# Each shell finds the completion by itself, as a new login would.
offers=$(HOME=$work XDG_CONFIG_HOME=$work fish -c 'complete -C"adrvet-list pa"; complete -C"ADRVET "')
[ "$offers" = "$(printf 'pack\tmake a protected list from a plain list\nS\tkey version\nU\tkey version')" ] ||
  { echo "fish does not complete from the package: $offers" >&2; exit 1; }
[ "$(zsh -fc 'autoload -Uz compinit; compinit -u -D; print $_comps[adrvet-list] $_comps[ADRVET]')" = "_adrvet _adrvet" ] ||
  { echo "zsh does not find the package's completion" >&2; exit 1; }
for command in adrvet-list ADRVET; do
  bash --norc -c "source /usr/share/bash-completion/completions/$command && complete -p $command" >/dev/null ||
    { echo "no bash completion for $command" >&2; exit 1; }
done
echo "bash, zsh and fish complete adrvet-list and ADRVET from the package"
# The units as installed, for a list in /etc/adrvet, naming the installed adrvet-list.
instance=$(systemd-escape --path /etc/adrvet)
for unit in adrvet-sync@.path adrvet-sync@.service adrvet-prune@.timer adrvet-prune@.service; do
  installed=/usr/lib/systemd/system/${unit/@./@$instance.}
  [ -e "/usr/lib/systemd/system/$unit" ] || { echo "$unit is not installed" >&2; exit 1; }
  if ! out=$(systemd-analyze verify --man=no "$installed" 2>&1) || grep -qi adrvet <<<"$out"; then
    echo "systemd-analyze verify $unit: $out" >&2
    exit 1
  fi
done
echo "the systemd units pass systemd-analyze verify"
dpkg -r adrvet >/dev/null
[ ! -e /usr/bin/ADRVET ] || { echo "ADRVET still installed after removal" >&2; exit 1; }
echo "the Debian package installs, works and removes cleanly"
