"""What the small GTK test applications share: acknowledging on standard error and serving a command pipe."""

import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def say(line):
    sys.stderr.write(line + "\n")
    sys.stderr.flush()


def serve(window, usage):
    """Shows `window` and hands it each line of the pipe named on the command line (window.run); 2 without one."""
    if len(sys.argv) != 2:
        say(usage)
        return 2
    # Opened for reading and writing so that the pipe never reports an end when a writer closes it.
    commands = os.open(sys.argv[1], os.O_RDWR | os.O_NONBLOCK)
    pending = bytearray()

    def on_readable(fd, _condition):
        pending.extend(os.read(fd, 4096))
        while b"\n" in pending:
            line, _, rest = bytes(pending).partition(b"\n")
            pending[:] = rest
            window.run(line.decode("utf-8").strip())
        return True

    GLib.io_add_watch(commands, GLib.PRIORITY_DEFAULT, GLib.IO_IN, on_readable)
    window.show_all()
    Gtk.main()
    return 0
