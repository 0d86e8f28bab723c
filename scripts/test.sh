#!/usr/bin/env bash
# Installs what is missing, builds Qel with its tests and runs the whole suite. It
# starts the X server the end-to-end tests need and stops it again, whatever
# the tests do. Extra arguments go to ctest (for example: -L offscreen).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$root/build"
"$root/scripts/install-deps.sh" build run test
"$root/scripts/build.sh" "$build_dir" RelWithDebInfo -DQEL_WARNINGS_AS_ERRORS=ON -DQEL_BUILD_TESTS=ON

work=$(mktemp -d)
pids=()
cleanup() {
    # Newest first: the window manager before its X server.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        { kill "${pids[i]}" && wait "${pids[i]}"; } 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# A private X server; -displayfd picks a free display number. Sets x_display.
start_x_server() { # name
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/$1.display" \
        >"$work/$1.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ -s "$work/$1.display" ] && break
        sleep 0.1
    done
    [ -s "$work/$1.display" ] || { echo "test: Xvfb did not start" >&2; cat "$work/$1.log" >&2; exit 1; }
    x_display=":$(tr -d '\n' <"$work/$1.display")"
}
start_x_server plain
export DISPLAY=$x_display
export QEL_TEST_REQUIRE_DISPLAY=1

# A second server with a window manager, for what must also hold under one.
start_x_server managed
wm_display=$x_display
DISPLAY=$wm_display openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    DISPLAY=$wm_display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
DISPLAY=$wm_display xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
    { echo "test: openbox did not start" >&2; cat "$work/openbox.log" >&2; exit 1; }
export QEL_TEST_WM_DISPLAY=$wm_display

# A private sound server with a null sink, so the engine has somewhere to play.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm \
    --load="module-null-sink sink_name=nullsink" --load=module-native-protocol-unix \
    >"$work/pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && break
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/pulse/native" ] || { echo "test: PulseAudio did not start" >&2; cat "$work/pulse.log" >&2; exit 1; }

cd "$build_dir"
ctest --output-on-failure --timeout 300 -j"$(nproc)" "$@"
