#!/usr/bin/env bash
# Installs what is missing, builds Qel and the benchmarks (Release), makes the
# benchmark media with ffmpeg, starts a private X server and sound server, and
# measures Qel side by side with mpv. The table goes to docs/performance.md
# (before the notes kept in bench/performance-notes.md). Usage:
#   bench/run.sh            the full run: 5 pairs, 20 s clips (about 15 minutes);
#                           QEL_BENCH_PAIRS=N for more pairs (steadier medians)
#   bench/run.sh --smoke    a run of a few seconds that only checks the instrument
#   bench/run.sh --only G   some groups, printed only: playback, switch, quiet,
#                           startup, listing, or several with commas (quiet,startup)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
smoke=""
only=""
[ "${1:-}" = "--smoke" ] && smoke=1
[ "${1:-}" = "--only" ] && only=${2:?"--only needs groups: playback, switch, quiet, startup, listing"}
build_dir=${QEL_BENCH_BUILD:-$root/build-bench}
pairs=${QEL_BENCH_PAIRS:-5}
"$root/scripts/install-deps.sh" build run bench
"$root/scripts/build.sh" "$build_dir" Release -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_BENCH=ON

work=$(mktemp -d)
source "$root/scripts/servers.sh"
start_x_server bench
export DISPLAY=$x_display
start_sound_server
start_session_bus

# PipeWire with its pulse server and session manager, beside the PulseAudio
# server, in a runtime folder of its own and on a bus of its own (the session
# manager needs one). Its pulse socket goes to the driver, which plays there too.
start_pipewire_server() {
    local runtime="$work/pipewire-runtime"
    mkdir -p -m 700 "$runtime"
    command -v pipewire >/dev/null && command -v wireplumber >/dev/null &&
        command -v pipewire-pulse >/dev/null || { echo "bench: no PipeWire; its rows are left out" >&2; return 0; }
    dbus-daemon --session --nofork --print-address=3 3>"$work/pipewire-bus.address" \
        >"$work/pipewire-bus.log" 2>&1 &
    server_pids+=($!)
    for _ in $(seq 100); do
        [ -s "$work/pipewire-bus.address" ] && break
        sleep 0.1
    done
    local bus
    bus=$(head -n 1 "$work/pipewire-bus.address")
    local program
    for program in pipewire wireplumber pipewire-pulse; do
        XDG_RUNTIME_DIR=$runtime DBUS_SESSION_BUS_ADDRESS=$bus "$program" \
            >"$work/$program.log" 2>&1 &
        server_pids+=($!)
        [ "$program" = pipewire ] && sleep 0.5
    done
    local server="unix:$runtime/pulse/native"
    for _ in $(seq 100); do
        PULSE_SERVER=$server pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    PULSE_SERVER=$server pactl load-module module-null-sink sink_name=nullsink >/dev/null 2>&1 &&
        export QEL_BENCH_PIPEWIRE_SERVER=$server ||
        echo "bench: PipeWire did not start; its rows are left out" >&2
}
start_pipewire_server

if [ -n "$smoke" ]; then
    media="$work/media"
    "$root/bench/make-bench-media.sh" "$media" 2
    "$build_dir/bench/qel_bench" --media "$media" --pairs 1 --seconds 2 --smoke --out "$work/table.md"
    exit 0
fi
media="$build_dir/bench-media"
"$root/bench/make-bench-media.sh" "$media" 20
if [ -n "$only" ]; then
    "$build_dir/bench/qel_bench" --media "$media" --pairs "$pairs" --seconds 20 --only "$only"
    exit 0
fi
"$build_dir/bench/qel_bench" --media "$media" --pairs "$pairs" --seconds 20 --out "$work/table.md"
{
    echo "# Performance"
    echo
    echo "Made by \`bench/run.sh\` on a real run; every figure below comes from it."
    echo
    cat "$work/table.md"
    echo
    cat "$root/bench/performance-notes.md"
} >"$root/docs/performance.md"
echo "Written: docs/performance.md"
