"""Helpers for end-to-end tests and benchmarks: Windows programs under Wine, driven with xdotool
like a user. Standard library only.

They run inside tools/harness, which provides the display, the Wine prefix, the virtual desktop
and the sound server; these helpers only use what it exports. The end-to-end tests are pytest
tests (tests/e2e/conftest.py gives them the programs, a scratch folder and the clean-up):

    def test_typing(probe_exe, scratch):
        probe = qvtest.start_probe(probe_exe, scratch("probe.log"))
        probe.focus()
        qvtest.type_text("hi")
        probe.wait_for(lambda e: e.kind == "WM_KEYUP" and e.vk == ord("I"))
        probe.quit()
"""

from .run import *  # noqa: F401,F403
from .journal import *  # noqa: F401,F403
from .processes import *  # noqa: F401,F403
from .desktop import *  # noqa: F401,F403
from .probe import *  # noqa: F401,F403
from .program import *  # noqa: F401,F403
