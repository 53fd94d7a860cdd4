"""The end-to-end tests' fixtures: the programs, a scratch folder, the program in the tray. Tests
run in tools/harness: pytest outside one, or in one without their monitors, runs again in one.
Tests that need other monitors than the rest run after them, each layout in a harness of its own,
so that one command runs the whole folder."""

import os
import shutil
import signal
import subprocess
import sys

import pytest
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import qvtest  # noqa: E402

OPTIONS = {"exe": "quorvatellianis.exe", "probe": "probe.exe", "tool": "qvjournal.exe",
           "out": "a folder for screenshots"}


def pytest_addoption(parser):
    for name, what in OPTIONS.items():
        parser.addoption("--" + name, help=what)


@pytest.hookimpl(tryfirst=True)
def pytest_configure(config):
    config.addinivalue_line("markers", "monitors(layout): needs tools/harness --monitors layout")
    # CTest's time-out ends a test with SIGTERM: the teardown still stops the programs.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    if os.environ.get("QV_HARNESS_DIR") and not config.option.basetemp:
        config.option.basetemp = os.path.join(os.environ["QV_HARNESS_DIR"], "pytest")


def _layout(item):
    marker = item.get_closest_marker("monitors")
    return marker.args[0] if marker else None


def pytest_collection_modifyitems(config, items):
    # This session runs the tests without monitors of their own (or, where all have some, those of
    # the first); the others wait for pytest_sessionfinish.
    layouts = [_layout(item) for item in items]
    config.qv_monitors = None if None in layouts or not layouts else layouts[0]
    config.qv_elsewhere, config.qv_elsewhere_said = {}, []
    if config.option.collectonly:
        return
    for item, layout in zip(items, layouts):
        if layout != config.qv_monitors:
            config.qv_elsewhere.setdefault(layout, []).append(item)
    if config.qv_elsewhere:
        moved = [item for group in config.qv_elsewhere.values() for item in group]
        config.hook.pytest_deselected(items=moved)
        items[:] = [item for item in items if item not in moved]
        for layout, group in config.qv_elsewhere.items():
            config.pluginmanager.get_plugin("terminalreporter").write_line(
                "%d tests run after the rest, with the monitors %s" % (len(group), layout))


def pytest_collection_finish(session):
    monitors = session.config.qv_monitors
    if not (qvtest.in_harness(monitors) or session.config.option.collectonly):
        session.config.pluginmanager.getplugin("capturemanager").suspend_global_capture()
        qvtest.require_harness(monitors, [sys.executable, "-B", "-m", "pytest",
                                          *session.config.invocation_params.args])


def _option(option, name, program=True):
    def value(request):
        path = request.config.getoption(option)
        if program and not (path and os.path.isfile(path)):
            pytest.fail("--%s must name %s" % (option, OPTIONS[option]))
        return path
    return pytest.fixture(value, scope="session", name=name)


exe, probe_exe, tool, out = (_option("exe", "exe"), _option("probe", "probe_exe"),
                             _option("tool", "tool"), _option("out", "out", program=False))


@pytest.fixture(scope="session")
def game_probe_exe(probe_exe):
    """game_probe.exe, built beside probe.exe."""
    path = os.path.join(os.path.dirname(probe_exe), "game_probe.exe")
    if not os.path.isfile(path):
        pytest.fail("no game_probe.exe beside %s" % probe_exe)
    return path


@pytest.fixture
def scratch(tmp_path):
    """scratch(name): a path for a file of this test's own."""
    return lambda name: str(tmp_path / name)


@pytest.fixture
def work(scratch, probe_exe):
    """A folder of this test's own holding probe.exe, for the commands of automation runs."""
    os.makedirs(scratch("work"))
    shutil.copy(probe_exe, scratch("work/probe.exe"))
    return scratch("work")


@pytest.fixture
def tray(exe):
    """The program started in the notification area; stopped at teardown unless it ended."""
    return qvtest.start_tray(exe)


def pytest_sessionfinish(session):
    # The tests of each other layout, in a pytest of their own inside a harness with its monitors.
    config = session.config
    elsewhere = getattr(config, "qv_elsewhere", {})
    if not elsewhere or session.shouldstop or session.shouldfail:
        return
    options = []
    for name in OPTIONS:
        value = config.getoption(name)
        if value:
            options.append("--%s=%s" % (name, os.path.join(config.invocation_params.dir, value)))
    config.pluginmanager.getplugin("capturemanager").suspend_global_capture()
    for layout, items in elsewhere.items():
        config.pluginmanager.get_plugin("terminalreporter").write_sep(
            "=", "the tests with the monitors %s" % layout)
        argv = [sys.executable, "-B", "-m", "pytest", *options, *(item.nodeid for item in items)]
        code = subprocess.call(qvtest.harness_command(layout, argv), cwd=str(config.rootpath))
        config.qv_elsewhere_said.append("%d tests with the monitors %s: %s" % (
            len(items), layout, "passed" if code == 0 else "FAILED (exit %d, above)" % code))
        if code != 0 and session.exitstatus == pytest.ExitCode.OK:
            session.exitstatus = pytest.ExitCode.TESTS_FAILED


def pytest_terminal_summary(terminalreporter, config):
    for line in getattr(config, "qv_elsewhere_said", []):
        terminalreporter.write_line(line)


def pytest_runtest_teardown(item):
    qvtest.cleanup()  # every program the test started


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    # A failure keeps the screen (in --out) and shows what the programs said on the debug channel.
    report, folder = (yield).get_result(), item.config.getoption("out")
    if report.failed and call.when != "teardown":
        if folder:
            os.makedirs(folder, exist_ok=True)
            shot = os.path.join(folder, "failure-%s.png" % item.name)
            subprocess.run(["import", "-window", "root", shot], timeout=30)
            report.sections.append(("screen", "kept in " + shot))
        report.sections.append(("what the programs reported (standard error, debug channel)",
                                qvtest.cleanup() or "nothing"))
