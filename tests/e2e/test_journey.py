"""The whole journey on a Windows PowerShell: install, the uninstall entry
started as Windows starts it, and nothing left behind but the neighbours.

Everything here is real under Wine: the registry PowerShell writes, the .lnk
files, the running application, a file held open by another program."""

from __future__ import annotations

import base64
import dataclasses
import json
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from expected import VERSION, record_text
from harness import InstallerRun, Stage, link_string_data, read_link, winpath

# One worker runs them all, in the one prefix with the Windows PowerShell.
pytestmark = [pytest.mark.journey, pytest.mark.xdist_group("journey")]

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
    # LOCALAPPDATA written in its \\?\ form.
    verbatim: bool = False
    # The install folder this many units long (LOCALAPPDATA lengthened to fit).
    length: int = 0


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
    "LOCALAPPDATA in \\\\?\\ form": Case("Local", verbatim=True),
    # Deeper than MAX_PATH: removed by the long form.
    "a 270-unit install folder": Case("Local", length=270),
}


@dataclasses.dataclass
class Places:
    local: Path
    desktop: Path
    programs: Path
    local_text: str  # LOCALAPPDATA as the installer is given it

    @property
    def install_text(self) -> str:
        return self.local_text + "\\Programs\\Korvane"

    @property
    def install_dir(self) -> Path:
        return self.local / "Programs" / "Korvane"

    @property
    def desktop_link(self) -> Path:
        return self.desktop / "Korvane.lnk"

    @property
    def start_menu(self) -> Path:
        return self.programs / "Korvane"


def _registered(install_dir: str, installed_bytes: int = 0) -> dict:
    """The entry's values for `install_dir`; with the installed files' size,
    also the installer's own three (InstallDate: today or, past midnight,
    yesterday, both accepted by the caller)."""
    command = f'powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -File "{install_dir}\\Uninstall-Korvane.ps1"'
    values = {
        "DisplayName": ("REG_SZ", "Korvane"),
        "DisplayVersion": ("REG_SZ", VERSION),
        "Publisher": ("REG_SZ", "V4LDR1N"),
        "DisplayIcon": ("REG_SZ", install_dir + "\\Korvane.exe"),
        "InstallLocation": ("REG_SZ", install_dir),
        "UninstallString": ("REG_SZ", command),
        "NoModify": ("REG_DWORD", 1),
        "NoRepair": ("REG_DWORD", 1),
    }
    if installed_bytes:
        values.update(QuietUninstallString=("REG_SZ", command + " -Quiet"),
                      EstimatedSize=("REG_DWORD", -(-installed_bytes // 1024)))
    return values


def assert_entry(journey, places: Places, before: float) -> dict:
    """The entry holds exactly its eleven values, with their types; gives them."""
    values = journey.read_key(UNINSTALL + "Korvane")
    assert values is not None, "no uninstall entry"
    date = values.pop("InstallDate", None)
    days = {time.strftime("%Y%m%d", time.localtime(t)) for t in (before, time.time())}
    assert date is not None and date[0] == "REG_SZ" and date[1] in days, date
    size = sum(p.stat().st_size for p in places.install_dir.iterdir())
    assert values == _registered(places.install_text, size)
    return values | {"InstallDate": date}


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


def _korvanes(journey, others: tuple[Path, ...]) -> list[str]:
    """The Korvane.exe programs that run, but those of the folders `others`."""
    allowed = {winpath(p).lower() for p in others}
    return [p for p in journey.processes("Korvane.exe").values() if p.lower() not in allowed]


def assert_nothing_left(journey, places: Places, kept: list[Path], others: tuple[Path, ...] = ()) -> None:
    """Everything of the installation gone by the time the uninstaller has
    ended (Programs and Features re-reads its list then), every neighbour kept,
    no Korvane.exe running but those of `others`."""
    gone = {
        "install folder": not places.install_dir.exists(),
        "uninstall entry": journey.read_key(UNINSTALL + "Korvane") is None,
        "Desktop shortcut": not places.desktop_link.is_file(),
        "Start Menu folder": not places.start_menu.is_dir(),
    }
    assert [what for what, ok in gone.items() if not ok] == []
    _wait_for(lambda: not _korvanes(journey, others), EXIT_TIMEOUT)
    assert _korvanes(journey, others) == [], "the installed Korvane.exe still runs"
    assert [str(f) for f in kept if not f.is_file()] == []
    assert journey.read_key(UNINSTALL + "KorvaneOther") is not None
    assert places.desktop.is_dir() and places.programs.is_dir()


def _install(stage: Stage, places: Places, case: Case) -> int:
    run = stage.start(*(() if case.interactive else ("--silent",)),
                      variables={"LOCALAPPDATA": places.local_text},
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


def _uninstall(stage: Stage, places: Places, command: str, cwd: Path | None = None,
               variables: dict[str, str] | None = None, boxes: bool = False) -> InstallerRun:
    """Starts `command` as the control panel starts an UninstallString: in a
    console of its own, with the user's folders."""
    return stage.start(command=command, new_console=True, inherit_std=True, cwd=cwd, trace_boxes=boxes,
                       variables={"LOCALAPPDATA": places.local_text, **(variables or {})})


def _uninstall_as_windows_does(stage: Stage, places: Places, command: str, cwd: Path | None = None,
                               variables: dict[str, str] | None = None) -> int:
    run = _uninstall(stage, places, command, cwd, variables)
    status = run.wait()
    assert run.boxes() == []
    return status


def _long_local(tmp_path: Path, length: int) -> str:
    """A folder below `tmp_path`, in names of at most 120 units, for which the
    install folder is `length` units long."""
    rest = length - len(winpath(tmp_path)) - len("\\Programs\\Korvane")
    names = []
    while rest > 0:
        n = min(120, rest - 1)
        names.append("L" * n if n > 1 else "M")
        rest -= n + 1
    assert rest == 0 and names, length
    return "/".join(names)


def _places(journey, tmp_path: Path, case: Case) -> Places:
    local = tmp_path.joinpath(*(_long_local(tmp_path, case.length) if case.length else case.local).split("/"))
    places = Places(local, tmp_path.joinpath(*case.desktop.split("/")),
                    tmp_path.joinpath(*case.programs.split("/")),
                    ("\\\\?\\" if case.verbatim else "") + winpath(local))
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
        started = time.time()
        assert _install(stage, places, case) == 0
        install_dir = places.install_text
        assert len(install_dir) == case.length or not case.length
        assert sorted(p.name for p in places.install_dir.iterdir()) == [
            "Korvane.exe", "Uninstall-Korvane.ps1", "WebView2Loader.dll"]
        for link in () if case.users_own_names else (places.desktop_link, places.start_menu / "Korvane.lnk"):
            strings = link_string_data(link)
            assert strings["Working directory"] == install_dir, link
            assert strings["Description"] == "Korvane Music Player", link
            # Wine's link object keeps the target only as an ANSI name.
            # and no longer than MAX_PATH.
            if install_dir.isascii() and not case.verbatim and not case.length:
                assert read_link(link)["Local path"] == install_dir + "\\Korvane.exe", link
        values = assert_entry(journey, places, started)
        # Wine starts no program whose path is longer than MAX_PATH, not even
        # by its short form (test_children); the uninstall's long paths are
        # what that case is for.
        if len(install_dir) <= 247:
            _wait_for(lambda: journey.running("Korvane.exe"), 30)
            assert journey.running("Korvane.exe"), "Korvane.exe is not running"

        assert _uninstall_as_windows_does(stage, places, values["UninstallString"][1]) == 0
        assert_nothing_left(journey, places, kept)
    finally:
        _clean_up(journey)


@pytest.fixture
def installed(journey, tmp_path):
    """A silent installation in a plain folder, with its neighbours, and its
    uninstall commands: (stage, places, kept, UninstallString, QuietUninstallString)."""
    case = Case("Local")
    stage = Stage(journey, tmp_path)
    places = _places(journey, tmp_path, case)
    kept = _neighbours(stage, places, case, journey.username)
    try:
        assert _install(stage, places, case) == 0
        values = journey.read_key(UNINSTALL + "Korvane")
        yield stage, places, kept, values["UninstallString"][1], values["QuietUninstallString"][1]
    finally:
        _clean_up(journey)


def _snapshot(journey, places: Places) -> tuple:
    return (sorted(p.name for p in places.install_dir.iterdir()), journey.read_key(UNINSTALL + "Korvane"),
            places.desktop_link.is_file(), (places.start_menu / "Korvane.lnk").is_file())


def test_a_file_held_open_keeps_the_script_and_the_entry_until_an_uninstall_can_finish(journey, installed):
    stage, places, kept, command, quiet = installed
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

    # Run from the list of programs, it says what stays and what to do.
    run = _uninstall(stage, places, command, boxes=True)
    box = run.next_box()
    assert box.caption == "Korvane Setup"
    assert box.text_matches(
        "Korvane could not be removed completely. Still in use:\n\n" + winpath(places.install_dir / "WebView2Loader.dll")
        + "\n\nClose Korvane and every program that uses these files, then choose Uninstall again."), box.text
    journey.screenshot("uninstall-in-use-box")
    run.press(box, "Return")
    assert run.wait() == 1
    # A deployment tool's quiet command shows nothing.
    assert _uninstall_as_windows_does(stage, places, quiet) == 1
    assert sorted(p.name for p in places.install_dir.iterdir()) == ["Uninstall-Korvane.ps1", "WebView2Loader.dll"]
    assert journey.read_key(UNINSTALL + "Korvane") is not None
    assert not places.desktop_link.exists() and not places.start_menu.exists()
    assert journey.running(winpath(other))

    holder.kill()  # the launcher's handle goes with it; the other Korvane.exe runs on
    holder.wait(timeout=30)
    assert _uninstall_as_windows_does(stage, places, command) == 0
    assert_nothing_left(journey, places, kept, others=(other,))
    assert journey.running(winpath(other)), "the other folder's Korvane.exe was stopped"


def test_a_folder_another_program_stands_in_keeps_the_script_and_the_entry(journey, installed):
    stage, places, kept, command, quiet = installed
    script = (places.install_dir / "Uninstall-Korvane.ps1").read_bytes()
    # Started in the install folder, Wine's console host keeps it as its
    # current directory while the uninstall runs, as a terminal left open
    # there would: the folder cannot go, so the script must stay with
    # the entry that names it.
    assert _uninstall_as_windows_does(stage, places, quiet, cwd=places.install_dir) == 1
    assert [p.name for p in places.install_dir.iterdir()] == ["Uninstall-Korvane.ps1"]
    assert (places.install_dir / "Uninstall-Korvane.ps1").read_bytes() == script
    assert journey.read_key(UNINSTALL + "Korvane") is not None

    assert _uninstall_as_windows_does(stage, places, command) == 0
    assert_nothing_left(journey, places, kept)


def _after(setup: str, command: str, script: str) -> str:
    """The uninstall command's PowerShell running `setup` first, then
    `script` quietly, ending with its status."""
    return command.split(" -File ")[0] + f" -Command \"{setup}; & '{script}' -Quiet; exit $LASTEXITCODE\""


# What an App Control or AppLocker policy gives a script it does not trust.
CONSTRAINED = "$ExecutionContext.SessionState.LanguageMode = 'ConstrainedLanguage'"


# Where the script cannot be sure of what it would stop or remove: the
# PowerShell that runs it, or the account that runs it.
UNSAFE = {
    "Constrained Language mode": "constrained",
    # Run by an administrator while the installing user is signed out.
    "the installing user's hive not loaded": "S-1-5-21-1000-1000-1000-1001",
}


@pytest.mark.parametrize("way", UNSAFE.values(), ids=UNSAFE.keys())
def test_an_uninstall_that_cannot_be_done_safely_stops_and_removes_nothing(journey, installed, way):
    stage, places, kept, command, quiet = installed
    other = stage.other_program("Other.exe")
    script = places.install_dir / "Uninstall-Korvane.ps1"
    text = script.read_bytes()
    if way == "constrained":
        run = _after(CONSTRAINED, command, winpath(script))
    else:
        assert text.count(journey.user_sid.encode()) == 4
        script.write_bytes(text.replace(journey.user_sid.encode(), way.encode()))
        run = quiet
    before = _snapshot(journey, places)
    assert _uninstall_as_windows_does(stage, places, run) == 1
    assert _snapshot(journey, places) == before
    assert journey.running("Korvane.exe"), "the installed Korvane.exe was stopped"
    assert journey.running("Other.exe"), "another program was stopped"
    # The installation is whole: where the script can be sure, it removes it all.
    script.write_bytes(text)
    assert _uninstall_as_windows_does(stage, places, command) == 0
    assert_nothing_left(journey, places, kept)
    assert journey.running("Other.exe")
    other.kill()


@pytest.mark.parametrize("way", ["held for a moment", "read-only"])
def test_a_shortcut_in_the_way_for_a_moment_goes_all_the_same(journey, installed, way):
    stage, places, kept, command, quiet = installed
    holder = None
    if way == "read-only":
        for link in (places.desktop_link, places.start_menu / "Korvane.lnk"):
            link.chmod(0o444)  # FILE_ATTRIBUTE_READONLY under Wine
    else:
        # A sync client or a scanner, for three seconds.
        holder = stage.other_program("Sync.exe", hold=places.desktop_link, sleep_ms=3000)
    assert _uninstall_as_windows_does(stage, places, command) == 0
    assert_nothing_left(journey, places, kept)
    if holder:
        holder.wait(timeout=60)


# Started while an uninstall is at work (a scanner holds the loader for a few
# seconds meanwhile): each waits for the other's lock.
DURING_UNINSTALL = {
    "an installer 1 s after": ("installer", 1.0),
    "an installer 3 s after": ("installer", 3.0),
    "a second uninstall 1 s after": ("uninstall", 1.0),
}


@pytest.mark.parametrize("what, delay", DURING_UNINSTALL.values(), ids=DURING_UNINSTALL.keys())
def test_a_run_started_during_an_uninstall_waits_for_it(journey, installed, what, delay):
    stage, places, kept, command, quiet = installed
    scanner = stage.other_program("Scanner.exe", hold=places.install_dir / "WebView2Loader.dll", sleep_ms=10000)
    before = time.time()
    first = _uninstall(stage, places, command)
    # The uninstall stops Korvane once it holds the lock.
    exe = winpath(places.install_dir / "Korvane.exe")
    _wait_for(lambda: not journey.running(exe), 60)
    assert not journey.running(exe), "the uninstall did not begin"
    time.sleep(delay)
    if what == "installer":
        second = stage.start("--silent", variables={"LOCALAPPDATA": places.local_text},
                             unset=("KORVANE_STANDIN_EXIT",), trace_boxes=False)
    else:
        second = _uninstall(stage, places, command)
    assert first.wait() == 0
    ended = time.time()
    assert second.wait() == 0
    scanner.wait(timeout=60)
    if what == "uninstall":
        assert_nothing_left(journey, places, kept)
        return
    # The second installation, whole, made after the uninstall.
    assert sorted(p.name for p in places.install_dir.iterdir()) == [
        "Korvane.exe", "Uninstall-Korvane.ps1", "WebView2Loader.dll"]
    assert (places.install_dir / "Korvane.exe").stat().st_mtime >= ended - 1
    assert places.desktop_link.is_file() and (places.start_menu / "Korvane.lnk").is_file()
    assert_entry(journey, places, before)
    _wait_for(lambda: journey.running(exe), 30)
    assert journey.running(exe), "Korvane.exe is not running"


def test_a_32_bit_powershell_hands_the_uninstall_to_the_64_bit_one(journey, installed):
    """What a deployment agent's 32-bit Windows PowerShell does, shown with
    the 64-bit one under Wine (no 32-bit Wine here): the process says it is
    32-bit on 64-bit Windows (PROCESSOR_ARCHITEW6432, set inside PowerShell,
    since Wine drops it from a 64-bit program's environment), and sysnative's
    PowerShell is a recorder. The script hands everything to it and ends with
    its status; what it hands over, run in the real PowerShell, uninstalls."""
    stage, places, kept, command, quiet = installed
    sysnative = journey.drive_c / "windows" / "sysnative" / "WindowsPowerShell" / "v1.0"
    sysnative.mkdir(parents=True, exist_ok=True)
    shutil.copy2(journey.recorder, sysnative / "powershell.exe")
    records = stage.root / "sysnative-records"
    records.mkdir()
    recorder = {"KORVANE_RECORD_DIR": winpath(records), "KORVANE_RECORD_EXIT": "7"}
    script = winpath(places.install_dir / "Uninstall-Korvane.ps1")
    try:
        before = _snapshot(journey, places)
        assert _uninstall_as_windows_does(stage, places, _after("$env:PROCESSOR_ARCHITEW6432 = 'AMD64'", command, script),
                                          variables=recorder) == 7
        assert _snapshot(journey, places) == before
        assert journey.running("Korvane.exe"), "the 32-bit side stopped Korvane itself"
        [record] = [json.loads(p.read_text(encoding="utf-8")) for p in records.glob("powershell-*.json")]
        args = [record_text(a) for a in record["argv"]][1:]
        assert args[:-1] == ["-NoProfile", "-NonInteractive", "-ExecutionPolicy", "Bypass", "-EncodedCommand"]
        handed = base64.b64decode(args[-1]).decode("utf-16-le")
        assert handed == ("$env:PROCESSOR_ARCHITEW6432 = $null; & ([ScriptBlock]::Create([IO.File]::ReadAllText("
                          f"'\\\\?\\{script}'))) -Quiet")
        # As the 64-bit PowerShell runs it: the whole uninstall, its status.
        assert _uninstall_as_windows_does(stage, places, f"powershell -NoProfile -EncodedCommand {args[-1]}") == 0
        assert_nothing_left(journey, places, kept)
    finally:
        shutil.rmtree(journey.drive_c / "windows" / "sysnative", ignore_errors=True)
