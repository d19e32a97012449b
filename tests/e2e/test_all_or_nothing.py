"""The three installed files as one unit, bounded waits for children, and the
exit status, as a user (or a deployment tool) meets them."""

from __future__ import annotations

import os
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from harness import Stage, winpath
from test_install_run import INSTALL_FAILURE, INSTALLED, assert_os_failure_box

NAMES = ("Korvane.exe", "WebView2Loader.dll", "Uninstall-Korvane.ps1")


def old_installation(stage: Stage, base: Path | None = None) -> dict[str, bytes]:
    """An earlier version in the install folder below `base`: the recorder as
    its application (it needs no loader to start), and a loader and a script
    that differ from the new ones. Gives the folder's files and bytes."""
    install_dir = (base or stage.profile.local) / "Programs" / "Korvane"
    install_dir.mkdir(parents=True)
    shutil.copy2(stage.session.recorder, install_dir / "Korvane.exe")
    (install_dir / "WebView2Loader.dll").write_bytes(b"MZ old loader" * 100)
    (install_dir / "Uninstall-Korvane.ps1").write_bytes(b"# old uninstaller\r\n")
    return folder(install_dir)


def folder(d: Path) -> dict[str, bytes | None]:
    """Each entry of `d` with its bytes (None for a directory)."""
    return {p.name: None if p.is_dir() else p.read_bytes() for p in sorted(d.iterdir())}


def old_application_starts(stage: Stage, install_dir: Path) -> bool:
    """Runs the folder's Korvane.exe (the recorder) and tells whether it ran."""
    records = stage.root / "old-app-records"
    records.mkdir(exist_ok=True)
    wine = stage.session
    subprocess.run(["wine", str(wine.launcher), "--set", f"KORVANE_RECORD_DIR={winpath(records)}",
                    "--no-std-handles", "--", winpath(install_dir / "Korvane.exe")],
                   env=wine.env, capture_output=True, timeout=120)
    return any(records.glob("Korvane-*.done"))


class SmallDisk:
    """A tmpfs of its own for LOCALAPPDATA, filled until `free` bytes are left."""

    def __init__(self, stage: Stage, size: int = 4 << 20):
        self.local = stage.root / "small-disk"
        self.local.mkdir()
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(self.local)],
                       check=True)

    def leave_free(self, free: int) -> None:
        st = os.statvfs(self.local)
        room = st.f_bavail * st.f_frsize
        assert room > free
        (self.local / "filler").write_bytes(b"\0" * (room - free))
        st = os.statvfs(self.local)
        assert st.f_bavail * st.f_frsize == free

    def close(self) -> None:
        subprocess.run(["umount", "-l", str(self.local)], check=False)


@pytest.fixture
def small_disk(stage):
    disk = SmallDisk(stage)
    yield disk
    stage.session.kill_all()  # nothing of Wine may hold a file there
    disk.close()


@pytest.mark.tmpfs
def test_upgrade_without_room_keeps_the_old_files_byte_for_byte(stage, small_disk):
    before = old_installation(stage, small_disk.local)
    install_dir = small_disk.local / "Programs" / "Korvane"
    small_disk.leave_free(64 * 1024)  # less than the new application needs
    run = stage.start("--silent", variables={"LOCALAPPDATA": winpath(small_disk.local)})
    box = run.next_box()
    assert_os_failure_box(box, 112)
    run.press(box, "Return")
    assert run.wait() == INSTALL_FAILURE
    assert folder(install_dir) == before  # no stray file either
    assert not stage.app_record.exists()
    assert old_application_starts(stage, install_dir)


@pytest.mark.tmpfs
def test_fresh_install_with_room_for_the_application_only_leaves_nothing(stage, small_disk, build_dir):
    app_size = (build_dir / "standin" / "Korvane.exe").stat().st_size
    small_disk.leave_free(-(-app_size // 4096) * 4096)
    run = stage.start("--silent", variables={"LOCALAPPDATA": winpath(small_disk.local)})
    box = run.next_box()
    assert_os_failure_box(box, 112)
    run.press(box, "Return")
    assert run.wait() == INSTALL_FAILURE
    assert list((small_disk.local / "Programs" / "Korvane").iterdir()) == []


@pytest.mark.parametrize("blocked", ["WebView2Loader.dll", "Uninstall-Korvane.ps1"])
def test_a_target_that_is_a_directory_leaves_the_folder_unchanged(stage, blocked):
    before = old_installation(stage)
    install_dir = stage.profile.install_dir
    (install_dir / blocked).unlink()
    (install_dir / blocked).mkdir()
    before[blocked] = None
    run = stage.start("--silent")
    box = run.next_box()
    assert_os_failure_box(box, 5)
    run.press(box, "Return")
    assert run.wait() == INSTALL_FAILURE
    assert folder(install_dir) == before
    assert not stage.app_record.exists()


def test_upgrade_replaces_all_three_files(stage, build_dir):
    old_installation(stage)
    stage.run_silent()
    files = folder(stage.profile.install_dir)
    assert sorted(files) == sorted(NAMES)
    for name in NAMES[:2]:
        assert files[name] == (build_dir / "standin" / name).read_bytes(), name


def finished(stage: Stage, program: str) -> int:
    """How many runs of the stand-in `program` have reached their end."""
    return len(list(stage.records.glob(f"{program}-*.done")))


def ends_later(stage: Stage, program: str, count: int, timeout: float = 90) -> bool:
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if finished(stage, program) == count:
            return True
        time.sleep(0.2)
    return False


@pytest.mark.parametrize("program, runs", [("powershell", 1), ("taskkill", 2)])
def test_a_child_that_does_not_end_is_left_running_and_the_run_goes_on(stage, build_dir, program, runs):
    stage.stand_in(program + ".exe")
    # The short-limit installer waits 2 s for each child; these take 15 s.
    run = stage.start("--silent", installer=build_dir / "korvane_setup_short_wait.exe",
                      variables={"KORVANE_RECORD_SLEEP_MS": "15000"})
    assert run.wait() == INSTALLED
    assert run.boxes() == []
    assert len(stage.app_starts()) == 1
    assert (stage.profile.install_dir / "Uninstall-Korvane.ps1").is_file()
    assert len(stage.records_of(program)) == runs
    assert finished(stage, program) < runs, "the installer did not wait for every child"
    # Not stopped: each child runs to its own end after the installer is gone.
    assert ends_later(stage, program, runs)


def test_two_installers_at_once_both_install_one_after_the_other(stage, build_dir):
    # Ten pairs of a small and an application-sized installer started
    # together (a double-click twice, a deployment tool and the user): fresh
    # and over an installation, in both orders. The second waits for the
    # first's lock, then installs over it.
    small = (build_dir / "korvane_setup.exe", build_dir / "standin" / "Korvane.exe")
    large = (build_dir / "korvane_setup_large.exe", build_dir / "tests" / "payload" / "large" / "Korvane.exe")
    apps = {small[1].read_bytes(), large[1].read_bytes()}
    loader = (build_dir / "standin" / "WebView2Loader.dll").read_bytes()
    install_dir = stage.profile.install_dir
    for pair in range(10):
        if pair % 2 == 0:
            shutil.rmtree(install_dir, ignore_errors=True)
        first, second = (small, large) if pair % 4 < 2 else (large, small)
        runs = [stage.start("--silent", installer=first[0], trace_boxes=False),
                stage.start("--silent", installer=second[0], trace_boxes=False)]
        assert [run.wait() for run in runs] == [INSTALLED, INSTALLED], pair
        files = folder(install_dir)
        assert sorted(files) == sorted(NAMES), pair
        assert files["Korvane.exe"] in apps and files["WebView2Loader.dll"] == loader, pair


def test_an_installer_that_cannot_have_the_lock_in_time_changes_nothing(stage, build_dir):
    # Another run holds the user's lock for longer than the short-wait
    # installer waits (2 s): deployment tools retry 1618.
    holder = stage.other_program(lock="Global\\KorvaneSetup-" + stage.session.user_sid, sleep_ms=60000)
    try:
        run = stage.start("--silent", installer=build_dir / "korvane_setup_short_wait.exe")
        box = run.next_box()
        assert_os_failure_box(box, 1618)
        run.press(box, "Return")
        assert run.wait() == 1618
        assert not stage.profile.local.joinpath("Programs").exists()
        assert not stage.app_record.exists()
    finally:
        holder.kill()
        holder.wait(timeout=60)


class Holder:
    """A program outside the folder that keeps `path` open for reading,
    sharing read and write but not delete (a backup agent, a viewer, an
    antivirus), until closed."""

    def __init__(self, stage: Stage, path: Path):
        self.proc = stage.other_program(hold=path)

    def close(self, stage: Stage) -> None:
        self.proc.kill()
        self.proc.wait(timeout=60)
        stage.session.kill_all()


@pytest.mark.parametrize("held", NAMES)
def test_a_target_held_with_read_and_write_sharing_leaves_the_folder_as_it_was(stage, held):
    before = old_installation(stage)
    install_dir = stage.profile.install_dir
    holder = Holder(stage, install_dir / held)
    try:
        run = stage.start("--silent")
        box = run.next_box()
        assert_os_failure_box(box, 32)
        run.press(box, "Return")
        assert run.wait() == INSTALL_FAILURE
        # Name for name and byte for byte: no backup left beside the file.
        assert folder(install_dir) == before
        assert not stage.app_record.exists()
    finally:
        holder.close(stage)


# What a run killed part way leaves (its process long gone), by where it was
# killed: file name -> content, None for the new file of that name.
TAG = "setup-4000000000-77"
KILLED = {
    "while writing": {
        f"Korvane.exe.{TAG}.new": b"MZ part of an application",
        f"WebView2Loader.dll.{TAG}.new": None,
    },
    "after the first rename": {
        "Korvane.exe": None,
        f"Korvane.exe.{TAG}.old": b"old application",
        f"WebView2Loader.dll.{TAG}.new": None,
        f"Uninstall-Korvane.ps1.{TAG}.new": b"# new uninstaller\n",
    },
    "with the loader moved aside": {
        "WebView2Loader.dll": "gone",
        f"WebView2Loader.dll.{TAG}.old": b"MZ old loader",
    },
}


@pytest.mark.parametrize("killed", KILLED)
def test_what_a_killed_upgrade_left_is_cleared_by_the_next_run(stage, build_dir, killed):
    old_installation(stage)
    install_dir = stage.profile.install_dir
    for name, content in KILLED[killed].items():
        target = install_dir / name
        if content == "gone":
            target.unlink()
        else:
            new = build_dir / "standin" / name.split(".setup-")[0]
            target.write_bytes(content if content is not None else new.read_bytes()
                               if new.exists() else b"new")
    stage.run_silent()
    files = folder(install_dir)
    assert sorted(files) == sorted(NAMES)
    for name in NAMES[:2]:
        assert files[name] == (build_dir / "standin" / name).read_bytes(), name


def test_a_read_only_installation_is_upgraded_and_leaves_nothing_read_only(stage, build_dir):
    old_installation(stage)
    install_dir = stage.profile.install_dir
    # Wine shows a file without write permission as FILE_ATTRIBUTE_READONLY.
    for name in NAMES:
        (install_dir / name).chmod(0o444)
    stage.run_silent()
    files = folder(install_dir)
    assert sorted(files) == sorted(NAMES)
    for name in NAMES[:2]:
        assert files[name] == (build_dir / "standin" / name).read_bytes(), name
    for name in NAMES:
        assert (install_dir / name).stat().st_mode & 0o200, f"{name} is still read-only"


def test_a_scanner_opening_each_new_file_for_a_moment_does_not_stop_the_upgrade(stage, build_dir):
    # The application-sized installer: writing and flushing its 39.5 MB gives
    # the scanner time to find the staged file before the rename needs it.
    old_installation(stage)
    install_dir = stage.profile.install_dir
    wine = stage.session
    status = stage.root / "scanner-status.txt"
    scanner = subprocess.Popen(["wine", str(wine.launcher), "--scan", winpath(install_dir), winpath(status)],
                               env=wine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 60
        while not status.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        assert status.read_text(encoding="ascii") == "ready"
        stage.run_silent(installer=build_dir / "korvane_setup_large.exe")
        scanner.wait(timeout=90)
        # It held at least one new file while the run needed to rename it.
        assert int(status.read_text(encoding="ascii")) >= 1
        files = folder(install_dir)
        assert sorted(files) == sorted(NAMES)
        assert files["Korvane.exe"] == (build_dir / "tests" / "payload" / "large" / "Korvane.exe").read_bytes()
    finally:
        scanner.kill()
