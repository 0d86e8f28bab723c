#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the user guide's pictures from the real program: the idle window on the
# sample folder, and the window playing its first clip. Usage:
#   scripts/make-screenshots.sh          writes docs/images/idle.png and playing.png
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" build run test
"$root/scripts/build.sh" "$root/build-release" Release -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_BENCH=OFF
"$root/scripts/make-samples.sh" "$root/samples" >/dev/null

work=$(mktemp -d)
source "$root/scripts/servers.sh"
start_x_server shots
export DISPLAY=$x_display
start_sound_server
start_session_bus

images="$root/docs/images"
mkdir -p "$images"
(cd / && exec "$root/build-release/qel" "$root/samples") >"$work/qel.log" 2>&1 &
server_pids+=($!)
window=$(xdotool search --sync --onlyvisible --class qel | head -n 1)
sleep 1
import -window "$window" "$images/idle.png"

# The first clip selected and played, then paused two seconds in.
xdotool mousemove --window "$window" 435 110 click 1
sleep 0.3
xdotool key --window "$window" ctrl+alt+x
sleep 4.5
xdotool key --window "$window" c
sleep 0.5
import -window "$window" "$images/playing.png"
echo "Written: docs/images/idle.png, docs/images/playing.png"
