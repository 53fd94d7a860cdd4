"""Helpers for end-to-end tests: Windows programs under Wine, driven with xdotool like a user.

Tests run inside tools/harness, which provides the display, the Wine prefix, the virtual desktop
and the sound server; these helpers only use what it exports. Standard library only.

The package lives in tools/: CTest, tools/bench and ./run put that folder on PYTHONPATH, and the
scripts in tools/ find it beside them. A test script typically reads (`PYTHONPATH=tools python3
tests/e2e/test_x.py --probe ...` re-runs itself inside the harness when started outside one):

    import sys
    sys.dont_write_bytecode = True  # no __pycache__ in the source tree
    import qvtest

    def test(args):
        probe = qvtest.start_probe(args.probe, qvtest.scratch("probe.log"))
        probe.focus()
        qvtest.type_text("hi")
        probe.wait_for(lambda e: e.kind == "WM_KEYUP" and e.vk == ord("I"))
        probe.quit()

    qvtest.main(test)
"""

from .run import *  # noqa: F401,F403
from .journal import *  # noqa: F401,F403
from .processes import *  # noqa: F401,F403
from .desktop import *  # noqa: F401,F403
from .probe import *  # noqa: F401,F403
from .program import *  # noqa: F401,F403
