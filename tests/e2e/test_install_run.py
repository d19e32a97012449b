"""The install run as a user meets it: switches, boxes, folders, exit status."""

from __future__ import annotations

import subprocess
import time

import pytest

from expected import VERSION, record_text, shortcut_script, uninstall_script_file
from harness import winpath

SETUP = "Korvane Setup"
ERROR = "Korvane Setup \u2014 Error"


def confirm_text(install_dir: str) -> str:
    return (
        f"Install Korvane v{VERSION}?\n\nInstall folder:\n" + install_dir + "\n\n"
        "This will add Desktop & Start Menu shortcuts and keep all your existing playlists.\n\n"
        "Korvane Music Player by V4LDR1N"
    )


SUCCESS_TEXT = f"Korvane v{VERSION} was installed successfully and is now launching!"

# The exit statuses deployment tools read (Windows Installer's names).
INSTALLED, USER_EXIT, INSTALL_FAILURE = 0, 1602, 1603


def assert_os_failure_box(box, code: int) -> None:
    """The failure box with a system message and the OS error `code`."""
    assert box.caption == ERROR
    first, _, second = box.text.partition("\n")
    assert first == "Installation failed:"
    suffix = f" (os error {code})"
    assert second.endswith(suffix) and len(second) > len(suffix), box.text


@pytest.mark.parametrize("switch", ["--silent", "/s", "/S", "--SiLeNt"])
def test_silent_run_installs_without_any_box(stage, switch):
    run = stage.start("first", switch, "last")
    assert run.wait() == 0
    assert stage.profile.install_dir.is_dir()
    assert (stage.profile.install_dir / "Korvane.exe").is_file()
    assert run.boxes() == []


def test_not_a_switch_asks_for_confirmation(stage):
    run = stage.start("-silent", "--silent=1", "/silent")
    box = run.next_box()
    assert box.caption == SETUP
    run.press(box, "Escape")
    assert run.wait() == USER_EXIT
    assert not (stage.profile.local / "Programs").exists()


def test_confirmation_then_ok_installs_and_reports_success(stage, wine):
    run = stage.start()
    box = run.next_box()
    assert box.caption == SETUP
    assert box.text_matches(confirm_text(winpath(stage.profile.install_dir))), box.text
    wine.screenshot("confirmation-box")
    # Nothing happens before the answer.
    assert not (stage.profile.local / "Programs").exists()
    run.press(box, "Return")

    done = run.next_box()
    assert done.caption == SETUP
    assert done.text == SUCCESS_TEXT
    wine.screenshot("success-box")
    assert (stage.profile.install_dir / "Korvane.exe").is_file()
    run.press(done, "Return")
    assert run.wait() == INSTALLED
    assert len(run.boxes()) == 2


@pytest.mark.parametrize("answer", ["cancel-button", "escape", "close-button"])
def test_declining_the_confirmation_changes_nothing(stage, answer):
    run = stage.start()
    box = run.next_box()
    if answer == "cancel-button":
        run.send_keys(box, "Tab", "space")  # focus moves from OK to Cancel, which is pressed
    elif answer == "escape":
        run.press(box, "Escape")
    else:
        run.close(box)
    assert run.wait() == USER_EXIT
    assert not (stage.profile.local / "Programs").exists()
    assert len(run.boxes()) == 1
    # No process was stopped and nothing started: no child ran at all.
    assert not stage.app_record.exists()


@pytest.mark.parametrize("silent", [True, False])
def test_install_dir_occupied_by_a_file_shows_the_failure_box(stage, wine, silent):
    (stage.profile.local / "Programs").mkdir(parents=True)
    stage.profile.install_dir.write_bytes(b"not a folder")
    run = stage.start("/s") if silent else stage.start()
    if not silent:
        run.press(run.next_box(), "Return")
    box = run.next_box()
    assert_os_failure_box(box, 183)
    wine.screenshot("failure-box" + ("-silent" if silent else ""))
    run.press(box, "Return")
    assert run.wait() == INSTALL_FAILURE
    assert stage.profile.install_dir.read_bytes() == b"not a folder"
    assert not stage.app_record.exists()


def test_without_localappdata_the_temporary_directory_is_the_base(stage):
    run = stage.run_silent(unset=("LOCALAPPDATA",))
    target = stage.profile.temp / "Programs" / "Korvane"
    assert (target / "Korvane.exe").is_file()
    assert not (stage.profile.local / "Programs").exists()
    assert run.boxes() == []


def test_confirmation_without_localappdata_shows_the_temp_folder(stage):
    run = stage.start(unset=("LOCALAPPDATA",))
    box = run.next_box()
    # TEMP ends in a backslash; the join adds no second one.
    assert box.text_matches(confirm_text(winpath(stage.profile.temp) + "\\Programs\\Korvane")), box.text
    run.press(box, "Escape")
    assert run.wait() == USER_EXIT


def test_localappdata_with_spaces_apostrophe_and_non_ascii_letters(stage):
    local = stage.root / "Jos\u00e9 O'Br\u00efen \u00c5ngstr\u00f6m" / "Local data"
    local.mkdir(parents=True)
    run = stage.start(variables={"LOCALAPPDATA": winpath(local)})
    box = run.next_box()
    assert box.text_matches(confirm_text(winpath(local / "Programs" / "Korvane"))), box.text
    run.press(box, "Return")
    run.press(run.next_box(), "Return")
    assert run.wait() == 0
    assert (local / "Programs" / "Korvane" / "Korvane.exe").is_file()


def test_localappdata_with_a_trailing_backslash(stage):
    run = stage.run_silent(variables={"LOCALAPPDATA": winpath(stage.profile.local) + "\\"})
    assert (stage.profile.install_dir / "Korvane.exe").is_file()
    assert run.boxes() == []


@pytest.mark.parametrize("tail, silent", [
    (' "/S"', True),            # quotes are removed by the splitting
    (' x "--silent" y', True),
    (' " /s"', False),          # a space kept inside quotes
    (' /s=1', False),
    ('', False),
])
def test_switches_on_the_raw_command_line(stage, tail, silent):
    line = '"' + winpath(stage.installer) + '"' + tail
    run = stage.start(raw_cmdline=line)
    if not silent:
        box = run.next_box()
        assert box.caption == SETUP
        run.press(box, "Escape")
    assert run.wait() == (INSTALLED if silent else USER_EXIT)
    assert stage.profile.install_dir.is_dir() == silent
    if silent:
        assert run.boxes() == []


def test_empty_command_line_asks_for_confirmation(stage):
    run = stage.start(raw_cmdline="")
    box = run.next_box()
    assert box.caption == SETUP
    run.press(box, "Escape")
    assert run.wait() == USER_EXIT
    assert not stage.profile.install_dir.exists()


def test_program_name_equal_to_a_switch_counts(stage):
    run = stage.start(raw_cmdline="/s")
    assert run.wait() == 0
    assert stage.profile.install_dir.is_dir()
    assert run.boxes() == []


def test_application_that_cannot_be_written_ends_in_the_failure_box(stage):
    # A folder where Korvane.exe belongs cannot be opened for writing.
    stage.stand_in("powershell.exe")
    (stage.profile.install_dir / "Korvane.exe").mkdir(parents=True)
    run = stage.start("/s")
    box = run.next_box()
    assert_os_failure_box(box, 5)
    run.press(box, "Return")
    assert run.wait() == INSTALL_FAILURE
    # Nothing new in the folder, no registration, no start.
    assert sorted(p.name for p in stage.profile.install_dir.iterdir()) == ["Korvane.exe"]
    assert stage.records_of("powershell") == []
    assert not stage.app_record.exists()


def test_loader_held_by_a_running_program_ends_in_the_failure_box(stage, wine):
    stage.stand_in("powershell.exe")
    stage.run_silent()
    install_dir = stage.profile.install_dir
    loader = install_dir / "WebView2Loader.dll"
    old_loader = loader.read_bytes()
    # Another program of the folder (not stopped by taskkill) has the loader mapped.
    holder = install_dir / "Holder.exe"
    holder.write_bytes((install_dir / "Korvane.exe").read_bytes())
    held = subprocess.Popen(["wine", str(wine.launcher), "--set", "KORVANE_STANDIN_EXIT=0",
                             "--no-std-handles", "--", winpath(holder)],
                            env=wine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 60
        while not wine.windows_named("Korvane (stand-in build)") and time.monotonic() < deadline:
            time.sleep(0.2)
        assert wine.windows_named("Korvane (stand-in build)"), "the holder runs"
        (install_dir / "Uninstall-Korvane.ps1").unlink()
        starts = len(stage.app_records_now())

        run = stage.start()
        run.press(run.next_box(), "Return")
        box = run.next_box()
        assert_os_failure_box(box, 32)
        wine.screenshot("failure-box-held-loader")
        run.press(box, "Return")
        assert run.wait() == INSTALL_FAILURE
        assert len(run.boxes()) == 2, "no success box"
        # The folder as it was: no new file, no script, no registration, no start.
        assert loader.read_bytes() == old_loader
        assert sorted(p.name for p in install_dir.iterdir()) == ["Holder.exe", "Korvane.exe",
                                                                  "WebView2Loader.dll"]
        assert not (install_dir / "Uninstall-Korvane.ps1").exists()
        assert len(stage.records_of("powershell")) == 1
        assert len(stage.app_records_now()) == starts
    finally:
        wine.kill_all()
        held.wait(timeout=60)


def test_empty_localappdata_installs_below_the_current_directory_by_its_absolute_path(stage):
    stage.stand_in("powershell.exe")
    cwd = stage.root / "current"
    cwd.mkdir()
    run = stage.start("/s", variables={"LOCALAPPDATA": ""}, cwd=cwd)
    assert run.wait() == 0
    install_dir = cwd / "Programs" / "Korvane"
    assert (install_dir / "Korvane.exe").is_file()
    assert run.boxes() == []
    # The shortcuts, the uninstall entry and the uninstall script name the folder
    # whatever the current directory is when they are used.
    [ps] = stage.records_of("powershell")
    assert record_text(ps["argv"][-1]) == shortcut_script(winpath(install_dir))
    assert (install_dir / "Uninstall-Korvane.ps1").read_bytes() == uninstall_script_file(winpath(install_dir),
                                                                                         stage.session.shell)
    [app] = stage.app_starts()
    assert app["cwd"].rstrip("\\").lower() == winpath(install_dir).lower()


def test_confirmation_shows_the_absolute_folder_for_a_relative_localappdata(stage):
    cwd = stage.root / "current"
    (cwd / "rel").mkdir(parents=True)
    run = stage.start(variables={"LOCALAPPDATA": "rel"}, cwd=cwd)
    box = run.next_box()
    assert box.text == confirm_text(winpath(cwd / "rel" / "Programs" / "Korvane"))
    run.press(box, "Escape")
    assert run.wait() == USER_EXIT
