"""Both scripts, as the built installer made them, read by PowerShell.

One installer run per folder name (silent, the powershell stand-in records
the registration text; the uninstall file is on disk), then one PowerShell
start for all of them (tests/engine/runner.ps1): each script parsed and
compared with its template token by token, and the registration run against
a registry stand-in. Names Windows cannot hold as a folder (a lone
surrogate, `|`, `<`) are filled by the project's own code instead. What the
uninstall does is shown under Wine by the journey tests.
"""

from __future__ import annotations

import json
import subprocess
from pathlib import Path

import pytest

import expected
from expected import GOLDEN_INSTALL_DIR, REGISTRATION_ARGS, record_text
from harness import Profile, Stage, winpath

# One worker runs them all, after the one fixture that installs every case.
pytestmark = [pytest.mark.engine, pytest.mark.xdist_group("engine")]

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
UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane"


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

    def env(self) -> dict[str, str]:
        return {"APPDATA": winpath(self.profile.roaming), "USERPROFILE": winpath(self.profile.root),
                "HOME": str(self.profile.root)}


def launched_dir(wine, case: Case) -> str:
    """The folder the application is started by: the install folder, or,
    where Korvane.exe's path would pass MAX_PATH, its short form."""
    if case.id in NATIVE or len(case.install_dir + "\\Korvane.exe") <= 259:
        return case.install_dir
    return subprocess.run(["winepath", "-s", case.install_dir], env=wine.env, capture_output=True, text=True,
                          check=True, timeout=120).stdout.strip()


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
        # The application starts whatever the folder's name. Past MAX_PATH
        # only by its short form, which Wine expands again and cannot start
        # (test_children shows what is asked for); never with a current
        # directory CreateProcessW cannot take, which broke Wine's heap.
        if len(case.install_dir + "\\Korvane.exe") <= 259:
            assert len(stage.app_starts()) == 1, "the application did not start"
        [ps] = stage.records_of("powershell")
        args = [record_text(a) for a in ps["argv"]][1:]
        assert args[:6] == REGISTRATION_ARGS and len(args) == 7
        reg_file.write_text(args[6], encoding="utf-8", newline="")
    finally:
        wine.kill_all()
        stage.close()
    return reg_file


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
            entries.append({
                "id": case_id, "registration": str(reg_file),
                "uninstall": str(case.install_linux / "Uninstall-Korvane.ps1"),
                "registration_values": {"{0}": case.install_dir + "\\Korvane.exe", "{1}": case.install_dir,
                                        "{2}": expected.VERSION},
                "uninstall_values": {"{0}": case.install_dir, "{1}": winpath(case.desktop),
                                     "{2}": winpath(case.menu), "{3}": sid,
                                     "{4}": launched_dir(wine, case)},
                "profile": case.env()})
        config = {"registration_template": str(templates / "registration.ps1"),
                  "uninstall_template": str(templates / "Uninstall-Korvane.ps1"), "cases": entries}
        (root / "cases.json").write_text(json.dumps(config, ensure_ascii=False), encoding="utf-8")
        subprocess.run([pwsh, "-NoProfile", "-NonInteractive", "-File", str(ENGINE / "runner.ps1"),
                        str(root / "cases.json"), str(root / "result.json")], check=True, timeout=900)
        results = json.loads((root / "result.json").read_text(encoding="utf-8-sig"))
        yield {"cases": cases, "results": results, "native": native}
    finally:
        # Back to the session's folders, which the other tests read; the
        # golden folder lies on the shared C: drive, where other tests make it.
        set_shell_folders(wine, winpath(wine.desktop), winpath(wine.programs))
        if "golden" in cases:
            subprocess.run(["rm", "-rf", str(cases["golden"].base)], check=False)


@pytest.mark.parametrize("case_id", FOLDERS)
def test_registration_parses_as_its_template(engine, case_id):
    assert engine["results"][case_id]["parse"]["registration"] == []


@pytest.mark.parametrize("case_id", FOLDERS)
def test_uninstall_parses_as_its_template(engine, case_id):
    assert engine["results"][case_id]["parse"]["uninstall"] == []


@pytest.mark.parametrize("case_id", FOLDERS)
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
