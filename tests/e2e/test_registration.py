"""The registration run, the shortcuts, the uninstall script, and one whole installation."""

from __future__ import annotations

import dataclasses
import hashlib
import shutil

import pytest

from expected import (GOLDEN, GOLDEN_INSTALL_DIR, GOLDEN_SHELL, REGISTRATION_ARGS, VERSION, golden_registration,
                      ps_escape, record_text, shortcut_script, stop_commands, uninstall_script_file)
from harness import link_string_data, read_link, winpath

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
    assert on_disk == uninstall_script_file(install_dir, stage.session.shell)


def _drive_c_folder(wine, windows_path: str):
    assert windows_path.startswith("C:\\")
    return wine.drive_c.joinpath(*windows_path[3:].split("\\"))


def test_scripts_and_shortcuts_for_the_golden_folders_byte_for_byte(stage, wine):
    # The folders live on the prefix's C: drive, so that their Windows paths
    # are exactly the ones the golden files were written for: the install
    # folder, and shell folders that hold brackets (wildcards to -Path).
    assert GOLDEN_INSTALL_DIR.startswith("C:\\") and GOLDEN_INSTALL_DIR.endswith("\\Programs\\Korvane")
    assert "[" in GOLDEN_SHELL.desktop_dir and "[" in GOLDEN_SHELL.programs_dir
    assert GOLDEN_SHELL.sid == wine.user_sid
    local_name = GOLDEN_INSTALL_DIR[3:-len("\\Programs\\Korvane")]
    local = wine.drive_c / local_name
    desktop = _drive_c_folder(wine, GOLDEN_SHELL.desktop_dir)
    programs = _drive_c_folder(wine, GOLDEN_SHELL.programs_dir)
    stage.stand_in("powershell.exe")
    for d in (local, desktop, programs):
        d.mkdir(parents=True)
    try:
        wine.set_shell_folder("Desktop", GOLDEN_SHELL.desktop_dir)
        wine.set_shell_folder("Programs", GOLDEN_SHELL.programs_dir)
        stage.run_silent(variables={"LOCALAPPDATA": "C:\\" + local_name})
        [ps] = stage.records_of("powershell")
        args = [record_text(a) for a in ps["argv"]][1:]
        assert args[:6] == REGISTRATION_ARGS
        assert args[6].encode() == golden_registration()

        on_disk = (local / "Programs" / "Korvane" / "Uninstall-Korvane.ps1").read_bytes()
        assert on_disk == (GOLDEN / "Uninstall-Korvane.ps1").read_bytes()
        assert on_disk.startswith(b"\xef\xbb\xbf")
        # The folder's text stands in literals alone: the folder, and the
        # folder the application was started by (the same one, as it is short).
        lines = on_disk.decode("utf-8-sig").split("\n")
        holding = [line for line in lines if local_name.split(" ")[0] in line]
        assert holding == [f"${name} = '{ps_escape(GOLDEN_INSTALL_DIR)}'" for name in ("written", "launched")]

        # Both shortcuts, in the bracketed folders. The start-in folder and
        # the comment are Unicode strings in the file and must come back
        # exactly; the target is not checked here, since Wine's link object
        # stores only an ANSI name for it (Windows' stores the Unicode one;
        # the ASCII-folder test checks the target). lnkinfo reads every
        # character of the BMP; the letter beyond it is checked in the
        # string data itself, which lnkinfo decodes wrongly.
        def bmp(text):
            return "".join(c for c in text if ord(c) < 0x10000)

        for link in (desktop / "Korvane.lnk", programs / "Korvane" / "Korvane.lnk"):
            fields = read_link(link)
            assert bmp(fields["Working directory"]) == bmp(GOLDEN_INSTALL_DIR), link
            assert fields["Description"] == "Korvane Music Player", link
            strings = link_string_data(link)
            assert strings["Working directory"] == GOLDEN_INSTALL_DIR, link
            assert strings["Description"] == "Korvane Music Player", link
    finally:
        wine.set_shell_folder("Desktop", winpath(wine.desktop))
        wine.set_shell_folder("Programs", winpath(wine.programs))
        for d in (local, desktop, programs):
            shutil.rmtree(d, ignore_errors=True)
        for d in (local, desktop.parent, programs.parent):
            shutil.rmtree(d, ignore_errors=True)


def test_installing_again_over_a_longer_script_leaves_no_tail(stage):
    script = stage.profile.install_dir / "Uninstall-Korvane.ps1"
    stage.profile.install_dir.mkdir(parents=True)
    script.write_bytes(b"# an older, much longer uninstall script\r\n" * 200)
    stage.run_silent()
    assert script.read_bytes() == uninstall_script_file(winpath(stage.profile.install_dir), stage.session.shell)


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


def test_without_powershell_the_installer_makes_both_shortcuts_itself(stage, wine):
    stage.run_silent(variables={"PATH": "C:\\windows\\system32;C:\\windows"})
    exe = winpath(stage.profile.install_dir / "Korvane.exe")
    # An ASCII folder: Wine's link object stores the target as the very path
    # (it keeps only ANSI names there), so the target is checked exactly here.
    assert exe.isascii()
    links = [wine.desktop / "Korvane.lnk", wine.programs / "Korvane" / "Korvane.lnk"]
    for link in links:
        fields = read_link(link)
        assert fields["Local path"] == exe, link
        assert fields["Working directory"] == winpath(stage.profile.install_dir), link
        assert fields["Description"] == "Korvane Music Player", link
    # The uninstall script names exactly these, and Wine's user by SID.
    lines = (stage.profile.install_dir / "Uninstall-Korvane.ps1").read_bytes().decode("utf-8-sig").split("\n")
    assert f"$desktopLink = '{winpath(links[0])}'" in lines
    assert f"$menu = '{winpath(links[1].parent)}'" in lines
    assert sum(f"::Users.DeleteSubKeyTree('{wine.user_sid}\\Software\\" in line for line in lines) == 1


def test_installing_again_replaces_the_shortcuts(stage, wine):
    first = stage.root / "first"
    first.mkdir()
    stage.run_silent(variables={"LOCALAPPDATA": winpath(first)})
    stage.run_silent()
    for link in (wine.desktop / "Korvane.lnk", wine.programs / "Korvane" / "Korvane.lnk"):
        assert read_link(link)["Local path"] == winpath(stage.profile.install_dir / "Korvane.exe")


def test_a_desktop_the_shell_cannot_give_gets_no_shortcut_and_no_line(stage, wine):
    missing = stage.root / "no such desktop"
    try:
        wine.set_shell_folder("Desktop", winpath(missing))
        stage.run_silent()
    finally:
        wine.set_shell_folder("Desktop", winpath(wine.desktop))
    assert not missing.exists()
    assert (wine.programs / "Korvane" / "Korvane.lnk").is_file()
    script = (stage.profile.install_dir / "Uninstall-Korvane.ps1").read_bytes()
    shell = dataclasses.replace(stage.session.shell, desktop_dir=None)
    assert script == uninstall_script_file(winpath(stage.profile.install_dir), shell)


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
    assert script.read_bytes() == uninstall_script_file(install_dir, stage.session.shell)
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
