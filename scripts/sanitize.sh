#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the player's library and its offscreen tests with AddressSanitizer,
# UndefinedBehaviorSanitizer and LeakSanitizer into build-asan/, and runs them.
# Any report fails the run. Extra arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$root/build-asan"
"$root/scripts/install-deps.sh" build test
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DQEL_WARNINGS_AS_ERRORS=ON \
    -DQEL_BUILD_TESTS=ON -DQEL_BUILD_BENCH=OFF -DQEL_SANITIZE=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target qel_tests
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build_dir"
ctest --output-on-failure --timeout 300 -j"$(nproc)" -L sanitizers "$@"
