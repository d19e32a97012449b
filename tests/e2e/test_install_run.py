"""The install run as a user meets it: switches, boxes, folders, exit status."""

from __future__ import annotations

import pytest

from expected import VERSION
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
    assert run.wait() == 0
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
    assert run.wait() == 0
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
    assert run.wait() == 0
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
    assert box.caption == ERROR
    first, _, second = box.text.partition("\n")
    assert first == "Installation failed:"
    assert second.endswith(" (os error 183)"), box.text
    assert len(second) > len(" (os error 183)")
    wine.screenshot("failure-box" + ("-silent" if silent else ""))
    run.press(box, "Return")
    assert run.wait() == 0
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
    assert run.wait() == 0


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
    assert run.wait() == 0
    assert stage.profile.install_dir.is_dir() == silent
    if silent:
        assert run.boxes() == []


def test_empty_command_line_asks_for_confirmation(stage):
    run = stage.start(raw_cmdline="")
    box = run.next_box()
    assert box.caption == SETUP
    run.press(box, "Escape")
    assert run.wait() == 0
    assert not stage.profile.install_dir.exists()


def test_program_name_equal_to_a_switch_counts(stage):
    run = stage.start(raw_cmdline="/s")
    assert run.wait() == 0
    assert stage.profile.install_dir.is_dir()
    assert run.boxes() == []


def test_application_that_cannot_be_written_ends_in_the_failure_box(stage):
    # A folder where Korvane.exe belongs cannot be opened for writing.
    stage.place_beside("powershell.exe")
    (stage.profile.install_dir / "Korvane.exe").mkdir(parents=True)
    run = stage.start("/s")
    box = run.next_box()
    assert box.caption == ERROR
    first, _, second = box.text.partition("\n")
    assert first == "Installation failed:"
    assert second.endswith(" (os error 5)"), box.text
    run.press(box, "Return")
    assert run.wait() == 0
    # Nothing after the fatal step: no loader, no script, no registration, no start.
    assert sorted(p.name for p in stage.profile.install_dir.iterdir()) == ["Korvane.exe"]
    assert stage.records_of("powershell") == []
    assert not stage.app_record.exists()


def test_empty_localappdata_installs_below_the_current_directory(stage):
    cwd = stage.root / "current"
    cwd.mkdir()
    run = stage.start("/s", variables={"LOCALAPPDATA": ""}, cwd=cwd)
    assert run.wait() == 0
    assert (cwd / "Programs" / "Korvane" / "Korvane.exe").is_file()
    assert run.boxes() == []
