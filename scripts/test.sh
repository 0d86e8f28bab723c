#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Qel with its tests and runs the whole suite. It
# starts the X server the end-to-end tests need and stops it again, whatever
# the tests do. Extra arguments go to ctest (for example: -L offscreen).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$root/build"
"$root/scripts/install-deps.sh" build run test
"$root/scripts/build.sh" "$build_dir" RelWithDebInfo -DQEL_WARNINGS_AS_ERRORS=ON -DQEL_BUILD_TESTS=ON

work=$(mktemp -d)
source "$root/scripts/servers.sh"
start_x_server plain
export DISPLAY=$x_display
export QEL_TEST_REQUIRE_DISPLAY=1
# A second server with a window manager, for what must also hold under one.
start_x_server managed
start_window_manager "$x_display"
export QEL_TEST_WM_DISPLAY=$x_display
# A third for the robustness suites, so that they run beside the others.
start_x_server robust
export QEL_TEST_ROBUST_DISPLAY=$x_display
# So that the engine has somewhere to play.
start_sound_server
# The programs under test announce themselves there, not on a desktop's bus.
start_session_bus
# The benchmark's smoke run switches files on PipeWire's pulse server as well.
start_pipewire_server

cd "$build_dir"
ctest --output-on-failure --timeout 300 -j"$(nproc)" "$@"
# The whole suite also runs the library and its offscreen tests under the
# sanitizers, in a build of their own.
if [ $# -eq 0 ]; then
    "$root/scripts/sanitize.sh"
fi
