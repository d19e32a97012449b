"""The whole journey on a Windows PowerShell: install, the uninstall entry
started as Windows starts it, and nothing left behind but the neighbours.

Everything here is real under Wine: the registry PowerShell writes, the .lnk
files, the running application, a file held open by another program."""

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
EXIT_TIMEOUT = 5  # seconds for Wine to take down a stopped process


@dataclasses.dataclass(frozen=True)
class Case:
    local: str  # LOCALAPPDATA, below the test's folder
    desktop: str = "Desktop"
    programs: str = "Programs"
    # Files below the test's folder where a wildcard, a split or an expansion
    # of a name would land; {user} is Wine's user name.
    look_alikes: tuple[str, ...] = ()
    interactive: bool = False
    # A plain file `Korvane` in the Start Menu folder and a folder
    # `Korvane.lnk` on the Desktop, the user's own: no shortcuts then.
    users_own_names: bool = False


CASES = {
    "plain": Case("Local"),
    "letters quotes brackets emoji": Case(
        "Micha\u0142 \u041f\u0451\u0442\u0440 \u7530\u4e2d O\u2019Brien 'a\u2018b\u201ac\u201b [x] \u00fc \U0001f600",
        look_alikes=("Micha\u0142 \u041f\u0451\u0442\u0440 \u7530\u4e2d O\u2019Brien 'a\u2018b\u201ac\u201b x \u00fc "
                     "\U0001f600/Programs/Korvane/Korvane.exe",)),
    "dollar ampersand caret": Case("'a' $env:TEMP & ^",
                                   look_alikes=("'a' $env:TEMP/keep.txt", "'a'/keep.txt")),
    "percent name": Case("u %USERNAME%", look_alikes=("u {user}/Programs/Korvane/Korvane.exe",)),
    "shell folders with brackets and quotes": Case(
        "Local", desktop="Korvane Desk [1] 'Ana' \u0141\u00f3d\u017a \u684c\u9762/Desktop",
        programs="Korvane Start [Men\u00fc] O\u2019Neil [a-z]/Programs",
        look_alikes=("Korvane Desk 1 'Ana' \u0141\u00f3d\u017a \u684c\u9762/Desktop/Korvane.lnk",
                     "Korvane Start M O\u2019Neil a/Programs/Korvane/Korvane.lnk")),
    "interactive": Case("Local", interactive=True),
    "the user's own Korvane names": Case("Local", users_own_names=True),
}


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
    if case.users_own_names:
        files += [places.start_menu, places.desktop_link / "mine.txt"]
    for f in files:
        f.parent.mkdir(parents=True, exist_ok=True)
        f.write_bytes(b"neighbour")
    return files


def _wait_for(condition, timeout: float) -> None:
    deadline = time.monotonic() + timeout
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.25)


def assert_nothing_left(journey, places: Places, kept: list[Path]) -> None:
    """Everything of the installation gone by the time the uninstaller has
    ended (Programs and Features re-reads its list then), every neighbour kept."""
    gone = {
        "install folder": not places.install_dir.exists(),
        "uninstall entry": journey.read_key(UNINSTALL + "Korvane") is None,
        "Desktop shortcut": not places.desktop_link.is_file(),
        "Start Menu folder": not places.start_menu.is_dir(),
    }
    assert [what for what, ok in gone.items() if not ok] == []
    exe = winpath(places.install_dir / "Korvane.exe")
    _wait_for(lambda: not journey.running(exe), EXIT_TIMEOUT)
    assert not journey.running(exe), "the installed Korvane.exe still runs"
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


def _uninstall_as_windows_does(stage: Stage, journey, places: Places, command: str,
                               cwd: Path | None = None) -> int:
    status_file = stage.root / "uninstall-status.txt"
    cmd = ["wine", str(journey.launcher)]
    for k, v in (stage.profile.variables() | {"LOCALAPPDATA": winpath(places.local)}).items():
        cmd += ["--set", f"{k}={v}"]
    cmd += ["--new-console", "--status-file", winpath(status_file), "--command", command]
    if cwd is not None:
        cmd[-2:-2] = ["--cwd", winpath(cwd)]
    subprocess.run(cmd, env=journey.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=180, check=False)
    return int(status_file.read_text(encoding="ascii"))


def _places(journey, tmp_path: Path, case: Case) -> Places:
    places = Places(tmp_path / case.local, tmp_path.joinpath(*case.desktop.split("/")),
                    tmp_path.joinpath(*case.programs.split("/")))
    for d in (places.local, places.desktop, places.programs):
        d.mkdir(parents=True, exist_ok=True)
    journey.set_shell_folder("Desktop", winpath(places.desktop))
    journey.set_shell_folder("Programs", winpath(places.programs))
    assert journey.reg("add", UNINSTALL + "KorvaneOther", "/v", "DisplayName", "/d", "Other", "/f").returncode == 0
    return places


def _clean_up(journey) -> None:
    for key in ("Korvane", "KorvaneOther"):
        journey.reg("delete", UNINSTALL + key, "/f")
    journey.kill_all()


@pytest.mark.parametrize("case", [pytest.param(c, id=name) for name, c in CASES.items()])
def test_install_then_uninstall_as_windows_does_leaves_only_the_neighbours(journey, tmp_path, case):
    stage = Stage(journey, tmp_path)
    places = _places(journey, tmp_path, case)
    kept = _neighbours(stage, places, case, journey.username)
    try:
        assert _install(stage, places, case) == 0
        install_dir = winpath(places.install_dir)
        assert sorted(p.name for p in places.install_dir.iterdir()) == [
            "Korvane.exe", "Uninstall-Korvane.ps1", "WebView2Loader.dll"]
        for link in () if case.users_own_names else (places.desktop_link, places.start_menu / "Korvane.lnk"):
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
        _clean_up(journey)


@pytest.fixture
def installed(journey, tmp_path):
    """A silent installation in a plain folder, with its neighbours, and the
    registered uninstall command: (stage, places, kept, command)."""
    case = Case("Local")
    stage = Stage(journey, tmp_path)
    places = _places(journey, tmp_path, case)
    kept = _neighbours(stage, places, case, journey.username)
    try:
        assert _install(stage, places, case) == 0
        yield stage, places, kept, journey.read_key(UNINSTALL + "Korvane")["UninstallString"][1]
    finally:
        _clean_up(journey)


def test_a_file_held_open_keeps_the_script_and_the_entry_until_an_uninstall_can_finish(journey, installed):
    stage, places, kept, command = installed
    # Another Korvane.exe, from a folder of its own, holds the installed
    # loader open as a scanner or a WebView2 process would (no delete
    # sharing); it is not this installation's to stop.
    other = places.local / "Programs" / "KorvaneOther" / "Korvane.exe"
    for name in ("Korvane.exe", "WebView2Loader.dll"):
        (other.parent / name).write_bytes((places.install_dir / name).read_bytes())
    kept.remove(other)
    holder = subprocess.Popen(["wine", str(journey.launcher), "--no-std-handles",
                               "--hold", winpath(places.install_dir / "WebView2Loader.dll"), "--", winpath(other)],
                              env=journey.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _wait_for(lambda: journey.running(winpath(other)), 30)
    assert journey.running(winpath(other)), "the other Korvane.exe is not running"

    assert _uninstall_as_windows_does(stage, journey, places, command) == 1
    assert sorted(p.name for p in places.install_dir.iterdir()) == ["Uninstall-Korvane.ps1", "WebView2Loader.dll"]
    assert journey.read_key(UNINSTALL + "Korvane") is not None
    assert not places.desktop_link.exists() and not places.start_menu.exists()
    assert journey.running(winpath(other))

    holder.kill()  # the launcher's handle goes with it; the other Korvane.exe runs on
    holder.wait(timeout=30)
    assert _uninstall_as_windows_does(stage, journey, places, command) == 0
    assert_nothing_left(journey, places, kept)
    assert journey.running(winpath(other)), "the other folder's Korvane.exe was stopped"


def test_a_folder_another_program_stands_in_keeps_the_script_and_the_entry(journey, installed):
    stage, places, kept, command = installed
    script = (places.install_dir / "Uninstall-Korvane.ps1").read_bytes()
    # Started in the install folder, Wine's console host keeps it as its
    # current directory while the uninstall runs, as a terminal left open
    # there would: the folder cannot go, so the script must stay with
    # the entry that names it.
    assert _uninstall_as_windows_does(stage, journey, places, command, cwd=places.install_dir) == 1
    assert [p.name for p in places.install_dir.iterdir()] == ["Uninstall-Korvane.ps1"]
    assert (places.install_dir / "Uninstall-Korvane.ps1").read_bytes() == script
    assert journey.read_key(UNINSTALL + "Korvane") is not None

    assert _uninstall_as_windows_does(stage, journey, places, command) == 0
    assert_nothing_left(journey, places, kept)
