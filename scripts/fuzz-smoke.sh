#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan, UBSan) and runs each for a
# bounded time from its committed seed corpus.
#   scripts/fuzz-smoke.sh [SECONDS_PER_TARGET]   default 15 (about a minute in all)
# A longer run (say 1800) is the same command with a larger budget; the
# corpus it grows stays in build/fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-15}
scripts/install-deps.sh

# libFuzzer's runtime comes with clang's compiler-rt (libclang-rt-14-dev).
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
  > "$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" 2>"$probe/log"; then
  echo "fuzz-smoke: clang's libFuzzer runtime is missing (install libclang-rt-14-dev):" >&2
  cat "$probe/log" >&2
  exit 1
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

failed=0
for target in container check pack_parser backends import csv; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== fuzz_$target for ${seconds}s"
  if ! build/fuzz/bin/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="build/fuzz/crash-$target-" \
       "$corpus" "fuzz/corpus/$target" > "build/fuzz/$target.log" 2>&1; then
    echo "fuzz_$target FAILED; see build/fuzz/$target.log:" >&2
    tail -n 40 "build/fuzz/$target.log" >&2
    failed=1
    continue
  fi
  grep -E '^stat::number_of_executed_units|DONE' "build/fuzz/$target.log" | tail -n 2
done
exit $failed
