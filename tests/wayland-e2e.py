#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The real program under Wayland: a private headless weston (pixman renderer),
QT_QPA_PLATFORM=wayland, a private session bus. It checks the app id the
window gives the compositor, plays a clip picked through the accessibility
bus and started by the desktop's media controls, looks for the picture in
weston's screenshot, waits for the clip's end and quits with exit code 0.
The weston that Debian ships has no way to inject input (its test module is
not packaged), so the key bindings are checked under X only.
Usage: wayland-e2e.py QEL CLIPS"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

from desktop_session import (application, check, failures, mpris, mpris_property,
                             start_session_bus, wait_for)

qel_binary, clips = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
processes = []
work = tempfile.mkdtemp(prefix="qel-wayland-")
os.chmod(work, 0o700)


def stop_all():
    for process in reversed(processes):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
    shutil.rmtree(work, ignore_errors=True)


processes.append(start_session_bus())

wayland = dict(os.environ, XDG_RUNTIME_DIR=work, WAYLAND_DISPLAY="qel-test")
# The sound server the test command started lives in the old runtime folder.
pulse = os.path.join(os.environ.get("XDG_RUNTIME_DIR", "/nonexistent"), "pulse", "native")
if os.path.exists(pulse):
    wayland["PULSE_SERVER"] = "unix:" + pulse
for name in ("DISPLAY", "QT_QPA_PLATFORM", "WAYLAND_SOCKET"):
    wayland.pop(name, None)
weston_log = open(os.path.join(work, "weston.log"), "w")
# --debug lets weston-screenshooter take pictures.
processes.append(subprocess.Popen(
    ["weston", "--no-config", "--backend=headless-backend.so", "--use-pixman", "--socket=qel-test",
     "--width=1024", "--height=768", "--idle-time=0", "--debug"],
    env=wayland, stdout=weston_log, stderr=subprocess.STDOUT))
def find(node, role, name):
    if node.getRoleName() == role and node.name == name:
        return node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        found = find(child, role, name) if child is not None else None
        if found is not None:
            return found
    return None


def bars_pixels(png):
    """How many pixels of the screenshot are near the colour bars' yellow, cyan and magenta."""
    raw = subprocess.run(["convert", png, "-depth", "8", "rgb:-"], capture_output=True,
                         check=True, timeout=30).stdout
    counts = {"yellow": 0, "cyan": 0, "magenta": 0}
    near = {"yellow": (191, 191, 0), "cyan": (0, 191, 191), "magenta": (191, 0, 191)}
    for offset in range(0, len(raw) - 2, 3):
        pixel = raw[offset:offset + 3]
        for colour, (r, g, b) in near.items():
            if abs(pixel[0] - r) < 40 and abs(pixel[1] - g) < 40 and abs(pixel[2] - b) < 40:
                counts[colour] += 1
    return counts


try:
    check(wait_for(lambda: os.path.exists(os.path.join(work, "qel-test"))), "weston is up")
    qel_log = open(os.path.join(work, "qel.log"), "w")
    # The protocol log shows what the window told the compositor.
    qel = subprocess.Popen([qel_binary, clips], cwd="/", stdout=qel_log, stderr=subprocess.STDOUT,
                           env=dict(wayland, QT_QPA_PLATFORM="wayland", WAYLAND_DEBUG="client",
                                    QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
    processes.append(qel)
    check(wait_for(lambda: application() is not None), "Qel is up under Wayland")
    app = application()
    files = find(app, "list", "Files")
    names = [files.getChildAtIndex(i).name for i in range(files.childCount)]
    check("bars.mpg" in names, "the file list is read")
    app_ids = [line for line in open(os.path.join(work, "qel.log"), errors="replace")
               if "set_app_id(" in line]
    check(any('set_app_id("org.qelplayer.Qel")' in line for line in app_ids),
          "the app id is the desktop entry's name (%s)" % [line.strip()[-40:] for line in app_ids])

    files.queryTable().addRowSelection(names.index("bars.mpg"))
    check(wait_for(lambda: mpris_property("CanPlay")), "a file selected: CanPlay")
    started = time.monotonic()
    mpris("Play")
    check(wait_for(lambda: mpris_property("PlaybackStatus") == "Playing", 10),
          "MPRIS Play: Playing")
    time.sleep(0.8)
    for old in glob.glob(os.path.join(work, "wayland-screenshot*.png")):
        os.remove(old)
    shot = subprocess.run(["weston-screenshooter"], cwd=work, env=wayland, capture_output=True,
                          text=True, timeout=30)
    pictures = glob.glob(os.path.join(work, "wayland-screenshot*.png"))
    check(shot.returncode == 0 and len(pictures) == 1,
          "weston's screenshooter took a picture (%s)" % shot.stderr.strip())
    if pictures:
        counts = bars_pixels(pictures[0])
        # The 400x300 video area holds about 6000 pixels of each bar.
        check(all(count > 3000 for count in counts.values()),
              "the colour bars are on the screen (%s)" % counts)

    check(wait_for(lambda: mpris_property("PlaybackStatus") == "Stopped", 20),
          "the two-second clip plays to its end (%.1f s)" % (time.monotonic() - started))
    mpris("Quit", "org.mpris.MediaPlayer2")
    try:
        code = qel.wait(15)
    except subprocess.TimeoutExpired:
        code = None
    check(code == 0, "Quit: exit code 0 (got %s)" % code)
finally:
    if failures:
        for log in ("weston.log", "qel.log"):
            path = os.path.join(work, log)
            if os.path.exists(path):
                lines = [line for line in open(path, errors="replace")
                         if "wl_" not in line and "xdg_" not in line and "wp_" not in line]
                print("--- %s (protocol lines left out)\n%s" % (log, "".join(lines[-30:])))
    stop_all()

print("%d failed" % len(failures) if failures else "Wayland: all checks passed")
sys.exit(1 if failures else 0)
