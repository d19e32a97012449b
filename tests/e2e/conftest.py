"""Fixtures of the end-to-end tests: one Wine session, one stage per test."""

from __future__ import annotations

import os
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
import expected  # noqa: E402
from harness import JourneySession, Stage, WineSession  # noqa: E402

REPO = Path(__file__).resolve().parents[2]


def pytest_addoption(parser):
    parser.addoption("--build-dir", default=str(REPO / "build" / "windows"),
                     help="the Windows build folder holding korvane_setup.exe")
    parser.addoption("--signed-installer", default="",
                     help="a signed korvane_setup.exe with the build folder's payloads; "
                          "the tests marked signed run only when it is given")
    parser.addoption("--pwsh", default="",
                     help="PowerShell 7 (pwsh) to run the scripts in; the tests marked engine "
                          "run only when it is given")
    parser.addoption("--windows-powershell", default="",
                     help="a Windows build of PowerShell (powershell.exe) that runs under Wine; "
                          "the tests marked journey run only when it is given")
    parser.addoption("--native-build-dir", default=str(REPO / "build" / "native"),
                     help="the native build folder holding tests/engine/script_tool")


def _leave_out(config, items, marker: str) -> list:
    dropped = [item for item in items if item.get_closest_marker(marker)]
    if dropped:
        config.hook.pytest_deselected(items=dropped)
        items[:] = [item for item in items if not item.get_closest_marker(marker)]
    return dropped


# The longest groups first, so that with two workers (pytest-xdist, --dist
# loadgroup) each starts with one and the short tests fill in around them.
_FIRST = ("journey", "engine")


def _group_rank(item) -> int:
    for rank, marker in enumerate(_FIRST):
        if item.get_closest_marker(marker):
            return rank
    return len(_FIRST)


def pytest_collection_modifyitems(config, items):
    items.sort(key=_group_rank)
    # Tests that cannot run here are left out (not skipped: a skip fails the
    # run). Without a signed installer, its tests; without root (CI has it),
    # the tests that mount a small tmpfs, with the reason printed.
    # Without PowerShell, the engine tests (the test command says so).
    if not config.getoption("--signed-installer"):
        _leave_out(config, items, "signed")
    if not config.getoption("--pwsh"):
        _leave_out(config, items, "engine")
    if not config.getoption("--windows-powershell"):
        _leave_out(config, items, "journey")
    if os.geteuid() != 0:
        dropped = _leave_out(config, items, "tmpfs")
        if dropped:
            reporter = config.pluginmanager.get_plugin("terminalreporter")
            line = ("NOT RUN without root (mounting a small tmpfs needs it): "
                    + ", ".join(item.nodeid for item in dropped))
            if reporter is not None:
                reporter.write_line(line, yellow=True, bold=True)
            else:
                print(line)


def pytest_configure(config):
    config.addinivalue_line("markers", "signed: needs --signed-installer")
    config.addinivalue_line("markers", "tmpfs: mounts a small tmpfs, needs root")
    config.addinivalue_line("markers", "engine: needs --pwsh")
    config.addinivalue_line("markers", "journey: needs --windows-powershell")
    version_file = Path(config.getoption("--build-dir")) / "version.txt"
    if version_file.is_file():
        expected.VERSION = version_file.read_text(encoding="utf-8").strip()


@pytest.fixture(scope="session")
def build_dir(request) -> Path:
    d = Path(request.config.getoption("--build-dir")).resolve()
    assert (d / "korvane_setup.exe").is_file(), f"build korvane_setup.exe in {d} first"
    assert expected.VERSION, f"no version.txt in {d}"
    return d


@pytest.fixture(scope="session")
def signed_installer(request) -> Path:
    return Path(request.config.getoption("--signed-installer")).resolve()


@pytest.fixture(scope="session")
def wine(build_dir) -> WineSession:
    session = WineSession(build_dir, artifacts=build_dir / "e2e-artifacts")
    session.start()
    yield session
    session.stop()


@pytest.fixture(scope="session")
def journey(request, build_dir) -> JourneySession:
    """A prefix of its own whose `powershell` is the real one: the shared
    prefix's other tests expect Wine's stub or a recorder there."""
    powershell = Path(request.config.getoption("--windows-powershell")).resolve()
    assert powershell.is_file(), f"no {powershell}"
    session = JourneySession(build_dir, build_dir / "e2e-artifacts", powershell)
    session.start()
    yield session
    session.stop()


@pytest.fixture
def stage(wine, tmp_path) -> Stage:
    s = Stage(wine, tmp_path)
    yield s
    # Nothing of one test may outlive it: boxes, stand-ins, children, shortcuts.
    wine.kill_all()
    s.close()
    wine.remove_shortcuts()


_skipped: list[str] = []


def pytest_runtest_logreport(report):
    # An expected failure reports as skipped too; it is not a skip.
    if report.skipped and not hasattr(report, "wasxfail"):
        _skipped.append(report.nodeid)


def pytest_sessionfinish(session, exitstatus):
    # A skipped test proves nothing: it fails the run like a failed one.
    if _skipped and exitstatus == 0:
        print(f"\n{len(_skipped)} test(s) skipped: {', '.join(_skipped)}")
        session.exitstatus = 1
