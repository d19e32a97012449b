"""What the installer must produce, computed independently of its code."""

from __future__ import annotations

import re
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]

# The installer's version, as the build wrote it into <build>/version.txt;
# set by conftest.py before the test modules are imported.
VERSION = ""

# The characters that end a PowerShell single-quoted string.
_QUOTES = "'\u2018\u2019\u201a\u201b"


def ps_escape(text: str) -> str:
    return "".join(c * 2 if c in _QUOTES else c for c in text)


def _template(name: str) -> str:
    source = (REPO / "src" / "shell" / "scripts.h").read_text(encoding="utf-8")
    m = re.search(name + r' = R"ps\((.*?)\)ps";', source, re.S)
    assert m, f"{name} not found"
    return m.group(1)


def _fill(template: str, *args: str) -> str:
    return re.sub(r"\{(\d)\}", lambda m: args[int(m.group(1))], template)


def shortcut_script(install_dir: str) -> str:
    exe = install_dir + "\\Korvane.exe"
    text = _fill(_template("SHORTCUT_SCRIPT_TEMPLATE"), ps_escape(exe), ps_escape(install_dir), VERSION)
    assert len(text.encode()) == 1208 + 3 * len(ps_escape(exe).encode()) + 4 * len(ps_escape(install_dir).encode())
    return text


def uninstall_script(install_dir: str) -> str:
    text = _fill(_template("UNINSTALL_SCRIPT_TEMPLATE"), ps_escape(install_dir))
    assert len(text.encode()) == 532 + len(ps_escape(install_dir).encode())
    return text


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
