"""The programs the installer starts: stop commands, registration run, the app."""

from __future__ import annotations

import time

from expected import REGISTRATION_ARGS, VERSION, record_text, shortcut_script, stop_commands
from harness import winpath


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
    for r in stage.records_of("taskkill") + stage.records_of("powershell"):
        assert r["std_handles"]["stdout"]["type"] == "disk"
        assert r["std_handles"]["stderr"]["type"] == "disk"


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


def test_installed_application_is_started_in_the_install_folder(stage):
    stage.run_silent(variables={"KORVANE_STANDIN_PROBE": "from the installer"})
    [app] = stage.app_starts()
    assert app["cwd"].rstrip("\\").lower() == winpath(stage.profile.install_dir).lower()
    assert app["cmdline"] == '"' + winpath(stage.profile.install_dir / "Korvane.exe") + '"'
    assert app["probe"] == "from the installer"


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
