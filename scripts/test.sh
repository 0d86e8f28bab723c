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
xvfb_pid=""
pulse_pid=""
cleanup() {
    for pid in $pulse_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

# A private X server; -displayfd picks a free display number.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "test: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(tr -d '\n' <"$work/display")"
export QEL_TEST_REQUIRE_DISPLAY=1

# A private sound server with a null sink, so the engine has somewhere to play.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm \
    --load="module-null-sink sink_name=nullsink" --load=module-native-protocol-unix \
    >"$work/pulse.log" 2>&1 &
pulse_pid=$!
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && break
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/pulse/native" ] || { echo "test: PulseAudio did not start" >&2; cat "$work/pulse.log" >&2; exit 1; }

cd "$build_dir"
ctest --output-on-failure --timeout 300 -j"$(nproc)" "$@"
