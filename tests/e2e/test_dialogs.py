"""Save Record and Load Record through the real file dialogs in tray mode: a recording is saved
under a typed name (the dialog adds the extension), emptied, loaded back and replayed. Empty
Record chosen from the hotkey menu while the Save dialog is open is refused: the save that
follows writes the whole recording."""

import os
import struct
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
