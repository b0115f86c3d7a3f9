#!/usr/bin/python3
"""A window with a text field, for tests on a real desktop: it asks for the focus when it opens
and prints, line by line, "FOCUS in" and "FOCUS out" as the keyboard focus comes and goes and
"TEXT <the field's text>" after every change, so that a test can tell which typed keys reached it.
Its Wayland app id and X11 class are harkwell-focus-log."""
import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

GLib.set_prgname("harkwell-focus-log")
window = Gtk.Window(title="Focus log")
field = Gtk.Entry()
field.connect("changed", lambda entry: print("TEXT " + entry.get_text(), flush=True))
window.connect("focus-in-event", lambda *_: print("FOCUS in", flush=True))
window.connect("focus-out-event", lambda *_: print("FOCUS out", flush=True))
window.connect("destroy", Gtk.main_quit)
window.add(field)
window.show_all()
window.present()
Gtk.main()
