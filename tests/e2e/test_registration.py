"""The registration run and the uninstall script, and one whole installation."""

from __future__ import annotations

import hashlib
import shutil
import subprocess

import pytest

from expected import (GOLDEN, GOLDEN_INSTALL_DIR, REGISTRATION_ARGS, VERSION, golden_registration, ps_escape,
                      record_text, shortcut_script, stop_commands, uninstall_script_file)
from harness import winpath

SUCCESS_TEXT = f"Korvane v{VERSION} was installed successfully and is now launching!"

FOLDERS = {
    "plain": "Local",
    "apostrophe": "user's data",
    "typographic apostrophe": "O\u2019Brien",
    "all quotes": "a'b\u2018c\u2019d\u201ae\u201bf",
    "non-ASCII and spaces": "J\u00f6rg \u00c5str\u00f6m \u6e2c\u8a66 \U0001f3b5",
}


@pytest.mark.parametrize("folder", FOLDERS.values(), ids=FOLDERS.keys())
def test_scripts_for_folder_names_that_need_escaping(stage, folder):
    stage.stand_in("powershell.exe")
    local = stage.root / folder
    local.mkdir()
    stage.run_silent(variables={"LOCALAPPDATA": winpath(local)})
    install_dir = winpath(local) + "\\Programs\\Korvane"

    [ps] = stage.records_of("powershell")
    args = [record_text(a) for a in ps["argv"]][1:]
    assert args[:6] == REGISTRATION_ARGS
    assert len(args) == 7
    # The seventh, as the child's C runtime split it, back in UTF-8: byte for byte.
    assert args[6].encode("utf-8") == shortcut_script(install_dir).encode("utf-8")

    on_disk = (local / "Programs" / "Korvane" / "Uninstall-Korvane.ps1").read_bytes()
    assert on_disk == uninstall_script_file(install_dir)


def test_scripts_for_the_golden_folder_byte_for_byte(stage, wine):
    # The folder lives on the prefix's C: drive, so that its Windows path is
    # exactly the one the golden files were written for.
    assert GOLDEN_INSTALL_DIR.startswith("C:\\") and GOLDEN_INSTALL_DIR.endswith("\\Programs\\Korvane")
    local_name = GOLDEN_INSTALL_DIR[3:-len("\\Programs\\Korvane")]
    local = wine.drive_c / local_name
    stage.stand_in("powershell.exe")
    local.mkdir()
    try:
        stage.run_silent(variables={"LOCALAPPDATA": "C:\\" + local_name})
        [ps] = stage.records_of("powershell")
        args = [record_text(a) for a in ps["argv"]][1:]
        assert args[:6] == REGISTRATION_ARGS
        assert args[6].encode() == golden_registration()

        on_disk = (local / "Programs" / "Korvane" / "Uninstall-Korvane.ps1").read_bytes()
        assert on_disk == (GOLDEN / "Uninstall-Korvane.ps1").read_bytes()
        assert on_disk.startswith(b"\xef\xbb\xbf")
        # The folder's text stands in the variable's literal alone: cmd never parses it.
        lines = on_disk.decode("utf-8-sig").split("\n")
        holding = [line for line in lines if local_name.split(" ")[0] in line]
        assert holding == ["$env:KORVANE_UNINSTALL_DIR = '" + ps_escape(GOLDEN_INSTALL_DIR) + "'"]
    finally:
        shutil.rmtree(local, ignore_errors=True)


def test_installing_again_over_a_longer_script_leaves_no_tail(stage):
    script = stage.profile.install_dir / "Uninstall-Korvane.ps1"
    stage.profile.install_dir.mkdir(parents=True)
    script.write_bytes(b"# an older, much longer uninstall script\r\n" * 200)
    stage.run_silent()
    assert script.read_bytes() == uninstall_script_file(winpath(stage.profile.install_dir))


def test_without_powershell_the_run_still_ends_in_the_success_box(stage):
    # Wine's own powershell.exe lives in a folder of PATH only; drop that folder.
    path = "C:\\windows\\system32;C:\\windows"
    run = stage.start(variables={"PATH": path})
    run.press(run.next_box(), "Return")
    box = run.next_box()
    assert box.text == SUCCESS_TEXT
    run.press(box, "Return")
    assert run.wait() == 0
    assert (stage.profile.install_dir / "Uninstall-Korvane.ps1").is_file()


def _digest(p):
    return hashlib.sha256(p.read_bytes()).hexdigest()


def _interactive_install(stage, wine, shots: bool) -> dict:
    kills_before = len(stage.records_of("taskkill"))
    existed = stage.profile.install_dir.exists()
    run = stage.start()
    confirm = run.next_box()
    assert confirm.caption == "Korvane Setup"
    assert confirm.text.startswith(f"Install Korvane v{VERSION}?\n\nInstall folder:\n")
    if shots:
        wine.screenshot("whole-install-confirmation")
    # Nothing has been stopped or written while the box waits.
    assert len(stage.records_of("taskkill")) == kills_before
    assert stage.profile.install_dir.exists() == existed
    run.press(confirm, "Return")

    success = run.next_box()
    assert success.caption == "Korvane Setup"
    assert success.text == SUCCESS_TEXT
    if shots:
        wine.screenshot("whole-install-success")
    # By the time success is reported, every step has happened, in order.
    kills = stage.records_of("taskkill")
    ps = stage.records_of("powershell")[-1]
    assert len(kills) == kills_before + 2
    assert [record_text(r["command_line"]) for r in kills][-2:] == stop_commands()
    install_dir = winpath(stage.profile.install_dir)
    assert [record_text(a) for a in ps["argv"]][1:] == REGISTRATION_ARGS + [shortcut_script(install_dir)]
    exe = stage.profile.install_dir / "Korvane.exe"
    dll = stage.profile.install_dir / "WebView2Loader.dll"
    script = stage.profile.install_dir / "Uninstall-Korvane.ps1"
    assert exe.read_bytes()[:2] == b"MZ" and dll.read_bytes()[:2] == b"MZ"
    assert script.read_bytes() == uninstall_script_file(install_dir)
    run.press(success, "Return")
    assert run.wait() == 0
    starts = stage.app_starts(len(stage.records_of("powershell")))
    assert starts[-1]["cwd"].rstrip("\\").lower() == install_dir.lower()
    return {
        "files": sorted(p.name for p in stage.profile.install_dir.iterdir()),
        "digests": {p.name: _digest(p) for p in stage.profile.install_dir.iterdir()},
        "boxes": [b.text for b in run.boxes()],
    }


def test_whole_interactive_installation_twice_gives_the_same_result(stage, wine):
    stage.stand_in("taskkill.exe")
    stage.stand_in("powershell.exe")
    first = _interactive_install(stage, wine, shots=True)
    assert first["files"] == ["Korvane.exe", "Uninstall-Korvane.ps1", "WebView2Loader.dll"]
    second = _interactive_install(stage, wine, shots=False)
    assert second == first
    assert len(stage.records_of("taskkill")) == 4
    assert len(stage.records_of("powershell")) == 2


def test_uninstalls_cmd_line_removes_the_folder_and_nothing_else(stage, wine):
    # The script's last two lines as PowerShell runs them: the variable set
    # from the literal, then cmd started with the argument list. (Windows' cmd
    # expands %NAME% once and never re-reads a value; Wine's cmd does re-read
    # it, so a folder holding %...% is left to the unit tests.)
    lines = (GOLDEN / "Uninstall-Korvane.ps1").read_bytes().decode("utf-8-sig").split("\n")
    prefix, suffix = "Start-Process cmd -ArgumentList '", "' -WindowStyle Hidden"
    assert lines[6].startswith(prefix) and lines[6].endswith(suffix)
    arguments = lines[6][len(prefix):-len(suffix)]

    target = stage.root / "K & ^x 'q' \u00e9 \u6e2c" / "Programs" / "Korvane"
    sibling = stage.root / "K" / "Programs" / "Korvane"  # what an unquoted & would name
    for d in (target, sibling):
        d.mkdir(parents=True)
        (d / "Korvane.exe").write_bytes(b"MZ")
    subprocess.run(["wine", str(wine.launcher), "--set", "KORVANE_UNINSTALL_DIR=" + winpath(target),
                    "--no-std-handles", "--raw-cmdline", "cmd " + arguments, "--",
                    "C:\\windows\\system32\\cmd.exe"],
                   env=wine.env, capture_output=True, timeout=120, check=False)
    assert not target.exists()
    assert target.parent.is_dir()
    assert (sibling / "Korvane.exe").is_file()
