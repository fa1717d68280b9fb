#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A second build with AddressSanitizer and UndefinedBehaviorSanitizer (CISTERN_SANITIZE=ON), and
# its whole test suite run on it: unit and loopback tests, and the end-to-end tests, which then
# drive the sanitized program itself. Any report fails: ASan and UBSan stop the process at the
# first error, LeakSanitizer fails the exit of every test program and of every sumpwell the
# end-to-end tests close through Exit.
#
# The libraries are compiled once for this stage and the fuzz stage: with clang, the build is the
# fuzz stage's own (its folder, $BUILD_DIR-fuzz unless FUZZ_BUILD_DIR says otherwise, and its
# flags; the libFuzzer coverage hooks cost the tests little, and the sanitizer runtime answers
# them), with the tests added. Without clang the build is gcc's, in $BUILD_DIR-asan.
# SANITIZE_BUILD_DIR names another folder for either.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
main=${BUILD_DIR:-$root/build}

if command -v clang++ >/dev/null; then
  build_dir=${SANITIZE_BUILD_DIR:-${FUZZ_BUILD_DIR:-$main-fuzz}}
  compiler=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link)
else
  build_dir=${SANITIZE_BUILD_DIR:-$main-asan}
  compiler=()
fi
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${compiler[@]}" \
  -DCISTERN_SANITIZE=ON -DCISTERN_TESTS=ON -DCISTERN_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j2

# Leaks inside system libraries are suppressed by name in the suppression file (see its notes);
# nothing of the program's own is.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0
cd "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 900
