"""Both scripts, as the built installer made them, run in PowerShell.

One installer run per folder name (silent, the powershell stand-in records
the registration text; the uninstall file is on disk), then one PowerShell
start for all of them (tests/engine/runner.ps1), then the recorded cmd calls
replayed in Wine's cmd. Names Windows cannot hold as a folder (a lone
surrogate, `|`, `<`) are filled by the project's own code instead.
"""

from __future__ import annotations

import json
import os
import subprocess
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import expected
from expected import GOLDEN_INSTALL_DIR, REGISTRATION_ARGS, record_text
from harness import Profile, Stage, winpath

pytestmark = pytest.mark.engine

ENGINE = Path(__file__).resolve().parents[1] / "engine"
LONG = "L" * 100 + " " + "\u00e9" * 50 + "x" * 49  # 200 characters, 250 bytes on Linux

# id: the folder name. Every path of the profile (install folder, Desktop,
# Start Menu) lies below it, except for the golden folder (on C:, its own
# text) and the long one (the install folder alone).
FOLDERS = {
    "golden": None,
    "apostrophe": "'",
    "u2018": "\u2018", "u2019": "\u2019", "u201a": "\u201a", "u201b": "\u201b",
    "subexpression": "$(Get-Date)",
    "semicolon": "a;b",
    "pipe": "a|b",
    "ampersand": "a&b",
    "hash": "a#b",
    "block-comment": "a<#b",
    "here-string": "@'",
    "backtick-n": "a`nb",
    "percent": "%USERNAME%",
    "brackets": "[x]",
    "lone-bracket": "[",
    "long": LONG,
    "lone-surrogate": "a\ud800b",
}
NATIVE = {"pipe", "block-comment", "lone-surrogate"}  # no such folder on Windows
SYSTEM_ROOT = "C:\\windows"
UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane"


def cmd_text(sid: str) -> str:
    return ('/d /c ping -n 3 127.0.0.1 >nul & rmdir /s /q "%KORVANE_UNINSTALL_DIR%" & '
            'if not exist "%KORVANE_UNINSTALL_DIR%\\" reg delete "HKU\\' + sid + '\\' + UNINSTALL_KEY
            + '" /f >nul')


def lossy(text: str) -> str:
    return "".join("\ufffd" if 0xD800 <= ord(c) <= 0xDFFF else c for c in text)


class Case:
    def __init__(self, case_id: str, root: Path, drive_c: Path):
        self.id, self.root = case_id, root
        name = FOLDERS[case_id]
        if case_id == "golden":
            self.base = drive_c / GOLDEN_INSTALL_DIR[3:-len("\\Programs\\Korvane")]
            self.local_text = GOLDEN_INSTALL_DIR[:-len("\\Programs\\Korvane")]
            self.profile = Profile(root / "user")
        elif case_id == "long":
            self.base = root / name
            self.local_text = winpath(self.base)
            self.profile = Profile(root / "user")
        else:
            self.base = root / lossy(name)
            self.local_text = winpath(root) + "\\" + name
            self.profile = Profile(self.base)
            self.local_text += "\\AppData\\Local"
            self.base = self.profile.local
        self.install_linux = self.base / "Programs" / "Korvane"
        self.install_dir = lossy(self.local_text) + "\\Programs\\Korvane"
        self.desktop = self.profile.root / "Desktop" / "Korvane.lnk"
        self.programs = self.profile.roaming / "Microsoft" / "Windows" / "Start Menu" / "Programs"
        self.menu = self.programs / "Korvane"
        self.other = Profile(root / "other")

    def env(self, profile: Profile) -> dict[str, str]:
        return {"APPDATA": winpath(profile.roaming), "USERPROFILE": winpath(profile.root),
                "HOME": str(profile.root)}

    def other_files(self) -> list[Path]:
        return [self.other.root / "Desktop" / "Korvane.lnk",
                self.other.roaming / "Microsoft" / "Windows" / "Start Menu" / "Programs" / "Korvane"
                / "Korvane.lnk"]


def windows_form(linux: str, drive_c: Path) -> str:
    rel = os.path.relpath(linux, drive_c.resolve())
    return "C:\\" + rel.replace("/", "\\") if not rel.startswith("..") else winpath(linux)


def tool(build: Path, *args: str) -> bytes:
    return subprocess.run([str(build / "tests" / "engine" / "script_tool"), *args], check=True,
                          capture_output=True).stdout


def set_shell_folders(wine, desktop: str, programs: str) -> None:
    wine.set_shell_folder("Desktop", desktop)
    wine.set_shell_folder("Programs", programs)


def install(wine, case: Case, sid: str, native: Path) -> Path:
    """Makes the case's two texts; gives the registration text's file."""
    case.profile.make()
    reg_file = case.root / "registration.ps1"
    if case.id in NATIVE:
        case.install_linux.mkdir(parents=True)
        (case.install_linux / "Korvane.exe").write_bytes(b"MZ")
        hexed = "".join(f"{u:04x}" for u in expected.utf16_units(
            case.local_text + "\\Programs\\Korvane"))
        tool(native, "fill", hexed, winpath(case.desktop), winpath(case.menu), sid, str(case.install_linux))
        (case.install_linux / "registration.ps1").rename(reg_file)
        return reg_file
    # A profile has both folders; the shell gives none that is missing.
    case.programs.mkdir(parents=True, exist_ok=True)
    set_shell_folders(wine, winpath(case.desktop.parent), winpath(case.programs))
    if case.id == "golden" or case.id == "long":
        case.base.mkdir(parents=True)
    stage = Stage(wine, case.root)
    stage.profile = case.profile
    try:
        stage.stand_in("powershell.exe")
        stage.run_silent(variables={"LOCALAPPDATA": case.local_text})
        [ps] = stage.records_of("powershell")
        args = [record_text(a) for a in ps["argv"]][1:]
        assert args[:6] == REGISTRATION_ARGS and len(args) == 7
        reg_file.write_text(args[6], encoding="utf-8", newline="")
    finally:
        wine.kill_all()
        stage.close()
    return reg_file


def snapshot(root: Path) -> set[str]:
    return {str(p) for p in root.rglob("*")}


@pytest.fixture(scope="module")
def engine(request, wine, tmp_path_factory):
    pwsh = request.config.getoption("--pwsh")
    native = Path(request.config.getoption("--native-build-dir"))
    root = tmp_path_factory.mktemp("engine")
    sid = wine.user_sid
    templates = root / "templates"
    templates.mkdir()
    tool(native, "templates", str(templates))

    cases, entries = {}, []
    try:
        for case_id in FOLDERS:
            case = cases[case_id] = Case(case_id, root / case_id, wine.drive_c)
            case.root.mkdir()
            reg_file = install(wine, case, sid, native)
            exe = case.install_dir + "\\Korvane.exe"
            mine = [str(case.desktop), str(case.menu / "Korvane.lnk")]
            others = [str(p) for p in case.other_files()]
            runs = []
            for name, profile, create in (("user", case.profile, mine), ("other", case.other, mine + others)):
                records = case.root / f"cmd-{name}"
                records.mkdir()
                runs.append({"name": name, "env": case.env(profile), "cwd": str(case.install_linux),
                             "create": create, "records": str(records),
                             "watch": mine + [str(case.menu), str(case.install_linux)] + others})
            entries.append({
                "id": case_id, "registration": str(reg_file),
                "uninstall": str(case.install_linux / "Uninstall-Korvane.ps1"),
                "registration_values": {"{0}": exe, "{1}": case.install_dir, "{2}": expected.VERSION},
                "uninstall_values": {"{0}": case.install_dir, "{1}": winpath(case.desktop),
                                     "{2}": winpath(case.menu), "{3}": sid},
                "profile": case.env(case.profile), "runs": runs})
    finally:
        # Back to the session's folders, which the other tests read.
        set_shell_folders(wine, winpath(wine.desktop), winpath(wine.programs))
    sleepers = root / "programs"
    sleepers.mkdir()
    config = {"drives": {"Z": "/", "C": str(wine.drive_c)}, "env": {"SystemRoot": SYSTEM_ROOT},
              "bin": str(ENGINE), "sleepers_dir": str(sleepers),
              "registration_template": str(templates / "registration.ps1"),
              "uninstall_template": str(templates / "Uninstall-Korvane.ps1"), "cases": entries}
    (root / "cases.json").write_text(json.dumps(config, ensure_ascii=False), encoding="utf-8")
    subprocess.run([pwsh, "-NoProfile", "-NonInteractive", "-File", str(ENGINE / "runner.ps1"),
                    str(root / "cases.json"), str(root / "result.json")], check=True, timeout=900)
    results = json.loads((root / "result.json").read_text(encoding="utf-8-sig"))

    for case_id, result in results.items():
        for name, run in result["runs"].items():
            run["cmd"] = [json.loads(p.read_text(encoding="utf-8"))
                          for p in sorted((cases[case_id].root / f"cmd-{name}").glob("*.json"))]
    replayed = {}

    def replay(case_id: str) -> None:
        case, run = cases[case_id], results[case_id]["runs"]["user"]
        [start], [called] = run["starts"], run["cmd"]
        before = snapshot(case.root) - snapshot(case.install_linux) - {str(case.install_linux)}
        subprocess.run(["wine", str(wine.launcher), "--set",
                        "KORVANE_UNINSTALL_DIR=" + called["KORVANE_UNINSTALL_DIR"], "--no-std-handles",
                        "--cwd", windows_form(called["cwd"], wine.drive_c),
                        "--raw-cmdline", "cmd " + start["arguments"], "--", "C:\\windows\\system32\\cmd.exe"],
                       env=wine.env, capture_output=True, timeout=120, check=False)
        replayed[case_id] = {"gone": not case.install_linux.exists(), "before": before,
                             "after": snapshot(case.root)}

    # Wine's cmd expands %NAME% again inside a variable's value (Windows'
    # does not), so a folder holding % is left out of the replay.
    replayable = [c for c in cases if "%" not in cases[c].install_dir
                  and len(results[c]["runs"]["user"]["starts"]) == 1
                  and len(results[c]["runs"]["user"]["cmd"]) == 1]
    with ThreadPoolExecutor(max_workers=len(replayable) or 1) as pool:
        list(pool.map(replay, replayable))
    yield {"cases": cases, "results": results, "sid": sid, "native": native, "drive_c": wine.drive_c, "replayed": replayed}
    wine.kill_all()
    for case in cases.values():
        if case.id == "golden":
            subprocess.run(["rm", "-rf", str(case.base)], check=False)


def xfail(reasons: dict[str, str], ids=FOLDERS) -> list:
    """The case ids, those in `reasons` marked as failing, with the cause."""
    return [pytest.param(i, marks=pytest.mark.xfail(strict=True, reason=reasons[i])) if i in reasons
            else i for i in ids]


@pytest.mark.parametrize("case_id", xfail({}))
def test_registration_parses_as_its_template(engine, case_id):
    assert engine["results"][case_id]["parse"]["registration"] == []


@pytest.mark.parametrize("case_id", xfail({}))
def test_uninstall_parses_as_its_template(engine, case_id):
    assert engine["results"][case_id]["parse"]["uninstall"] == []


@pytest.mark.parametrize("case_id", xfail({}))
def test_registration_writes_the_uninstall_entry(engine, case_id):
    case, result = engine["cases"][case_id], engine["results"][case_id]
    key = "HKCU:\\" + UNINSTALL_KEY
    command = ('powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -File "'
               + case.install_dir + '\\Uninstall-Korvane.ps1"')
    want = {"DisplayName": ("String", "Korvane"), "DisplayVersion": ("String", expected.VERSION),
            "Publisher": ("String", "V4LDR1N"), "DisplayIcon": ("String", case.install_dir + "\\Korvane.exe"),
            "InstallLocation": ("String", case.install_dir), "UninstallString": ("String", command),
            "NoModify": ("DWord", 1), "NoRepair": ("DWord", 1)}
    assert result["registration_errors"] == []
    assert list(result["registry"]) == [key]
    assert {n: (v["kind"], v["data"]) for n, v in result["registry"][key].items()} == want
    # The command, as Windows splits it.
    split = tool(engine["native"], "split", result["registry"][key]["UninstallString"]["data"])
    assert split.decode().split("\0")[:-1] == [
        "powershell", "-NoProfile", "-WindowStyle", "Hidden", "-ExecutionPolicy", "Bypass", "-File",
        case.install_dir + "\\Uninstall-Korvane.ps1"]


def _check_uninstall(engine, case_id, run_name):
    case, run = engine["cases"][case_id], engine["results"][case_id]["runs"][run_name]
    exists = run["exists"]
    # The installing user's shortcut and Start Menu folder are gone, the
    # install folder is cmd's to remove.
    assert not exists[str(case.desktop)] and not exists[str(case.menu)]
    assert exists[str(case.install_linux)]
    # Both programs were stopped, and had ended before anything was removed.
    # (ConvertTo-Json writes an empty list as null.)
    assert len(run["pids"]) == 2 and not run["unended_after"]
    assert run["removals"] and not any(r["unended"] for r in run["removals"])
    # Nothing reaches the registry but through cmd, by the installing user's SID.
    assert not run["registry_ops"]
    [start] = run["starts"]
    assert start["arguments"] == cmd_text(engine["sid"])
    [called] = run["cmd"]
    assert called["argv"] == tool(engine["native"], "split", "cmd " + cmd_text(engine["sid"])).decode().split("\0")[1:-1]
    assert windows_form(called["cwd"], engine["drive_c"]).lower() == SYSTEM_ROOT.lower()
    assert called["KORVANE_UNINSTALL_DIR"] == case.install_dir


@pytest.mark.parametrize("case_id", xfail({}))
def test_uninstall_removes_the_shortcuts_stops_the_programs_and_starts_cmd(engine, case_id):
    _check_uninstall(engine, case_id, "user")


@pytest.mark.parametrize("case_id", xfail({}))
def test_uninstall_run_by_another_account_removes_the_installing_users_items(engine, case_id):
    _check_uninstall(engine, case_id, "other")
    case, run = engine["cases"][case_id], engine["results"][case_id]["runs"]["other"]
    assert all(run["exists"][str(p)] for p in case.other_files())


# Wine's cmd expands %NAME% inside a value again (Windows' does not), and no
# Windows program can name a folder holding | or <.
REPLAYED = [c for c in FOLDERS if c not in ("golden", "percent", "pipe", "block-comment")]
LONG_REPLAY = "Wine's cmd leaves this folder in place (its files' paths are longer than MAX_PATH)"


@pytest.mark.parametrize("case_id", xfail({"long": LONG_REPLAY}, REPLAYED))
def test_the_recorded_cmd_call_removes_the_folder_and_nothing_else(engine, case_id):
    replay = engine["replayed"].get(case_id)
    assert replay is not None, "the uninstall started cmd not exactly once"
    assert replay["gone"]
    assert replay["after"] == replay["before"]
