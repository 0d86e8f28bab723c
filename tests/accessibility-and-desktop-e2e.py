#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The real program on a private session bus, read as assistive technologies
read it (AT-SPI through Qt's bridge) and driven as the desktop drives it: the
media controls (MPRIS) play, pause, stop and quit, a stand-in screen saver
records the inhibitions. Usage: accessibility-and-desktop-e2e.py QEL CLIPS"""

import os
import subprocess
import sys
import threading

from desktop_session import (application, check, failures, mpris, mpris_property,
                             start_session_bus, wait_for)

qel_binary, clips = sys.argv[1], sys.argv[2]
# The bus must exist before the AT-SPI library connects, at import.
bus_daemon = start_session_bus()

import pyatspi  # noqa: E402
from gi.repository import Gio, GLib  # noqa: E402

SCREEN_SAVER = """<node><interface name="org.freedesktop.ScreenSaver">
<method name="Inhibit"><arg type="s" direction="in"/><arg type="s" direction="in"/>
<arg type="u" direction="out"/></method>
<method name="UnInhibit"><arg type="u" direction="in"/></method>
</interface></node>"""
calls = []


def screen_saver_call(connection, sender, path, interface, method, parameters, invocation):
    if method == "Inhibit":
        calls.append("Inhibit " + parameters.unpack()[0])
        invocation.return_value(GLib.Variant("(u)", (len(calls),)))
    else:
        calls.append("UnInhibit")
        invocation.return_value(None)


context = GLib.MainContext.new()
loop = GLib.MainLoop.new(context, False)
stand_in_ready = threading.Event()


def serve_screen_saver():
    context.push_thread_default()
    connection = Gio.DBusConnection.new_for_address_sync(
        os.environ["DBUS_SESSION_BUS_ADDRESS"],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    info = Gio.DBusNodeInfo.new_for_xml(SCREEN_SAVER).interfaces[0]
    connection.register_object("/org/freedesktop/ScreenSaver", info, screen_saver_call)
    connection.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "RequestName", GLib.Variant("(su)", ("org.freedesktop.ScreenSaver", 4)),
                         None, Gio.DBusCallFlags.NONE, -1, None)
    stand_in_ready.set()
    loop.run()


threading.Thread(target=serve_screen_saver, daemon=True).start()
stand_in_ready.wait(10)

environment = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
environment.pop("QT_QPA_PLATFORM", None)
qel = subprocess.Popen([qel_binary, clips], env=environment, cwd="/")


def nodes(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child)


# Roles by value: their names change between releases (AT-SPI 2.56 calls a push
# button "button").
def find(role, name=None, description=None):
    for node in nodes(app):
        if node.getRole() == role and (name is None or node.name == name) and (
                description is None or node.description == description):
            return node
    return None


def sensitive(node):
    return node.getState().contains(pyatspi.STATE_SENSITIVE)


def panel(name):
    return find(pyatspi.ROLE_LABEL, description=name).name


try:
    check(wait_for(lambda: application() is not None), "Qel is on the accessibility bus")
    app = application()
    check(wait_for(lambda: find(pyatspi.ROLE_LIST, "Files").childCount > 0),
          "the file list is read")

    # Every control the user can see has a name and a role.
    unnamed = [n.getRoleName() for n in nodes(app)
               if n.getState().contains(pyatspi.STATE_SHOWING) and not n.name]
    check(not unnamed, "every showing control is named (unnamed: %s)" % unnamed)
    check(find(pyatspi.ROLE_FRAME, "Qel") is not None, "the main window is a frame")
    buttons = {name: find(pyatspi.ROLE_PUSH_BUTTON, name)
               for name in ["Previous", "Play", "Pause", "Stop", "Next"]
               if find(pyatspi.ROLE_PUSH_BUTTON, name) is not None}
    check(sorted(buttons) == sorted(["Previous", "Play", "Pause", "Stop", "Next"]),
          "the five toolbar buttons by name")
    check(not any(sensitive(b) for b in buttons.values()), "idle, nothing selected: all disabled")
    status = find(pyatspi.ROLE_STATUS_BAR, "Status")
    check(status is not None and status.childCount == 6, "six status panels")
    check(panel("Sizes") == "Sizes: 400x 300", "the sizes panel reads the video area")
    seek = find(pyatspi.ROLE_PROGRESS_BAR, "Seek bar")
    check(seek is not None and seek.queryValue().currentValue == 0, "the seek bar reads 0")
    files = find(pyatspi.ROLE_LIST, "Files")
    check([files.getChildAtIndex(i).name for i in range(3)] == ["a-long.mpg", "bars.asf",
                                                                "bars.mpeg"], "file names listed")

    # Select the first two files with the mouse, then play from the desktop's controls.
    window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--class", "qel"],
                            capture_output=True, text=True, timeout=10).stdout.split()[0]
    first = files.getChildAtIndex(0).queryComponent().getExtents(pyatspi.WINDOW_COORDS)
    second = files.getChildAtIndex(1).queryComponent().getExtents(pyatspi.WINDOW_COORDS)
    subprocess.run(["xdotool", "mousemove", "--window", window, str(first.x + 5),
                    str(first.y + first.height // 2), "click", "1"], check=True)
    subprocess.run(["xdotool", "mousemove", "--window", window, str(second.x + 5),
                    str(second.y + second.height // 2), "keydown", "shift", "click", "1",
                    "keyup", "shift"], check=True)
    check(wait_for(lambda: sensitive(buttons["Play"])), "two selected: Play is enabled")
    check(wait_for(lambda: mpris_property("CanPlay")), "MPRIS: CanPlay")
    check(mpris_property("Identity", "org.mpris.MediaPlayer2") == "Qel", "MPRIS: Identity")

    mpris("Play")
    check(wait_for(lambda: panel("File name") == "File name: a-long.mpg"),
          "playing: the file name panel reads a-long.mpg")
    check(wait_for(lambda: panel("Play list") == "Play list: 1/    2"), "the play list panel")
    check(wait_for(lambda: seek.queryValue().maximumValue > 0 and
                   seek.queryValue().currentValue > 0), "the seek bar's position moves")
    check(sensitive(buttons["Pause"]) and sensitive(buttons["Stop"]) and
          sensitive(buttons["Next"]) and not sensitive(buttons["Previous"]),
          "playing the first: Pause, Stop, Next enabled, Previous not")
    check(wait_for(lambda: mpris_property("PlaybackStatus") == "Playing"), "MPRIS: Playing")
    check(wait_for(lambda: calls == ["Inhibit Qel"]), "the screen saver is held")
    time_before = panel("Time")
    check(wait_for(lambda: panel("Time") != time_before), "the time panel runs")

    mpris("Pause")
    check(wait_for(lambda: mpris_property("PlaybackStatus") == "Paused"), "MPRIS: Paused")
    check(wait_for(lambda: calls == ["Inhibit Qel", "UnInhibit"]), "paused: released")
    mpris("Next")
    check(wait_for(lambda: panel("File name") == "File name: bars.asf"), "MPRIS Next: bars.asf")
    check(wait_for(lambda: sensitive(buttons["Previous"]) and not sensitive(buttons["Next"])),
          "on the second: Previous enabled, Next not")
    check(wait_for(lambda: calls == ["Inhibit Qel", "UnInhibit", "Inhibit Qel"]),
          "Next plays on: held again")
    mpris("Stop")
    check(wait_for(lambda: panel("File name") == "File name"), "stopped: the file name is gone")
    check(wait_for(lambda: not sensitive(buttons["Stop"])), "stopped: Stop disabled")
    check(wait_for(lambda: calls == ["Inhibit Qel", "UnInhibit"] * 2),
          "stopped: released (%s)" % calls)

    mpris("Quit", "org.mpris.MediaPlayer2")
    try:
        code = qel.wait(10)
    except subprocess.TimeoutExpired:
        code = None
    check(code == 0, "MPRIS Quit: exit code 0 (got %s)" % code)
finally:
    if qel.poll() is None:
        qel.kill()
        qel.wait()
    loop.quit()
    bus_daemon.terminate()
    bus_daemon.wait()

print("%d failed" % len(failures) if failures else "all passed")
sys.exit(1 if failures else 0)
