#!/usr/bin/env bash
# A second build with AddressSanitizer and UndefinedBehaviorSanitizer (CISTERN_SANITIZE=ON), and
# its whole test suite run on it: unit and loopback tests, and the end-to-end tests, which then
# drive the sanitized program itself. Any report fails: ASan and UBSan stop the process at the
# first error, LeakSanitizer fails the exit of every test program and of every sumpwell the
# end-to-end tests close through Exit.
# BUILD_DIR is the main build; this one goes beside it ($BUILD_DIR-asan) unless
# SANITIZE_BUILD_DIR says otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${SANITIZE_BUILD_DIR:-${BUILD_DIR:-$root/build}-asan}

cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCISTERN_SANITIZE=ON -DCISTERN_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j2

# Leaks inside system libraries are suppressed by name in the suppression file (see its notes);
# nothing of the program's own is.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0
cd "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 900
