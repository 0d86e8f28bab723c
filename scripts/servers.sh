# SPDX-License-Identifier: GPL-3.0-or-later
# Private servers for commands that drive the real window: an X server (Xvfb),
# optionally one with a window manager, and a PulseAudio server with a null
# sink. Sourced, not run. The caller sets `work` to a scratch folder first;
# everything started here is stopped by the EXIT trap it installs.

server_pids=()
stop_servers() {
    # Newest first: the window manager before its X server.
    for ((i = ${#server_pids[@]} - 1; i >= 0; i--)); do
        { kill "${server_pids[i]}" && wait "${server_pids[i]}"; } 2>/dev/null || true
    done
    rm -rf "$work"
}
trap stop_servers EXIT

# -displayfd picks a free display number. Sets x_display. -noreset: a server
# that resets as its last client leaves refuses the next test's first connection.
start_x_server() { # name
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/$1.display" \
        >"$work/$1.log" 2>&1 &
    server_pids+=($!)
    for _ in $(seq 100); do
        [ -s "$work/$1.display" ] && break
        sleep 0.1
    done
    [ -s "$work/$1.display" ] || { echo "Xvfb did not start" >&2; cat "$work/$1.log" >&2; exit 1; }
    x_display=":$(tr -d '\n' <"$work/$1.display")"
}

start_window_manager() { # display
    DISPLAY=$1 openbox --sm-disable >"$work/openbox.log" 2>&1 &
    server_pids+=($!)
    for _ in $(seq 100); do
        DISPLAY=$1 xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.1
    done
    echo "openbox did not start" >&2
    cat "$work/openbox.log" >&2
    exit 1
}

# Exports XDG_RUNTIME_DIR, where clients find the server.
start_sound_server() {
    export XDG_RUNTIME_DIR="$work/runtime"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm \
        --load="module-null-sink sink_name=nullsink" --load=module-native-protocol-unix \
        >"$work/pulse.log" 2>&1 &
    server_pids+=($!)
    for _ in $(seq 100); do
        [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && return 0
        sleep 0.1
    done
    echo "PulseAudio did not start" >&2
    cat "$work/pulse.log" >&2
    exit 1
}

# Exports DBUS_SESSION_BUS_ADDRESS: the player's media controls and screen saver
# calls go to a bus of our own, never to the user's desktop.
start_session_bus() {
    dbus-daemon --session --nofork --print-address=3 3>"$work/bus.address" \
        >"$work/bus.log" 2>&1 &
    server_pids+=($!)
    for _ in $(seq 100); do
        [ -s "$work/bus.address" ] && break
        sleep 0.1
    done
    [ -s "$work/bus.address" ] || { echo "dbus-daemon did not start" >&2; cat "$work/bus.log" >&2; exit 1; }
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus.address")
    export DBUS_SESSION_BUS_ADDRESS
}

# Exports QEL_BENCH_PIPEWIRE_SERVER: PipeWire with its pulse server and session
# manager, beside the PulseAudio server, in a runtime folder of its own and on a
# bus of its own (the session manager needs one). The benchmark plays there too.
# Where PipeWire is missing or does not start, its rows are left out.
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
