#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The log engine's tests under ThreadSanitizer: the store's writer, loading and saving on a worker
# while the window's thread goes on, and what arrives meanwhile. Only the engine's test program is
# built, in a folder of its own ($BUILD_DIR-tsan); any race reported fails the stage. Qt itself is
# not built with ThreadSanitizer: tests/sanitizers/tsan.supp may name what lies inside Qt only,
# never the engine.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${TSAN_BUILD_DIR:-${BUILD_DIR:-$root/build}-tsan}

cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCISTERN_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$build_dir" -j2 --target test_platform_log

export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/sanitizers/tsan.supp"
cd "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -R '^platform\.log\.' --timeout 600
