"""The uninstall entry is there after every installation that reports success,
also when the registration's PowerShell does nothing, crashes or is missing:
the installer then writes the entry itself through the registry."""

from __future__ import annotations

import re
import time
from pathlib import Path

import pytest

import expected
from harness import WineSession, winpath

UNINSTALL_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane"


def expected_entry(install_dir: str, folder: Path, day: str) -> dict[str, tuple[str, str]]:
    """The eleven values (type, data) of the entry for `install_dir`, whose
    files are in `folder`, installed on `day` (yyyymmdd)."""
    command = f'powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -File "{install_dir}\\Uninstall-Korvane.ps1"'
    size = sum(p.stat().st_size for p in folder.iterdir())
    return {
        "DisplayName": ("REG_SZ", "Korvane"),
        "DisplayVersion": ("REG_SZ", expected.VERSION),
        "Publisher": ("REG_SZ", "V4LDR1N"),
        "DisplayIcon": ("REG_SZ", install_dir + "\\Korvane.exe"),
        "InstallLocation": ("REG_SZ", install_dir),
        "UninstallString": ("REG_SZ", command),
        "NoModify": ("REG_DWORD", "1"),
        "NoRepair": ("REG_DWORD", "1"),
        "QuietUninstallString": ("REG_SZ", command + " -Quiet"),
        "EstimatedSize": ("REG_DWORD", str(-(-size // 1024))),
        "InstallDate": ("REG_SZ", day),
    }


def _unescape(text: str) -> str:
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "0": "\0"}.get(m.group(1), m.group(1)), text)


def read_uninstall_entry(wine: WineSession) -> dict[str, tuple[str, str]]:
    """The entry's values as (type, data): the names and types from `reg query`,
    the data exactly from `reg export` (a UTF-16 file; `reg query` prints in
    the OEM code page, which loses letters). A REG_SZ exported as "..." is a
    NUL-terminated string without other NULs. {} when there is no entry."""
    query = wine.reg("query", UNINSTALL_KEY)
    if query.returncode != 0:
        return {}
    rows = re.findall(r"^ {4}(\S+) {4}(REG_\w+)", query.stdout.decode("ascii", errors="replace"), re.M)
    types = dict(rows)
    assert len(types) == len(rows), query.stdout
    export = wine.root / "uninstall-entry.reg"
    export.unlink(missing_ok=True)
    assert wine.reg("export", UNINSTALL_KEY, winpath(export), "/y").returncode == 0
    text = export.read_bytes().decode("utf-16")
    data = {}
    for line in text.splitlines():
        m = re.fullmatch(r'"((?:[^"\\]|\\.)*)"=(?:"((?:[^"\\]|\\.)*)"|dword:([0-9a-f]{8})|(.*))', line)
        if not m:
            continue
        name = _unescape(m.group(1))
        if m.group(2) is not None:
            data[name] = _unescape(m.group(2))
        elif m.group(3) is not None:
            data[name] = str(int(m.group(3), 16))
        else:
            data[name] = m.group(4)  # another type, as exported
    assert set(data) == set(types), (types, data)
    return {name: (types[name], data[name]) for name in types}


def assert_uninstall_entry(wine: WineSession, install_dir: str, folder: Path, started: float) -> None:
    """The entry holds exactly its eleven values, with their types and data;
    InstallDate the day the run started or, past midnight, ended."""
    got = read_uninstall_entry(wine)
    days = [time.strftime("%Y%m%d", time.localtime(t)) for t in (started, time.time())]
    assert got in [expected_entry(install_dir, folder, day) for day in days]


@pytest.fixture
def no_entry(wine):
    wine.reg("delete", UNINSTALL_KEY, "/f")
    assert not read_uninstall_entry(wine)
    yield
    wine.reg("delete", UNINSTALL_KEY, "/f")


WINE_POWERSHELL_DIR = "C:\\windows\\system32\\WindowsPowerShell\\v1.0"
NO_POWERSHELL_PATH = "C:\\windows\\system32;C:\\windows"

FOLDERS = {
    "plain": "Local",
    "apostrophe and non-ASCII": "J\u00f6rg's \u00c5str\u00f6m \u6e2c\u8a66",
}


def _run(stage, wine, folder: str, variables: dict[str, str]) -> None:
    """A silent installation below `folder`, then the entry checked."""
    local = stage.root / folder
    local.mkdir()
    started = time.time()
    stage.run_silent(variables={"LOCALAPPDATA": winpath(local), **variables})
    assert_uninstall_entry(wine, winpath(local) + "\\Programs\\Korvane", local / "Programs" / "Korvane", started)


@pytest.mark.parametrize("folder", FOLDERS.values(), ids=FOLDERS.keys())
def test_wines_own_powershell_leaves_the_entry_to_the_installer(stage, wine, no_entry, folder):
    # Wine's stub prints nothing and exits 0; it is found where a real
    # machine has PowerShell, on PATH.
    assert (wine.system32 / "WindowsPowerShell" / "v1.0" / "powershell.exe").is_file()
    _run(stage, wine, folder, {"PATH": NO_POWERSHELL_PATH + ";" + WINE_POWERSHELL_DIR})


@pytest.mark.parametrize("folder", FOLDERS.values(), ids=FOLDERS.keys())
def test_a_powershell_that_crashes_at_once_leaves_the_entry_to_the_installer(stage, wine, no_entry, folder):
    stage.stand_in("powershell.exe")
    _run(stage, wine, folder, {"KORVANE_RECORD_EXIT": "3221225477"})  # STATUS_ACCESS_VIOLATION
    [ps] = stage.records_of("powershell")
    assert ps["exit_code"] == 3221225477


@pytest.mark.parametrize("folder", FOLDERS.values(), ids=FOLDERS.keys())
def test_without_any_powershell_the_installer_writes_the_entry(stage, wine, no_entry, folder):
    _run(stage, wine, folder, {"PATH": NO_POWERSHELL_PATH})


# What a key may hold before an installation whose PowerShell does nothing:
# values of an earlier version, and one of another tool that hides Korvane
# from the list of apps beside the right ones.
EARLIER = {
    "another version": (("/v", "DisplayVersion", "/d", "0.0.1"), ("/v", "EstimatedSize", "/t", "REG_DWORD", "/d", "9"),
                        ("/v", "NoRepair", "/d", "1")),
    "another tool's value": (("/v", "SystemComponent", "/t", "REG_DWORD", "/d", "1"),
                             ("/v", "DisplayName", "/d", "Korvane")),
}


@pytest.mark.parametrize("values", EARLIER.values(), ids=EARLIER.keys())
def test_what_the_key_held_before_is_replaced_whole(stage, wine, no_entry, values):
    for args in values:
        assert wine.reg("add", UNINSTALL_KEY, *args, "/f").returncode == 0
    _run(stage, wine, "Local", {"PATH": NO_POWERSHELL_PATH})
