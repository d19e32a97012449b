"""The embedded payloads as installed files."""

from __future__ import annotations

import subprocess

from harness import Stage, winpath


def test_silent_install_writes_the_payloads_byte_for_byte(stage, build_dir):
    stage.run_silent()
    for name in ("Korvane.exe", "WebView2Loader.dll"):
        installed = (stage.profile.install_dir / name).read_bytes()
        assert installed == (build_dir / "standin" / name).read_bytes(), name


def test_installed_application_starts_with_the_loader_beside_it(stage, wine):
    stage.run_silent()
    assert len(stage.app_starts()) == 1
    # Without the loader the application cannot even be loaded: the start
    # above proves that it found WebView2Loader.dll beside itself.
    (stage.profile.install_dir / "WebView2Loader.dll").unlink()
    env = wine.env
    subprocess.run(["wine", str(wine.launcher), "--set", f"KORVANE_STANDIN_RECORD={winpath(stage.app_record)}",
                    "--set", "KORVANE_STANDIN_EXIT=1", "--no-std-handles", "--",
                    winpath(stage.profile.install_dir / "Korvane.exe")],
                   env=env, capture_output=True, timeout=120)
    assert len(stage.app_records_now()) == 1


def test_damaged_payload_shows_the_decoder_error_and_writes_nothing(wine, tmp_path):
    stage = Stage(wine, tmp_path, installer=wine.damaged_installer)
    try:
        run = stage.start("--silent")
        box = run.next_box()
        assert box.caption == "Korvane Setup \u2014 Error"
        assert box.text == "Installation failed:\ncorrupt gzip stream does not have a matching checksum"
        wine.screenshot("failure-box-damaged-payload")
        run.press(box, "Return")
        assert run.wait() == 1603
        assert stage.profile.install_dir.is_dir()
        assert list(stage.profile.install_dir.iterdir()) == []
    finally:
        wine.kill_all()


def test_application_sized_payload_installs_byte_for_byte(wine, tmp_path, build_dir):
    # 39,492,765 bytes of real machine code (Wine's own DLLs), about 11.6 MB as
    # the build packs it by default (XFL 2: libdeflate's densest level).
    source = build_dir / "tests" / "payload" / "large" / "Korvane.exe"
    packed = source.with_name("Korvane.exe.gz").read_bytes()
    assert source.stat().st_size >= 30_000_000
    assert packed[8] == 2
    stage = Stage(wine, tmp_path, installer=build_dir / "korvane_setup_large.exe")
    try:
        installed = stage.profile.install_dir / "Korvane.exe"
        installed.parent.mkdir(parents=True)
        installed.write_bytes(b"\0" * (source.stat().st_size + 4096))  # an older, longer file
        stage.run_silent()
        assert installed.stat().st_size == source.stat().st_size
        assert installed.read_bytes() == source.read_bytes()
    finally:
        wine.kill_all()
