"""The programs the installer starts: stop commands, registration run, the app."""

from __future__ import annotations

import re
import subprocess
import threading
import time

import pytest

from expected import REGISTRATION_ARGS, VERSION, record_text, shortcut_script, stop_commands
from harness import decode_wine_debugstr, winpath


def test_programs_planted_beside_the_installer_are_never_started(stage):
    planted = [stage.place_beside("taskkill.exe"), stage.place_beside("powershell.exe")]
    system = [stage.stand_in("taskkill.exe"), stage.stand_in("powershell.exe")]
    stage.run_silent()
    kills = stage.records_of("taskkill")
    assert [record_text(r["command_line"]) for r in kills] == stop_commands()
    for r, name in zip(kills, ["Korvane.exe", "KorvaneCore.exe"]):
        assert [record_text(a) for a in r["argv"]][1:] == ["/F", "/IM", name]
        assert [record_text(a) for a in r["argv_shell"]][1:] == ["/F", "/IM", name]
    [ps] = stage.records_of("powershell")
    started = {record_text(r["module_path"]).lower() for r in kills + [ps]}
    assert started == {p.lower() for p in system}
    assert not started & {winpath(p).lower() for p in planted}


def test_registration_script_arrives_as_one_unchanged_argument(stage):
    stage.stand_in("powershell.exe")
    local = stage.root / "Z\u00fcrich \u00e9t\u00e9 \u6e2c\u8a66 \U0001f3b5" / "Local $x `y"
    local.mkdir(parents=True)
    stage.run_silent(variables={"LOCALAPPDATA": winpath(local)})
    [ps] = stage.records_of("powershell")
    install_dir = winpath(local) + "\\Programs\\Korvane"
    want = REGISTRATION_ARGS + [shortcut_script(install_dir)]
    assert [record_text(a) for a in ps["argv"]][1:] == want
    assert [record_text(a) for a in ps["argv_shell"]][1:] == want
    # Quotes, backslashes and line feeds of the script pass through the quoting.
    script = want[-1]
    assert '"' in script and "\\" in script and "\n" in script


def test_each_child_is_waited_for_before_the_next_step(stage):
    stage.stand_in("taskkill.exe")
    stage.stand_in("powershell.exe")
    stage.run_silent(variables={"KORVANE_RECORD_SLEEP_MS": "700"})
    done = sorted(stage.records.glob("*.done"), key=lambda p: p.stat().st_mtime_ns)
    started = sorted(stage.records.glob("*.json"), key=lambda p: p.stat().st_mtime_ns)
    assert [p.name.split("-")[0] for p in started] == ["taskkill", "taskkill", "powershell"]
    assert len(done) == 3, "every child ran to its end before the installer did"
    # Each child ended before the next one began.
    for finished, following in zip(done, started[1:]):
        assert finished.stat().st_mtime_ns <= following.stat().st_mtime_ns
    exe = stage.profile.install_dir / "Korvane.exe"
    script = stage.profile.install_dir / "Uninstall-Korvane.ps1"
    assert done[1].stat().st_mtime_ns <= exe.stat().st_mtime_ns, "files written after the stop commands"
    assert script.stat().st_mtime_ns <= started[2].stat().st_mtime_ns, "uninstall script before registration"
    [app] = stage.app_starts()
    assert done[2].stat().st_mtime_ns <= stage.app_record.stat().st_mtime_ns, "launch after registration"


def test_redirected_output_reaches_the_children(stage):
    stage.stand_in("taskkill.exe")
    stage.stand_in("powershell.exe")
    out = stage.root / "installer-output.txt"
    stage.run_silent(stdout=out)
    text = out.read_text(encoding="utf-8", errors="replace")
    assert text.count("recorder: taskkill") == 2
    assert text.count("recorder: powershell") == 1
    # Through the installer's relay: the children never hold the file itself.
    for r in stage.records_of("taskkill") + stage.records_of("powershell"):
        assert r["std_handles"]["stdout"]["type"] == "pipe"
        assert r["std_handles"]["stderr"]["type"] == "pipe"


def test_started_from_the_desktop_children_get_no_handles_of_ours(stage):
    stage.stand_in("taskkill.exe")
    stage.run_silent()
    for r in stage.records_of("taskkill"):
        for stream in ("stdin", "stdout", "stderr"):
            h = r["std_handles"][stream]
            # Absent, or the child's own (hidden) console: never a file or pipe of ours.
            assert not h["present"] or h["console"], (stream, h)


def test_children_inherit_the_environment_unchanged(stage):
    stage.stand_in("taskkill.exe")
    stage.stand_in("powershell.exe")
    value = "x=\u00e9\U0001f3b5 \"q\" %PATH% ;;"
    stage.run_silent(variables={"KORVANE_RECORD_VAR": "KORVANE_PROBE", "KORVANE_PROBE": value,
                                "KORVANE_STANDIN_PROBE": value})
    for r in stage.records_of("taskkill") + stage.records_of("powershell"):
        assert record_text(r["var_value"]) == value
    [app] = stage.app_starts()
    assert app["probe"] == value


def test_no_programs_to_be_found_the_run_still_ends_normally(stage):
    # Nothing beside the installer, and a PATH without the PowerShell folder.
    empty = stage.root / "empty"
    empty.mkdir()
    run = stage.start(variables={"PATH": winpath(empty)})
    run.press(run.next_box(), "Return")
    done = run.next_box()
    assert done.text == f"Korvane v{VERSION} was installed successfully and is now launching!"
    run.press(done, "Return")
    assert run.wait() == 0
    assert (stage.profile.install_dir / "Korvane.exe").is_file()
    assert (stage.profile.install_dir / "Uninstall-Korvane.ps1").is_file()
    assert len(stage.app_starts()) == 1


def _unix_path(wine, windows_path: str) -> str:
    """Where Wine finds `windows_path` (short names resolved)."""
    return subprocess.run(["winepath", "-u", windows_path], env=wine.env, capture_output=True, text=True,
                          check=True, timeout=120).stdout.strip().rstrip("/")


# The install folder's length in units: past 247 Korvane.exe is too long a
# program path, past 258 the folder too long a current directory; the
# installer then asks for the short (8.3) forms.
@pytest.mark.parametrize("length", [0, 250, 270], ids=["plain", "250 units", "270 units"])
def test_installed_application_is_started_in_the_install_folder(stage, length):
    local = stage.profile.local
    if length:
        rest = length - len(winpath(local)) - len("\\Programs\\Korvane")
        local = local / ("L" * (rest - 122)) / ("M" * 120)
        local.mkdir(parents=True)
    install_dir = local / "Programs" / "Korvane"
    run = stage.start("--silent", variables={"KORVANE_STANDIN_PROBE": "from the installer", "LOCALAPPDATA": winpath(local)},
                      wine_debug="trace+process")
    assert run.wait() == 0
    assert len(winpath(install_dir)) == (length or len(winpath(install_dir)))
    if not length:
        [app] = stage.app_starts()
        assert app["probe"] == "from the installer"
        assert app["cwd"].rstrip("\\").lower() == winpath(install_dir).lower()
        assert app["cmdline"] == '"' + winpath(install_dir / "Korvane.exe") + '"'
        return
    # Asked for by a program path that fits in MAX_PATH and names the
    # installed file. Wine cannot start it: it expands the short names again
    # and hands NtCreateUserProcess a mangled image name (Windows takes the
    # short form as it is).
    trace = run.trace.read_text(encoding="utf-8", errors="replace")
    [asked] = re.findall(r'CreateProcessInternalW app L"([^"]*Korvane\.exe)"', trace)
    program = decode_wine_debugstr(asked)
    assert len(program) <= 259 and "~" in program, program
    assert _unix_path(stage.session, program) == str(install_dir / "Korvane.exe")


# A tool that reads the installer's output (a deployment wrapper, a script
# capturing it) sees its end when the installer ends, while the application
# it started, or a PowerShell it gave up waiting for, runs on.
@pytest.mark.parametrize("child", ["the application", "a PowerShell given up on"])
def test_whoever_reads_the_installers_output_sees_its_end_when_the_installer_ends(stage, wine, build_dir, child):
    stage.stand_in("taskkill.exe")
    installer, variables, unset = None, {}, ()
    if child == "the application":
        unset = ("KORVANE_STANDIN_EXIT",)
    else:
        stage.stand_in("powershell.exe")
        installer, variables = build_dir / "korvane_setup_short_wait.exe", {"KORVANE_RECORD_SLEEP_MS": "20000"}
    run = stage.start("--silent", installer=installer, variables=variables, unset=unset, inherit_std=True,
                      pipe_output=True, trace_boxes=False)
    output = []
    reader = threading.Thread(target=lambda: output.append(run.proc.stdout.read()), daemon=True)
    reader.start()
    assert run.wait() == 0
    reader.join(timeout=10)
    assert not reader.is_alive(), f"the output did not end with the installer while {child} ran"
    # The installer had the pipe: its children wrote into it.
    assert output[0].count(b"recorder: taskkill") == 2
    if child == "the application":
        assert _wait_for_korvane_window(wine), "the application runs"
    else:
        assert len(stage.records_of("powershell")) == 1 and finished(stage, "powershell") == 0, \
            "the PowerShell it gave up on runs"


def finished(stage, program: str) -> int:
    return len(list(stage.records.glob(f"{program}-*.done")))


def _korvane_windows(wine) -> list[str]:
    return wine.windows_named("Korvane (stand-in build)")


def _wait_for_korvane_window(wine) -> bool:
    deadline = time.monotonic() + 60
    while not _korvane_windows(wine) and time.monotonic() < deadline:
        time.sleep(0.2)
    return bool(_korvane_windows(wine))


def test_running_copy_is_stopped_by_wines_taskkill_and_replaced(stage, wine):
    # An earlier installation whose application keeps running.
    stage.run_silent(variables={"KORVANE_STANDIN_EXIT": "0"})
    assert _wait_for_korvane_window(wine), "the first installation's application runs"
    exe = stage.profile.install_dir / "Korvane.exe"
    exe.write_bytes(exe.read_bytes() + b"old build")

    stage.run_silent()
    assert not _korvane_windows(wine), "taskkill stopped the running copy"
    assert not exe.read_bytes().endswith(b"old build"), "the new Korvane.exe is written"
    assert len(stage.app_starts(2)) == 2


def test_freshly_installed_application_is_running_after_a_silent_install(stage, wine):
    stage.run_silent(variables={"KORVANE_STANDIN_EXIT": "0"})
    assert _wait_for_korvane_window(wine), "the installed application opened its window"
    [app] = stage.app_starts()
    assert app["cwd"].rstrip("\\").lower() == winpath(stage.profile.install_dir).lower()
