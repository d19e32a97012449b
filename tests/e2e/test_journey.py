"""The whole journey on a Windows PowerShell: install, the uninstall entry
started as Windows starts it, and nothing left behind but the neighbours.

Everything here is real under Wine: the registry PowerShell writes, the .lnk
files, the running application, cmd."""

from __future__ import annotations

import dataclasses
import subprocess
import time
from pathlib import Path

import pytest

from expected import VERSION
from harness import Stage, link_string_data, read_link, winpath

pytestmark = pytest.mark.journey

UNINSTALL = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
REMOVAL_TIMEOUT = 15  # seconds for the removals after the uninstaller has ended
CMD_REEXPANDS = ("Wine's cmd expands the %NAME% inside the folder's variable again: the "
                 "uninstall script's cmd removes the look-alike and leaves the folder")


@dataclasses.dataclass(frozen=True)
class Case:
    local: str  # LOCALAPPDATA, below the test's folder
    desktop: str = "Desktop"
    programs: str = "Programs"
    # Files below the test's folder where a wildcard, a split or an expansion
    # of a name would land; {user} is Wine's user name.
    look_alikes: tuple[str, ...] = ()
    interactive: bool = False
    fails_today: str = ""


CASES = {
    "plain": Case("Local"),
    "letters quotes brackets emoji": Case(
        "Micha\u0142 \u041f\u0451\u0442\u0440 \u7530\u4e2d O\u2019Brien 'a\u2018b\u201ac\u201b [x] \u00fc \U0001f600",
        look_alikes=("Micha\u0142 \u041f\u0451\u0442\u0440 \u7530\u4e2d O\u2019Brien 'a\u2018b\u201ac\u201b x \u00fc "
                     "\U0001f600/Programs/Korvane/Korvane.exe",)),
    "dollar ampersand caret": Case("'a' $env:TEMP & ^",
                                   look_alikes=("'a' $env:TEMP/keep.txt", "'a'/keep.txt")),
    "percent name": Case("u %USERNAME%", look_alikes=("u {user}/Programs/Korvane/Korvane.exe",),
                         fails_today=CMD_REEXPANDS),
    "shell folders with brackets and quotes": Case(
        "Local", desktop="Korvane Desk [1] 'Ana' \u0141\u00f3d\u017a \u684c\u9762/Desktop",
        programs="Korvane Start [Men\u00fc] O\u2019Neil [a-z]/Programs",
        look_alikes=("Korvane Desk 1 'Ana' \u0141\u00f3d\u017a \u684c\u9762/Desktop/Korvane.lnk",
                     "Korvane Start M O\u2019Neil a/Programs/Korvane/Korvane.lnk")),
    "interactive": Case("Local", interactive=True),
}


def _params():
    for name, case in CASES.items():
        marks = [pytest.mark.xfail(strict=True, reason=case.fails_today)] if case.fails_today else []
        yield pytest.param(case, id=name, marks=marks)


@dataclasses.dataclass
class Places:
    local: Path
    desktop: Path
    programs: Path

    @property
    def install_dir(self) -> Path:
        return self.local / "Programs" / "Korvane"

    @property
    def desktop_link(self) -> Path:
        return self.desktop / "Korvane.lnk"

    @property
    def start_menu(self) -> Path:
        return self.programs / "Korvane"


def _registered(install_dir: str) -> dict:
    return {
        "DisplayName": ("REG_SZ", "Korvane"),
        "DisplayVersion": ("REG_SZ", VERSION),
        "Publisher": ("REG_SZ", "V4LDR1N"),
        "DisplayIcon": ("REG_SZ", install_dir + "\\Korvane.exe"),
        "InstallLocation": ("REG_SZ", install_dir),
        "UninstallString": ("REG_SZ", "powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass "
                                      f'-File "{install_dir}\\Uninstall-Korvane.ps1"'),
        "NoModify": ("REG_DWORD", 1),
        "NoRepair": ("REG_DWORD", 1),
    }


def _neighbours(stage: Stage, places: Places, case: Case, user: str) -> list[Path]:
    """Makes what lies around the installation and must stay: files beside
    the install folder and the shortcuts, and the look-alikes."""
    files = [places.local / "Programs" / "readme.txt",
             places.local / "Programs" / "KorvaneOther" / "Korvane.exe",
             places.desktop / "Other.lnk",
             places.programs / "Other" / "Other.lnk"]
    files += [stage.root.joinpath(*p.format(user=user).split("/")) for p in case.look_alikes]
    for f in files:
        f.parent.mkdir(parents=True, exist_ok=True)
        f.write_bytes(b"neighbour")
    return files


def _wait_for(condition, timeout: float) -> None:
    deadline = time.monotonic() + timeout
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.25)


def assert_nothing_left(journey, places: Places, kept: list[Path]) -> None:
    """Everything of the installation gone, every neighbour kept. The
    removals may still be going on when the uninstaller has ended."""
    def gone() -> dict[str, bool]:
        return {
            "install folder": not places.install_dir.exists(),
            "uninstall entry": journey.read_key(UNINSTALL + "Korvane") is None,
            "Desktop shortcut": not places.desktop_link.exists(),
            "Start Menu folder": not places.start_menu.exists(),
            "Korvane.exe stopped": not journey.running("Korvane.exe"),
        }

    _wait_for(lambda: all(gone().values()), REMOVAL_TIMEOUT)
    assert [what for what, ok in gone().items() if not ok] == []
    assert [str(f) for f in kept if not f.is_file()] == []
    assert journey.read_key(UNINSTALL + "KorvaneOther") is not None
    assert places.desktop.is_dir() and places.programs.is_dir()


def _install(stage: Stage, places: Places, case: Case) -> int:
    run = stage.start(*(() if case.interactive else ("--silent",)),
                      variables={"LOCALAPPDATA": winpath(places.local)},
                      unset=("KORVANE_STANDIN_EXIT",), trace_boxes=case.interactive)
    if case.interactive:
        confirm = run.next_box()
        assert confirm.text.startswith(f"Install Korvane v{VERSION}?"), confirm.text
        run.press(confirm, "Return")
        success = run.next_box()
        assert success.text == f"Korvane v{VERSION} was installed successfully and is now launching!"
        # The application's window, started just before, holds the focus
        # under Wine: the box is closed by its title bar instead.
        run.close(success)
    return run.wait()


def _uninstall_as_windows_does(stage: Stage, journey, places: Places, command: str) -> int:
    status_file = stage.root / "uninstall-status.txt"
    cmd = ["wine", str(journey.launcher)]
    for k, v in (stage.profile.variables() | {"LOCALAPPDATA": winpath(places.local)}).items():
        cmd += ["--set", f"{k}={v}"]
    cmd += ["--new-console", "--status-file", winpath(status_file), "--command", command]
    subprocess.run(cmd, env=journey.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=180, check=False)
    return int(status_file.read_text(encoding="ascii"))


@pytest.mark.parametrize("case", _params())
def test_install_then_uninstall_as_windows_does_leaves_only_the_neighbours(journey, tmp_path, case):
    stage = Stage(journey, tmp_path)
    places = Places(tmp_path / case.local, tmp_path.joinpath(*case.desktop.split("/")),
                    tmp_path.joinpath(*case.programs.split("/")))
    for d in (places.local, places.desktop, places.programs):
        d.mkdir(parents=True, exist_ok=True)
    journey.set_shell_folder("Desktop", winpath(places.desktop))
    journey.set_shell_folder("Programs", winpath(places.programs))
    assert journey.reg("add", UNINSTALL + "KorvaneOther", "/v", "DisplayName", "/d", "Other", "/f").returncode == 0
    kept = _neighbours(stage, places, case, journey.username)
    try:
        assert _install(stage, places, case) == 0
        install_dir = winpath(places.install_dir)
        assert sorted(p.name for p in places.install_dir.iterdir()) == [
            "Korvane.exe", "Uninstall-Korvane.ps1", "WebView2Loader.dll"]
        for link in (places.desktop_link, places.start_menu / "Korvane.lnk"):
            strings = link_string_data(link)
            assert strings["Working directory"] == install_dir, link
            assert strings["Description"] == "Korvane Music Player", link
            # Wine's link object keeps the target only as an ANSI name.
            if install_dir.isascii():
                assert read_link(link)["Local path"] == install_dir + "\\Korvane.exe", link
        values = journey.read_key(UNINSTALL + "Korvane")
        assert values == _registered(install_dir)
        _wait_for(lambda: journey.running("Korvane.exe"), 30)
        assert journey.running("Korvane.exe"), "Korvane.exe is not running"

        assert _uninstall_as_windows_does(stage, journey, places, values["UninstallString"][1]) == 0
        assert_nothing_left(journey, places, kept)
    finally:
        for key in ("Korvane", "KorvaneOther"):
            journey.reg("delete", UNINSTALL + key, "/f")
        if journey.running("Korvane.exe"):
            journey.kill_all()
