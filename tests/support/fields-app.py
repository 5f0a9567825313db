#!/usr/bin/python3
"""Another application for accessibility tests: one GTK 3 window with the kinds of fields a user types into.

    fields-app.py COMMAND_FIFO

The window holds a label, a single-line entry with a placeholder, a password entry and a multi-line text
view. Commands arrive one per line on the named pipe, so tests move focus for real without a window
manager; each is acknowledged on standard error with "done: <command>".

    focus entry|password|textview|label   give the widget keyboard focus
    select entry START END                select characters START..END (GTK counts characters)
    report entry                          print "entry text=<text>" as GTK holds it
"""

import os
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402

from command_pipe import say, serve  # noqa: E402


class FieldsWindow(Gtk.Window):
    def __init__(self):
        super().__init__(title="Fields")
        self.set_default_size(420, 320)
        # Without a window manager the window stays where it is put; away from 0,0 so that
        # coordinates are not trivially right.
        self.move(40, 60)
        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6, margin=12)
        self.label = Gtk.Label(label="Subject of the note")
        self.entry = Gtk.Entry(placeholder_text="Write a subject")
        self.password = Gtk.Entry(visibility=False)
        self.textview = Gtk.TextView()
        self.textview.set_size_request(380, 160)
        self.textview.get_buffer().set_text("First line\nSecond line")
        for widget in (self.label, self.entry, self.password, self.textview):
            box.pack_start(widget, False, False, 0)
        self.add(box)
        self.widgets = {"entry": self.entry, "password": self.password, "textview": self.textview, "label": self.label}
        self.connect("destroy", Gtk.main_quit)
        self.connect("map-event", self.on_mapped)

    def on_mapped(self, *_):
        # Nothing gives the window focus without a window manager: take it, as a manager would give it.
        self.get_window().focus(Gdk.CURRENT_TIME)
        self.present()
        say("ready pid=%d" % os.getpid())
        return False

    def run(self, command):
        words = command.split()
        if len(words) >= 2 and words[0] == "focus" and words[1] in self.widgets:
            widget = self.widgets[words[1]]
            widget.set_can_focus(True)
            widget.grab_focus()
        elif len(words) == 4 and words[0] == "select" and words[1] == "entry":
            self.entry.select_region(int(words[2]), int(words[3]))
        elif words == ["report", "entry"]:
            say("entry text=" + self.entry.get_text())
        else:
            say("unknown command: " + command)
        say("done: " + command)


def main():
    return serve(FieldsWindow(), __doc__)


if __name__ == "__main__":
    sys.exit(main())
