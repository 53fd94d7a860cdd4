"""The X display of the harness's Wine desktop, driven with xdotool as a user drives it: keys,
the mouse, the program's menu, the file dialogs, the tray icon, screenshots."""

import os
import subprocess
import time

from .run import TestFailure, wait_until
from .processes import wine_path

DESKTOP = os.environ.get("QV_DESKTOP", "qv")


def xdotool(*args, timeout=10.0):
    """Runs xdotool with args; returns its output. Fails the test when xdotool fails."""
    cmd = ["xdotool"] + [str(a) for a in args]
    result = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    if result.returncode != 0:
        raise TestFailure("%s failed: %s" % (" ".join(cmd), result.stderr.strip()))
    return result.stdout


def find_windows(name):
    """Shown X windows whose title matches the regular expression name (empty list when none)."""
    # Wine may keep an unmapped twin of a window; focusing that one fails.
    result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                            capture_output=True, text=True, timeout=10)
    return [int(w) for w in result.stdout.split()]


def wait_window(name, timeout=10.0):
    """Waits for an X window whose title matches the regular expression name; returns its id."""
    return wait_until(lambda: find_windows(name), timeout, what="a window named %r" % name)[0]


def desktop_window():
    """The X window of the harness's Wine virtual desktop."""
    return wait_window("^%s - Wine desktop$" % DESKTOP)


def focus(window):
    """Gives X focus to a window: with no window manager nothing else moves it, and Wine sends
    keys through the thread of the window that holds it."""
    xdotool("windowfocus", window)


def key(*keys, delay_ms=30):
    """Presses and releases each xdotool key combination in turn ("a", "ctrl+alt+shift+r", ...)."""
    xdotool("key", "--delay", delay_ms, *keys)


def key_down(k):
    xdotool("keydown", k)


def key_up(k):
    xdotool("keyup", k)


def type_text(text, delay_ms=30):
    """Types text as a user would, one key at a time (shift included for capitals)."""
    xdotool("type", "--delay", delay_ms, text)


def mouse_location():
    """The pointer's position on the display: (x, y)."""
    fields = dict(f.split(":") for f in xdotool("getmouselocation").split())
    return int(fields["x"]), int(fields["y"])


def mouse_move(x, y):
    """Moves the pointer to screen (= desktop) coordinates x, y."""
    # --sync waits for the pointer to move, which never happens when it is there already.
    if mouse_location() != (x, y):
        xdotool("mousemove", "--sync", x, y)


def click(button=1, x=None, y=None, repeat=1):
    """Clicks a button (1 left, 2 middle, 3 right), first moving to x, y when given."""
    if x is not None:
        mouse_move(x, y)
    xdotool("click", "--repeat", repeat, button)


def mouse_down(button=1):
    xdotool("mousedown", button)


def mouse_up(button=1):
    xdotool("mouseup", button)


def wheel(notches):
    """Turns the wheel: positive notches away from the user (up), negative towards."""
    xdotool("click", "--repeat", abs(notches), 4 if notches > 0 else 5)


# A menu opened here keeps clear of the file dialogs, which open at the desktop's top left.
MENU_CORNER = (150, 120)
# The right-hand eye of the icon in the 1000x700 desktop's notification area: balloon tails reach
# the icon's upper left, never this corner.
TRAY_ICON_EYE = "8x9+990+690"


def tray_icon_shown():
    """True while the tray icon's eye holds its black outline (the task bar and the desktop behind
    it hold no black)."""
    result = subprocess.run(["import", "-window", "root", "-crop", TRAY_ICON_EYE, "+repage",
                             "-format", "%[fx:minima.intensity]", "info:"], capture_output=True,
                            text=True, timeout=30)
    return float(result.stdout.strip() or 1) < 0.1


def open_menu(at=(500, 400)):
    """Opens the program's menu with Ctrl+Alt+Shift+Delete at the given mouse position, waits for
    it to be shown and gives X focus to the menu's own window, through which Wine passes keys to
    the menu. (Through the desktop window too, but not while a playback's low-level keyboard hook
    is in.) Returns the menu's window."""
    mouse_move(*at)
    menu = show_menu(lambda: key("ctrl+alt+shift+Delete"))
    focus(menu)
    return menu


def show_menu(action):
    """Does what opens the program's menu and waits for it: a new untitled window, returned. A
    balloon is untitled too; the menu is the taller."""
    shown = set(find_windows("^$"))
    action()
    new = wait_until(lambda: set(find_windows("^$")) - shown, timeout=10, what="the program's menu")
    return max(new, key=_height)


def _height(window):
    geometry = dict(f.split("=") for f in xdotool("getwindowgeometry", "--shell", window).split())
    return int(geometry["HEIGHT"])


def exit_from_menu(app, timeout=15.0, at=(500, 400)):
    """Chooses Exit, the last item, from the menu and returns the exit code. A busy machine may
    show the menu too late for the keys: then the menu is opened again, as a user would. (Up and
    Return rather than the mnemonic x: under Wine the menu takes no character key from the user
    while a playback's low-level keyboard hook is in, and a playback waits while the menu is
    open.)"""
    deadline = time.monotonic() + timeout
    while True:
        try:
            open_menu(at)
        except TestFailure:
            if app.poll() is not None:
                return app.returncode
            if time.monotonic() >= deadline:
                raise
            continue
        key("Up", "Return")
        try:
            return app.wait(min(5.0, max(0.5, deadline - time.monotonic())))
        except subprocess.TimeoutExpired:
            if time.monotonic() >= deadline:
                raise TestFailure("Exit from the menu did not end the program")


def activate(window):
    """Gives the window X focus and clicks its caption, which makes it the active window as a
    user's click would: keys then reach it also after another window of the program (its menu)
    took the foreground."""
    focus(window)
    geometry = dict(f.split("=") for f in xdotool("getwindowgeometry", "--shell", window).split())
    click(1, int(geometry["X"]) + 100, int(geometry["Y"]) + 8)
    time.sleep(0.3)


def answer_file_dialog(title, path):
    """Types a full path into the open or save dialog of that title and confirms it; waits for
    the dialog to close."""
    dialog = wait_window("^%s$" % title, timeout=15)
    activate(dialog)
    type_text(wine_path(path), delay_ms=10)
    key("Return")
    wait_until(lambda: not find_windows("^%s$" % title), timeout=15,
               what="the %s dialog to close" % title)


def screenshot(path):
    """Saves the whole display as a PNG at path (directories created); returns path."""
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    subprocess.run(["import", "-window", "root", path], check=True, timeout=30,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


