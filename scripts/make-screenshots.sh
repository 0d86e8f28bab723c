#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the user guide's pictures from the real program, as a user first sees
# it: the idle window on a Videos folder of everyday shape (a few subfolders,
# names with spaces, a Japanese one, the sample clips), and the window playing
# its first clip. Usage:
#   scripts/make-screenshots.sh              writes docs/images/idle.png and playing.png
#   scripts/make-screenshots.sh BUILD_DIR    the same with the qel already built there
# The folder lives in a home of its own, /home/sam on a tmpfs in a private mount
# namespace: the folder list shows nothing of this machine, whose /home is
# neither seen nor touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" build run test
if [ $# -eq 0 ]; then
    "$root/scripts/build.sh" "$root/build-release" Release -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_BENCH=OFF
    program=$root/build-release/qel
else
    program=$1/qel
    [ -x "$program" ] || { echo "make-screenshots: no qel built in $1" >&2; exit 1; }
fi

work=$(mktemp -d)
source "$root/scripts/servers.sh"
"$root/scripts/make-samples.sh" "$work/clips" >/dev/null
# The checkout may itself lie under /home, which the namespace hides.
cp "$program" "$work/qel"

namespace=(unshare --mount --propagation private)
[ "$(id -u)" -eq 0 ] || namespace+=(--map-root-user)
"${namespace[@]}" true 2>/dev/null ||
    { echo "make-screenshots: cannot make a private mount namespace (${namespace[*]})" >&2; exit 1; }

start_x_server shots
export DISPLAY=$x_display
start_sound_server
start_session_bus

images="$root/docs/images"
mkdir -p "$images"
"${namespace[@]}" /bin/bash -c '
    set -euo pipefail
    mount -t tmpfs -o mode=755 tmpfs /home
    export HOME=/home/sam
    videos=$HOME/Videos
    mkdir -p "$videos/Family" "$videos/Our trip" "$videos/運動会"
    cp "$1"/* "$videos/"
    cd "$HOME"
    exec "$2" "$videos"' screenshots "$work/clips" "$work/qel" >"$work/qel.log" 2>&1 &
server_pids+=($!)
window=$(xdotool search --sync --onlyvisible --class qel | head -n 1)

# Takes the window once its video area (400x300 at the top left) shows more
# than the given number of colours: mapped is not yet drawn on a busy machine.
take() { # file, colours
    local colours
    for _ in $(seq 100); do
        import -window "$window" "$work/shot.png"
        colours=$(convert "$work/shot.png" -crop 400x300+0+0 -format %k info:)
        if [ "$colours" -gt "$2" ]; then
            mv "$work/shot.png" "$1"
            return 0
        fi
        sleep 0.2
    done
    echo "make-screenshots: the window did not show what $1 needs" >&2
    exit 1
}
# The idle look: the program icon on black.
take "$images/idle.png" 16

# The first clip selected and played by the Play button, then paused by a
# click on the picture two seconds after it shows.
xdotool mousemove --window "$window" 435 108 click 1
sleep 0.5
xdotool mousemove --window "$window" 443 283 click 1
take "$work/moving.png" 200
sleep 2
xdotool mousemove --window "$window" 200 150 click 1
sleep 1
take "$images/playing.png" 200
echo "Written: docs/images/idle.png, docs/images/playing.png"
