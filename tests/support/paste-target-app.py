#!/usr/bin/python3
"""Another application for paste tests: one GTK 3 window with an entry that takes text only from the keyboard.

    paste-target-app.py COMMAND_FIFO

The entry keeps out every change that does not come from a paste keystroke, as applications do that
accept an accessibility write of their value and then show their old content. It starts with the text
"Draft: " and the caret at its end. Commands arrive one per line on the named pipe and are acknowledged
on standard error with "done: <command>".

    focus guarded     give the entry keyboard focus
"""

import os
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

from command_pipe import say, serve  # noqa: E402


class PasteTargetWindow(Gtk.Window):
    def __init__(self):
        super().__init__(title="Paste target")
        self.set_default_size(360, 80)
        self.move(80, 300)
        self.pasting = False
        self.entry = Gtk.Entry()
        self.entry.set_text("Draft: ")
        self.entry.set_position(-1)
        # Connected after the initial text, so that only later changes are guarded.
        self.entry.connect("paste-clipboard", self.on_paste)
        self.entry.connect("insert-text", lambda entry, *_: self.guard(entry, "insert-text"))
        self.entry.connect("delete-text", lambda entry, *_: self.guard(entry, "delete-text"))
        self.add(self.entry)
        self.connect("destroy", Gtk.main_quit)
        self.connect("map-event", self.on_mapped)

    def on_paste(self, *_):
        # The pasted text arrives later, once the clipboard's owner has answered.
        self.pasting = True

    def guard(self, entry, signal):
        if not self.pasting:
            entry.stop_emission_by_name(signal)
            return
        GLib.idle_add(self.end_paste)

    def end_paste(self):
        self.pasting = False
        return False

    def on_mapped(self, *_):
        self.get_window().focus(Gdk.CURRENT_TIME)
        self.present()
        say("ready pid=%d" % os.getpid())
        return False

    def run(self, command):
        if command == "focus guarded":
            self.entry.grab_focus()
            self.entry.set_position(-1)
        else:
            say("unknown command: " + command)
        say("done: " + command)


def main():
    return serve(PasteTargetWindow(), __doc__)


if __name__ == "__main__":
    sys.exit(main())
