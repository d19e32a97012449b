"""What the installer must produce, computed independently of its code."""

from __future__ import annotations

import dataclasses
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]

# The installer's version, as the build wrote it into <build>/version.txt;
# set by conftest.py before the test modules are imported.
VERSION = ""

# The characters that end a PowerShell single-quoted string.
_QUOTES = "'\u2018\u2019\u201a\u201b"


def ps_escape(text: str) -> str:
    return "".join(c * 2 if c in _QUOTES else c for c in text)


# Both scripts as the installer must fill them for one folder that needs every
# kind of care; the unit tests compare the same files.
GOLDEN = REPO / "tests" / "golden"
GOLDEN_INSTALL_DIR = (GOLDEN / "install_dir.txt").read_text(encoding="utf-8")


@dataclasses.dataclass(frozen=True)
class ShellPlaces:
    """The shell's Desktop and Programs folders (None: not known) and the
    user's SID, as the installer finds them."""

    desktop_dir: str | None
    programs_dir: str | None
    sid: str


# The golden uninstall script was filled for these.
GOLDEN_SHELL = ShellPlaces(
    desktop_dir=(GOLDEN / "desktop_dir.txt").read_text(encoding="utf-8"),
    programs_dir=(GOLDEN / "programs_dir.txt").read_text(encoding="utf-8"),
    sid=(GOLDEN / "user_sid.txt").read_text(encoding="utf-8"),
)


# The version the golden registration script was filled with (its one use,
# DisplayVersion), replaced by the build's own.
_GOLDEN_VERSION_LINE = b"-Name DisplayVersion -Value '0.2.0'\n"


def golden_registration() -> bytes:
    """The golden registration script, with the build's version."""
    golden = (GOLDEN / "registration.ps1").read_bytes()
    assert golden.count(_GOLDEN_VERSION_LINE) == 1
    return golden.replace(_GOLDEN_VERSION_LINE,
                          f"-Name DisplayVersion -Value '{VERSION}'\n".encode())


def _for_folder(golden: bytes, install_dir: str) -> bytes:
    old = ps_escape(GOLDEN_INSTALL_DIR).encode()
    assert old in golden
    return golden.replace(old, ps_escape(install_dir).encode())


def shortcut_script(install_dir: str) -> str:
    """The registration script for `install_dir`."""
    return _for_folder(golden_registration(), install_dir).decode()


def desktop_shortcut(desktop_dir: str) -> str:
    return desktop_dir + "\\Korvane.lnk"


def start_menu_dir(programs_dir: str) -> str:
    return programs_dir + "\\Korvane"


def uninstall_script_file(install_dir: str, shell: ShellPlaces) -> bytes:
    """The bytes of Uninstall-Korvane.ps1 for `install_dir` and `shell`: the
    golden file with its paths and SID replaced, and the line of an unknown
    folder left out."""
    golden = _for_folder((GOLDEN / "Uninstall-Korvane.ps1").read_bytes(), install_dir)
    g = GOLDEN_SHELL
    replaced = {
        f"$desktopLink = '{ps_escape(desktop_shortcut(g.desktop_dir))}'":
            shell.desktop_dir and f"$desktopLink = '{ps_escape(desktop_shortcut(shell.desktop_dir))}'",
        f"$menu = '{ps_escape(start_menu_dir(g.programs_dir))}'":
            shell.programs_dir and f"$menu = '{ps_escape(start_menu_dir(shell.programs_dir))}'",
    }
    lines = []
    for line in golden.decode("utf-8").split("\n"):
        if line in replaced:
            line = replaced.pop(line)
        else:
            line = line.replace(g.sid, shell.sid)
        if line is not None:
            lines.append(line)
    assert not replaced, "the golden file names the shortcut and the Start Menu folder once each"
    return "\n".join(lines).encode("utf-8")


def utf16_units(text: str) -> list[int]:
    data = text.encode("utf-16-le", errors="surrogatepass")
    return [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]


def record_text(field: dict) -> str:
    """A recorder string field, exactly (from its UTF-16 units)."""
    data = b"".join(u.to_bytes(2, "little") for u in field["utf16"])
    return data.decode("utf-16-le", errors="surrogatepass")


def stop_commands() -> list[str]:
    return ['"taskkill" /F /IM Korvane.exe', '"taskkill" /F /IM KorvaneCore.exe']


REGISTRATION_ARGS = ["-NoProfile", "-WindowStyle", "Hidden", "-ExecutionPolicy", "Bypass", "-Command"]
