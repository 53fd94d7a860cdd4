"""Save Record and Load Record through the real file dialogs in tray mode: a recording is saved
under a typed name (the dialog adds the extension), emptied, loaded back and replayed. Empty
Record chosen from the hotkey menu while the Save dialog is open is refused: the save that
follows writes the whole recording. A save onto a file another program holds is told in a
message box and leaves the file as it was. With Sound off, a recording loaded and saved back
under its name keeps its sound file."""

import os
import struct
import subprocess
import time

import qvtest

def test_dialogs(tray, probe_exe, scratch, tmp_path):
    folder = str(tmp_path)
    probe = qvtest.start_probe(probe_exe, scratch("recorded.log"), timeout_s=120)
    probe.focus()
    qvtest.key("ctrl+alt+shift+r")
    time.sleep(0.3)
    qvtest.type_text("saved", delay_ms=60)
    qvtest.key("ctrl+alt+shift+s")
    probe.quit()

    qvtest.open_menu(qvtest.MENU_CORNER)
    qvtest.key("s")  # &Save Record
    qvtest.wait_window("^Save As$", timeout=15)
    qvtest.open_menu(qvtest.MENU_CORNER)
    qvtest.key("e")  # &Empty Record, while the dialog is open
    time.sleep(0.5)
    assert tray.poll() is None, "the program ended while its Save dialog was open"
    qvtest.answer_file_dialog("Save As", os.path.join(folder, "take1"))
    saved = os.path.join(folder, "take1.jnf")
    # The target exists, empty and locked, while the save is written beside it.
    qvtest.wait_until(lambda: os.path.exists(saved) and os.path.getsize(saved) > 40, timeout=10,
                      what="take1.jnf to be written")
    with open(saved, "rb") as f:
        data = f.read()
    assert data[:16] == b"Quorvatellianis\0", "signature %r" % data[:16]
    header_size, record_size, count = struct.unpack("<3I", data[16:28])
    assert len(data) == header_size + record_size * count and count >= 10, (
        "%d bytes, %d records" % (len(data), count))

    qvtest.open_menu(qvtest.MENU_CORNER)
    qvtest.key("e")  # &Empty Record
    time.sleep(0.5)
    qvtest.open_menu(qvtest.MENU_CORNER)
    # "&Load Record" shares its letter with "&Lower Speed": walk down to it instead.
    qvtest.key(*(["Down"] * 9), "Return")
    qvtest.answer_file_dialog("Open", saved)

    replay = qvtest.start_probe(probe_exe, scratch("replayed.log"), timeout_s=120)
    replay.focus()
    qvtest.key("ctrl+alt+shift+p")
    typed = lambda: "".join(e.char for e in replay.events("WM_CHAR"))
    qvtest.wait_until(lambda: typed() == "saved", timeout=20,
                      what="the loaded recording to type 'saved' (saw %r)" % typed())
    # The recording ends with the stop hotkey's modifiers; while they replay, a key meant for
    # the menu is taken with them.
    replay.wait_quiet()
    replay.quit()

    code = qvtest.exit_from_menu(tray)
    assert code == 0, "the program exited with %d" % code


def save_over(path):
    """Chooses Save Record, answers the dialog with an existing file's path and the question
    whether to replace it with Yes."""
    qvtest.open_menu(qvtest.MENU_CORNER)
    qvtest.key("s")  # &Save Record
    dialog = qvtest.wait_window("^Save As$", timeout=15)
    qvtest.focus(dialog)
    time.sleep(0.3)
    qvtest.type_text(qvtest.wine_path(path), delay_ms=10)
    qvtest.key("Return")
    # Wine asks in a window titled "Error", on the dialog's thread, which takes the key.
    qvtest.wait_window("^Error$", timeout=10)
    time.sleep(0.3)
    qvtest.key("Return")  # Yes
    qvtest.wait_until(lambda: not qvtest.find_windows("^Save As$"), timeout=15,
                      what="the Save As dialog to close")


def test_a_failed_save_is_told(tray, probe_exe, scratch, out, tmp_path):
    held = str(tmp_path / "held.jnf")
    with open(held, "wb") as f:
        f.write(b"an older recording")
    holder = qvtest.start_probe(probe_exe, scratch("holder.log"), timeout_s=120,
                                more=("--hold", qvtest.wine_path(held)))
    qvtest.key("ctrl+alt+shift+r")
    for x in (300, 320, 340):
        qvtest.mouse_move(x, 300)
        time.sleep(0.1)
    qvtest.key("ctrl+alt+shift+s")

    save_over(held)
    box = qvtest.wait_window("^Quorvatellianis$", timeout=15)
    time.sleep(0.5)
    shot = qvtest.screenshot(os.path.join(out or str(tmp_path), "failed-save.png"))
    # Drawn, with its icon and words: a box left blank would hold a colour or two.
    where = dict(f.split("=") for f in qvtest.xdotool("getwindowgeometry", "--shell", box).split())
    colours = subprocess.run(["convert", shot, "-crop", "%sx%s+%s+%s" % (
        where["WIDTH"], where["HEIGHT"], where["X"], where["Y"]), "+repage", "-format", "%k",
        "info:"], capture_output=True, text=True, timeout=30).stdout
    assert int(colours or 0) > 8, "the message box in %s shows %s colours" % (shot, colours)
    with open(held, "rb") as f:
        assert f.read() == b"an older recording", "the held file was changed"
    qvtest.focus(box)
    qvtest.key("Return")
    qvtest.wait_until(lambda: not qvtest.find_windows("^Quorvatellianis$"), timeout=10,
                      what="the message box to close")
    holder.quit()
    code = qvtest.exit_from_menu(tray)
    assert code == 0, "the program exited with %d" % code


def test_sound_off_keeps_a_loaded_recordings_track(tray, tmp_path):
    journal = str(tmp_path / "rec.jnf")
    qvtest.write_journal(journal, [(0x200, 300, 300, 1000), (0x200, 310, 300, 1100)])
    track = qvtest.JOURNAL_SIGNATURE + bytes(range(256)) * 40
    with open(journal + "_", "wb") as f:
        f.write(track)

    qvtest.open_menu(qvtest.MENU_CORNER)
    qvtest.key("o")  # S&ound: off
    time.sleep(0.5)
    qvtest.open_menu(qvtest.MENU_CORNER)
    # "&Load Record" shares its letter with "&Lower Speed": walk down to it instead.
    qvtest.key(*(["Down"] * 9), "Return")
    qvtest.answer_file_dialog("Open", journal)
    save_over(journal)
    time.sleep(1)
    assert os.path.exists(journal + "_"), "the sound file is gone"
    with open(journal + "_", "rb") as f:
        assert f.read() == track, "the sound file was changed"
    code = qvtest.exit_from_menu(tray)
    assert code == 0, "the program exited with %d" % code
