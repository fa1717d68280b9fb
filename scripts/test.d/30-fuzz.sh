#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets in fuzz/ with clang, ASan and UBSan, and runs each for a bounded
# time from its seeds in fuzz/corpus/<target>/ (two at a time, one per core). A crash, a sanitizer
# report, a leak, a broken invariant (the target aborts) or a timeout fails the stage; the input
# that did it is kept under $build_dir/artifacts/ to be run again: fuzz/<target> FILE.
# BUILD_DIR is the main build; this one goes beside it ($BUILD_DIR-fuzz) unless FUZZ_BUILD_DIR
# says otherwise. FUZZ_SECONDS sets each target's time (30 by default), FUZZ_SEED the seed.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${FUZZ_BUILD_DIR:-${BUILD_DIR:-$root/build}-fuzz}
seconds=${FUZZ_SECONDS:-30}
# A fixed seed keeps a CI run repeatable; FUZZ_SEED=0 lets libFuzzer pick one.
seed=${FUZZ_SEED:-1}
targets=(fuzz_lines fuzz_command_line fuzz_profile fuzz_view_receive fuzz_decode)

command -v clang++ >/dev/null || { echo "30-fuzz: clang++ is missing (scripts/install-deps installs it)" >&2; exit 1; }
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCISTERN_SANITIZE=ON -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DCISTERN_BENCH=OFF >/dev/null   # tests stay configured: 20-sanitizers builds them here
cmake --build "$build_dir" -j2 --target fuzz_all

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0
artifacts=$build_dir/artifacts
mkdir -p "$artifacts"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# New inputs go to a scratch corpus; the seeds in the repository are only read.
run() {
  local t=$1
  mkdir -p "$work/$t"
  "$build_dir/fuzz/$t" -seed="$seed" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$t-" "$work/$t" "$root/fuzz/corpus/$t" >"$work/$t.log" 2>&1
}

failed=0
report() {
  local t=$1 rc=$2 runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log" | tail -1)
  if [ "$rc" -eq 0 ]; then
    echo "$t: ${runs:-?} executions in ${seconds} s, nothing found"
  else
    echo "$t: FAILED (exit $rc) after ${runs:-?} executions; inputs kept in $artifacts" >&2
    tail -n 60 "$work/$t.log" >&2
    failed=1
  fi
}

for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pair=("${targets[@]:i:2}")
  pids=()
  for t in "${pair[@]}"; do
    run "$t" & pids+=($!)
  done
  for j in "${!pair[@]}"; do
    rc=0
    wait "${pids[$j]}" || rc=$?
    report "${pair[$j]}" "$rc"
  done
  pids=()
done
exit "$failed"
