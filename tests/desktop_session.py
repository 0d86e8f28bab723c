# SPDX-License-Identifier: GPL-3.0-or-later
"""What the tests of the real program on a desktop share: a report of checks, a
bounded wait, a private session bus, the player's media controls on it and the
player as assistive technologies see it."""

import os
import subprocess
import time

failures = []
MPRIS = "org.mpris.MediaPlayer2.qel"
PLAYER = "org.mpris.MediaPlayer2.Player"


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)


def wait_for(condition, seconds=15.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if condition():
                return True
        except Exception:
            pass
        time.sleep(0.05)
    return False


def start_session_bus():
    """Starts a private session bus for this process and its children; it must
    exist before the AT-SPI library is imported. Returns the bus's process."""
    daemon = subprocess.Popen(
        ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = daemon.stdout.readline().strip()
    return daemon


def _session():
    from gi.repository import Gio
    return Gio.bus_get_sync(Gio.BusType.SESSION, None)


def mpris(method, interface=PLAYER):
    from gi.repository import Gio
    _session().call_sync(MPRIS, "/org/mpris/MediaPlayer2", interface, method,
                         None, None, Gio.DBusCallFlags.NONE, 5000, None)


def mpris_property(name, interface=PLAYER):
    from gi.repository import Gio, GLib
    reply = _session().call_sync(MPRIS, "/org/mpris/MediaPlayer2",
                                 "org.freedesktop.DBus.Properties", "Get",
                                 GLib.Variant("(ss)", (interface, name)), None,
                                 Gio.DBusCallFlags.NONE, 5000, None)
    return reply.unpack()[0]


def application():
    """The player on the accessibility bus, or None."""
    import pyatspi
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        child = desktop.getChildAtIndex(i)
        if child is not None and child.name == "Qel":
            return child
    return None
