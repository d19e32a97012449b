"""A signed installer (made by the release check with a throwaway
certificate) installs like the unsigned one."""

from __future__ import annotations

import pefile
import pytest

from harness import Stage

pytestmark = pytest.mark.signed


def test_signed_installer_installs_the_payloads(wine, tmp_path, build_dir, signed_installer):
    pe = pefile.PE(str(signed_installer), fast_load=True)
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    assert security.Size > 0, "the installer carries no signature"
    stage = Stage(wine, tmp_path, installer=signed_installer)
    try:
        stage.run_silent()
        installed = stage.profile.install_dir
        for name in ("Korvane.exe", "WebView2Loader.dll"):
            assert (installed / name).read_bytes() == (build_dir / "standin" / name).read_bytes(), name
        assert (installed / "Uninstall-Korvane.ps1").is_file()
    finally:
        wine.kill_all()
