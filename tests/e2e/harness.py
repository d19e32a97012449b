"""Running korvane_setup.exe under Wine, the way a user meets it.

One Wine prefix and one virtual display (Xvfb) serve a whole test session;
each test gets its own folder with a copy of the installer and its own
profile folders (LOCALAPPDATA, APPDATA, USERPROFILE, TEMP), which a small
launcher sets from inside Windows because Wine replaces those variables.
Message boxes are read back through Wine's msgbox trace and the window name,
driven with xdotool, and photographed with ImageMagick. The shell's Desktop
and Start Menu Programs folders are pointed into the session's own folder, so
that the shortcuts the installer makes never land in the real home folder.
"""

from __future__ import annotations

import dataclasses
import glob
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

from expected import ShellPlaces

BOX_TIMEOUT = 60  # seconds for a box to appear; generous for a cold Wine
RUN_TIMEOUT = 180  # seconds for a whole installer run


def winpath(p: Path | str) -> str:
    """The Windows form of a Linux path, through Wine's Z: drive."""
    return "Z:" + str(Path(p).resolve()).replace("/", "\\")


def decode_wine_debugstr(s: str) -> str:
    """Undoes Wine's debugstr_w escaping (\\n, \\t, \\", \\\\, \\XXXX)."""
    out, i = [], 0
    units: list[int] = []
    while i < len(s):
        c = s[i]
        if c != "\\":
            units.append(ord(c))
            i += 1
            continue
        n = s[i + 1]
        simple = {"n": 10, "r": 13, "t": 9, '"': 34, "\\": 92, "0": 0}
        if re.fullmatch(r"[0-9a-fA-F]{4}", s[i + 1:i + 5] or ""):
            units.append(int(s[i + 1:i + 5], 16))
            i += 5
        elif n == "x" and re.fullmatch(r"[0-9a-fA-F]{2}", s[i + 2:i + 4]):
            units.append(int(s[i + 2:i + 4], 16))
            i += 4
        elif n in simple:
            units.append(simple[n])
            i += 2
        else:
            units.append(ord(c))
            i += 1
    data = b"".join(u.to_bytes(2, "little") for u in units)
    out.append(data.decode("utf-16-le", errors="surrogatepass"))
    return "".join(out)


@dataclasses.dataclass
class Box:
    caption: str
    text: str  # as traced; may be cut short by Wine (see `truncated`)
    truncated: bool
    window: str

    def text_matches(self, want: str) -> bool:
        if self.truncated:
            return want.startswith(self.text)
        return want == self.text


class WineSession:
    """A Wine prefix and an X display of our own, cleaned up at the end."""

    def __init__(self, build_dir: Path, artifacts: Path):
        self.build_dir = build_dir
        self.artifacts = artifacts
        self.root = Path(tempfile.mkdtemp(prefix="korvane-e2e-"))
        self.prefix = self.root / "prefix"
        self.xvfb: subprocess.Popen | None = None
        self.display = ""
        self.launcher = self._find("launcher.exe")
        self.installer = build_dir / "korvane_setup.exe"
        self.damaged_installer = build_dir / "korvane_setup_damaged.exe"
        self.recorder = self._find("recorder.exe")
        self.desktop = self.root / "shell" / "Desktop"
        self.programs = self.root / "shell" / "Programs"
        self.user_sid = ""

    @property
    def system32(self) -> Path:
        return self.prefix / "drive_c" / "windows" / "system32"

    @property
    def drive_c(self) -> Path:
        return self.prefix / "drive_c"

    def _find(self, name: str) -> Path:
        hits = sorted(glob.glob(str(self.build_dir / "**" / name), recursive=True))
        if not hits:
            raise FileNotFoundError(f"{name} is not built below {self.build_dir}")
        return Path(hits[0])

    @property
    def env(self) -> dict[str, str]:
        env = dict(os.environ)
        env.update(
            WINEPREFIX=str(self.prefix),
            WINEDEBUG="-all",
            # No menu entries or .desktop files in the real home for the shortcuts made.
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
            DISPLAY=self.display,
            LANG="C.UTF-8",
            LC_ALL="C.UTF-8",
        )
        return env

    def start(self) -> None:
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        )
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.display = ":" + f.readline().strip()
        # Creating the prefix takes a while; do it once, before any test.
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        for folder in (self.desktop, self.programs):
            folder.mkdir(parents=True)
        self.set_shell_folder("Desktop", winpath(self.desktop))
        self.set_shell_folder("Programs", winpath(self.programs))
        self.user_sid = self._user_sid()

    _USER_SHELL_FOLDERS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"

    def set_shell_folder(self, name: str, windows_path: str) -> None:
        """Points the shell's folder `name` (Desktop, Programs) at `windows_path`."""
        self.reg("add", self._USER_SHELL_FOLDERS, "/v", name, "/t", "REG_EXPAND_SZ", "/d", windows_path, "/f")

    def reg(self, *args: str) -> subprocess.CompletedProcess:
        return subprocess.run(["wine", "reg", *args], env=self.env, capture_output=True,
                              timeout=120, check=False)

    def _user_sid(self) -> str:
        # Wine's one user below HKEY_USERS, beside .Default.
        out = self.reg("query", "HKU").stdout.decode(errors="replace")
        sids = re.findall(r"^HKEY_USERS\\(S-1-5-21-[0-9-]+)\s*$", out, re.M)
        assert len(sids) == 1, out
        return sids[0]

    @property
    def shell(self) -> ShellPlaces:
        """The folders and SID the installer finds in this session."""
        return ShellPlaces(winpath(self.desktop), winpath(self.programs), self.user_sid)

    def remove_shortcuts(self) -> None:
        """Removes what an installation made in the shell's folders."""
        (self.desktop / "Korvane.lnk").unlink(missing_ok=True)
        shutil.rmtree(self.programs / "Korvane", ignore_errors=True)

    def stop(self) -> None:
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.send_signal(signal.SIGTERM)
            self.xvfb.wait(timeout=10)
        shutil.rmtree(self.root, ignore_errors=True)

    # Wine's own programs, which a prefix runs for as long as its server:
    # they stay between tests, which saves a server start (about 2 s) each.
    _WINE_SERVICES = {"wineserver", "wineserver64", "services.exe", "winedevice.exe", "plugplay.exe",
                      "svchost.exe", "rpcss.exe", "explorer.exe"}

    def processes(self, exe_name: str = "") -> dict[int, str]:
        """This prefix's processes whose program is `exe_name` (a file name,
        or a whole Windows path; any case; empty: every one): {Linux id:
        program as started}."""
        found = {}
        for proc in Path("/proc").iterdir():
            if not proc.name.isdigit():
                continue
            try:
                if f"WINEPREFIX={self.prefix}".encode() not in (proc / "environ").read_bytes().split(b"\0"):
                    continue
                argv0 = (proc / "cmdline").read_bytes().split(b"\0")[0].decode(errors="replace").strip()
            except OSError:
                continue
            program = argv0 if "\\" in exe_name else re.split(r"[\\/]", argv0)[-1]
            if not exe_name or program.lower() == exe_name.lower():
                found[int(proc.name)] = argv0
        return found

    def running(self, exe_name: str) -> list[int]:
        """The Linux ids of the processes of `processes`."""
        return list(self.processes(exe_name))

    def kill_all(self) -> None:
        """Ends every program of the prefix but Wine's own services: nothing
        a test started (boxes, installers, stand-ins, children, the
        application) outlives it. The server notices each end at once."""
        deadline = time.monotonic() + 60
        while True:
            programs = [pid for pid, argv0 in self.processes().items()
                        if re.split(r"[\\/]", argv0)[-1].lower() not in self._WINE_SERVICES]
            if not programs:
                return
            assert time.monotonic() < deadline, f"programs that do not end: {programs}"
            for pid in programs:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.1)

    def windows_named(self, name: str) -> list[str]:
        r = subprocess.run(["xdotool", "search", "--name", f"^{re.escape(name)}$"],
                           env=self.env, capture_output=True, text=True)
        return r.stdout.split()

    def screenshot(self, name: str) -> Path:
        self.artifacts.mkdir(parents=True, exist_ok=True)
        out = self.artifacts / f"{name}.png"
        subprocess.run(["import", "-display", self.display, "-window", "root", str(out)],
                       env=self.env, check=True, timeout=30)
        return out


class InstallerRun:
    """One run of the installer (through the launcher) in a test folder."""

    def __init__(self, session: WineSession, proc: subprocess.Popen, trace: Path,
                 status_file: Path | None = None):
        self.session = session
        self.proc = proc
        self.trace = trace
        self.status_file = status_file
        self._boxes_seen = 0

    def boxes(self) -> list[Box]:
        found = []
        text = self.trace.read_text(encoding="utf-8", errors="replace") if self.trace.exists() else ""
        for m in re.finditer(r'trace:msgbox:MSGBOX_OnInit L"(.*?)"(\.\.\.)?$', text, re.M):
            # Wine cuts the traced text where its 300-byte buffer ends, and
            # marks the cut with "..." except when the buffer ends exactly
            # at the text's last character.
            found.append(Box(caption="", text=decode_wine_debugstr(m.group(1)),
                             truncated=bool(m.group(2)) or len(m.group(1)) >= 280, window=""))
        return found

    def next_box(self, timeout: float = BOX_TIMEOUT) -> Box:
        """Waits for the next message box and returns it, still open."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            boxes = self.boxes()
            if len(boxes) > self._boxes_seen:
                for caption in ("Korvane Setup", "Korvane Setup \u2014 Error"):
                    windows = self.session.windows_named(caption)
                    if windows:
                        box = boxes[self._boxes_seen]
                        box.caption, box.window = caption, windows[-1]
                        self._boxes_seen += 1
                        time.sleep(0.3)  # let it paint for the screenshot
                        return box
            if self.proc.poll() is not None:
                raise AssertionError(f"installer ended (status {self.proc.returncode}) without a box")
            time.sleep(0.1)
        raise AssertionError("no message box appeared")

    def _until_gone(self, box: Box, send, tries: int = 4) -> None:
        # A key or close request that reaches the box before its message loop
        # runs is lost; it is sent again until the box has gone.
        for _ in range(tries):
            send()
            deadline = time.monotonic() + 3
            while time.monotonic() < deadline:
                if box.window not in self.session.windows_named(box.caption):
                    return
                time.sleep(0.1)
        raise AssertionError(f"box {box.caption!r} did not close")

    def press(self, box: Box, key: str) -> None:
        """Presses `key` (e.g. Return, Escape) in the box, which then closes."""
        self._until_gone(box, lambda: self.send_keys(box, key))

    def send_keys(self, box: Box, *keys: str) -> None:
        subprocess.run(["xdotool", "windowfocus", "--sync", box.window, "key", *keys],
                       env=self.session.env, check=True, timeout=30)

    def close(self, box: Box) -> None:
        """Closes the box as its title bar's close button does."""
        self._until_gone(box, lambda: self._send_delete_window(box))

    def _send_delete_window(self, box: Box) -> None:
        from Xlib import X, display
        from Xlib.protocol import event

        d = display.Display(self.session.display)
        w = d.create_resource_object("window", int(box.window))
        ev = event.ClientMessage(window=w, client_type=d.intern_atom("WM_PROTOCOLS"),
                                 data=(32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        w.send_event(ev, event_mask=0)
        d.flush()
        d.close()

    def wait(self, timeout: float = RUN_TIMEOUT) -> int:
        """The installer's whole 32-bit exit status (Wine hands Linux only
        its low 8 bits; the launcher writes all of it)."""
        code = self.proc.wait(timeout=timeout)
        if self.status_file is not None and self.status_file.exists():
            return int(self.status_file.read_text(encoding="ascii"))
        return code


@dataclasses.dataclass
class Profile:
    """A user's folders for one test, with their Windows forms."""

    root: Path

    @property
    def local(self) -> Path:
        return self.root / "AppData" / "Local"

    @property
    def roaming(self) -> Path:
        return self.root / "AppData" / "Roaming"

    @property
    def temp(self) -> Path:
        return self.local / "Temp"

    @property
    def install_dir(self) -> Path:
        return self.local / "Programs" / "Korvane"

    def make(self) -> None:
        for d in (self.local, self.roaming, self.temp, self.root / "Desktop"):
            d.mkdir(parents=True, exist_ok=True)

    def variables(self) -> dict[str, str]:
        return {
            "LOCALAPPDATA": winpath(self.local),
            "APPDATA": winpath(self.roaming),
            "USERPROFILE": winpath(self.root),
            "TEMP": winpath(self.temp),
            "TMP": winpath(self.temp),
        }


class Stage:
    """A test's folder: a copy of an installer, a profile, what lies beside it."""

    def __init__(self, session: WineSession, root: Path, installer: Path | None = None):
        self.session = session
        self.root = root
        self.dir = root / "download"
        self.dir.mkdir(parents=True, exist_ok=True)
        self.installer = self.dir / "korvane_setup.exe"
        shutil.copy2(installer or session.installer, self.installer)
        self.profile = Profile(root / "user")
        self.profile.make()
        self.records = root / "records"
        self.records.mkdir(exist_ok=True)
        self.app_record = root / "app-record.txt"
        self._restore: list[tuple[Path, Path]] = []
        self._overrides: set[str] = set()
        self._path_dirs: list[str] = []

    def place_beside(self, name: str, source: Path | None = None) -> Path:
        """Puts a program (the recorder by default) beside the installer as
        `name`, as a web page can drop one into the Downloads folder."""
        target = self.dir / name
        shutil.copy2(source or self.session.recorder, target)
        return target

    def stand_in(self, name: str) -> str:
        """Puts the recorder where Windows' own `name` is found, and gives its
        Windows path: taskkill.exe
        in the prefix's system directory (Wine then runs it instead of its
        built-in one only with a native override), powershell.exe in a folder
        that leads PATH. Undone by `close`."""
        if name == "taskkill.exe":
            target = self.session.system32 / name
            saved = self.root / "system-taskkill.exe"
            if not saved.exists():
                shutil.copy2(target, saved)
                self._restore.append((saved, target))
            self._overrides.add("taskkill.exe=n")
            shown = "C:\\windows\\system32\\" + name
        elif name == "powershell.exe":
            folder = self.root / "powershell"
            folder.mkdir(exist_ok=True)
            target = folder / name
            self._path_dirs.append(winpath(folder))
            shown = winpath(target)
        else:
            raise ValueError(f"no system place for {name}")
        shutil.copy2(self.session.recorder, target)
        return shown

    def close(self) -> None:
        for saved, target in self._restore:
            shutil.copy2(saved, target)
        self._restore.clear()

    def start(self, *args: str, variables: dict[str, str] | None = None,
              unset: tuple[str, ...] = (), stdout: Path | None = None,
              trace_boxes: bool = True, cwd: Path | None = None,
              installer: Path | None = None, inherit_std: bool = False,
              raw_cmdline: str | None = None, command: str | None = None,
              new_console: bool = False, pipe_output: bool = False,
              wine_debug: str | None = None) -> InstallerRun:
        """Starts the installer as from the desktop (no standard handles),
        or with stdout and stderr going to `stdout`; or, given `command`,
        that whole command line as the control panel starts an
        UninstallString. With `pipe_output` the launcher's own output is a
        pipe (proc.stdout) that the child inherits (`inherit_std`).
        `wine_debug` replaces the Wine debug channels (trace+msgbox for
        `trace_boxes`); their output is `run.trace`."""
        env_vars = self.profile.variables()
        # The installed stand-in records how it was started, then ends at once.
        env_vars.update(KORVANE_STANDIN_RECORD=winpath(self.app_record), KORVANE_STANDIN_EXIT="1",
                        KORVANE_RECORD_DIR=winpath(self.records))
        if self._path_dirs:
            env_vars["PATH"] = ";".join(self._path_dirs + ["C:\\windows\\system32", "C:\\windows"])
        env_vars.update(variables or {})
        cmd = ["wine", str(self.session.launcher)]
        for k, v in env_vars.items():
            if k not in unset:
                cmd += ["--set", f"{k}={v}"]
        for k in unset:
            cmd += ["--unset", k]
        if stdout is not None:
            cmd += ["--stdout", winpath(stdout)]
        elif not inherit_std:
            cmd += ["--no-std-handles"]
        if cwd is not None:
            cmd += ["--cwd", winpath(cwd)]
        if raw_cmdline is not None:
            cmd += ["--raw-cmdline", raw_cmdline]
        run_id = time.monotonic_ns()
        status_file = self.root / f"status-{run_id}.txt"
        cmd += ["--status-file", winpath(status_file)]
        if new_console:
            cmd += ["--new-console"]
        if command is not None:
            cmd += ["--command", command]
        else:
            cmd += ["--", winpath(installer or self.installer), *args]
        env = self.session.env
        if self._overrides:
            env["WINEDLLOVERRIDES"] = ";".join([env["WINEDLLOVERRIDES"], *sorted(self._overrides)])
        if trace_boxes or wine_debug:
            env["WINEDEBUG"] = wine_debug or "trace+msgbox"
        trace = self.root / f"trace-{run_id}.txt"
        with open(trace, "wb") as err:
            proc = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE if pipe_output else subprocess.DEVNULL,
                                    stderr=err, cwd=self.root)
        return InstallerRun(self.session, proc, trace, status_file)

    def run_silent(self, *extra: str, **kw) -> InstallerRun:
        run = self.start("--silent", *extra, **kw)
        status = run.wait()
        assert status == 0, f"installer exit status {status}"
        return run

    def other_program(self, name: str = "recorder.exe", hold: Path | None = None, lock: str | None = None,
                      sleep_ms: int = 120000) -> subprocess.Popen:
        """Another program that is no part of the installation: the recorder,
        as `name` in a folder of its own, running for `sleep_ms`, and meanwhile
        holding `hold` open (sharing read and write, not delete: a scanner, a
        sync client, a backup agent) or owning the named mutex `lock`. Given
        once it has started."""
        wine = self.session
        folder = self.root / f"other-{time.monotonic_ns()}"
        (folder / "records").mkdir(parents=True)
        shutil.copy2(wine.recorder, folder / name)
        cmd = ["wine", str(wine.launcher), "--no-std-handles", "--set", f"KORVANE_RECORD_DIR={winpath(folder / 'records')}",
               "--set", f"KORVANE_RECORD_SLEEP_MS={sleep_ms}"]
        cmd += ["--hold", winpath(hold)] if hold else []
        cmd += ["--lock", lock] if lock else []
        proc = subprocess.Popen(cmd + ["--", winpath(folder / name)], env=wine.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while not any((folder / "records").glob("*.json")) and time.monotonic() < deadline:
            assert proc.poll() is None, f"{name} could not hold {hold or lock}"
            time.sleep(0.1)
        assert any((folder / "records").glob("*.json")), f"{name} did not start"
        return proc

    def app_starts(self, count: int = 1, timeout: float = 60) -> list[dict[str, str]]:
        """The stand-in application's records once `count` starts have been
        recorded: the installer does not wait for the application."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            records = app_records(self.app_record)
            if len(records) >= count:
                return records
            time.sleep(0.1)
        return app_records(self.app_record)

    def app_records_now(self) -> list[dict[str, str]]:
        return app_records(self.app_record)

    def records_of(self, program: str) -> list[dict]:
        import json

        out = []
        for p in sorted(self.records.glob(f"{program}-*.json"), key=lambda p: p.stat().st_mtime_ns):
            out.append(json.loads(p.read_text(encoding="utf-8")))
        return out


def read_link(path: Path) -> dict[str, str]:
    """What lnkinfo (liblnk, not our code) reads from a .lnk file: its
    "Link information" fields, e.g. Local path, Description, Working directory."""
    out = subprocess.run(["lnkinfo", str(path)], capture_output=True, check=True, timeout=60).stdout
    fields = {}
    for line in out.decode("utf-8").split("\n"):
        m = re.fullmatch(r"\t([A-Za-z ]+?)\t*: (.*)", line)
        if m and m.group(1) not in fields:
            fields[m.group(1)] = m.group(2)
    return fields


def link_string_data(path: Path) -> dict[str, str]:
    """The Unicode strings of a .lnk file's StringData, read by Microsoft's
    file format ([MS-SHLLINK] 2.1 and 2.4): the description (NAME_STRING) and
    the working directory (WORKING_DIR) among them. lnkinfo 20181227 turns a
    surrogate pair into another character; this reads the units themselves."""
    data = path.read_bytes()
    flags = int.from_bytes(data[20:24], "little")
    assert flags & 0x80, "not a Unicode link"  # IsUnicode
    at = 0x4C  # the header's size
    if flags & 0x01:  # HasLinkTargetIDList: its size, then the list
        at += 2 + int.from_bytes(data[at:at + 2], "little")
    if flags & 0x02:  # HasLinkInfo: a size that counts itself
        at += int.from_bytes(data[at:at + 4], "little")
    strings = {}
    for bit, name in ((0x04, "Description"), (0x08, "Relative path"), (0x10, "Working directory"),
                      (0x20, "Arguments"), (0x40, "Icon location")):
        if flags & bit:
            count = int.from_bytes(data[at:at + 2], "little")
            text = data[at + 2:at + 2 + 2 * count].decode("utf-16-le", errors="surrogatepass")
            # Wine's link object counts a terminating NUL, which the format has not.
            strings[name] = text.removesuffix("\0")
            at += 2 + 2 * count
    return strings


def app_records(path: Path) -> list[dict[str, str]]:
    """The stand-in application's records: one dict (cwd, cmdline, probe) per start."""
    if not path.exists():
        return []

    def unfield(v: str) -> str:
        return v.replace("%0A", "\n").replace("%0D", "\r").replace("%25", "%")

    records = []
    for block in path.read_text(encoding="utf-8").split("\n\n"):
        if not block.strip():
            continue
        rec = {}
        for line in block.split("\n"):
            key, _, value = line.partition("=")
            rec[key] = unfield(value)
        records.append(rec)
    return records


class JourneySession(WineSession):
    """A Wine prefix of its own in which a Windows build of PowerShell is the
    `powershell` every program finds: first on the prefix's system PATH,
    ahead of Wine's stub, which prints nothing and exits 0."""

    _SYSTEM_ENVIRONMENT = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment"

    def __init__(self, build_dir: Path, artifacts: Path, powershell: Path):
        super().__init__(build_dir, artifacts)
        self.powershell = powershell
        # The prefix is made without mscoree (no Mono prompt); .NET needs it
        # loadable to start.
        self._dll_overrides = "mscoree,mshtml=;winemenubuilder.exe=d"

    @property
    def env(self) -> dict[str, str]:
        env = super().env
        env["WINEDLLOVERRIDES"] = self._dll_overrides
        return env

    def start(self) -> None:
        super().start()
        self._dll_overrides = "mshtml=;winemenubuilder.exe=d"
        out = self.reg("query", self._SYSTEM_ENVIRONMENT, "/v", "PATH").stdout.decode(errors="replace")
        m = re.search(r"^\s*PATH\s+REG_EXPAND_SZ\s+(.*?)\s*$", out, re.M)
        assert m, out
        path = winpath(self.powershell.parent) + ";" + m.group(1)
        assert self.reg("add", self._SYSTEM_ENVIRONMENT, "/v", "PATH", "/t", "REG_EXPAND_SZ",
                        "/d", path, "/f").returncode == 0
        self.username = self._wine_username()

    def _wine_username(self) -> str:
        r = subprocess.run(["wine", "cmd", "/c", "echo %USERNAME%"], env=self.env, capture_output=True,
                           timeout=120, check=True)
        return r.stdout.decode("ascii").strip()

    def read_key(self, key: str) -> dict[str, tuple[str, object]] | None:
        """The values of a registry key as {name: (type, data)}, read from
        `reg export` (UTF-16, so every character survives); None when the key
        does not exist. Types: REG_SZ, REG_EXPAND_SZ, REG_DWORD, or the
        export's own name for others (hex(7), hex, ...)."""
        out = self.root / "export.reg"
        out.unlink(missing_ok=True)
        if self.reg("export", key, winpath(out), "/y").returncode != 0:
            return None
        return parse_reg_export(out.read_bytes().decode("utf-16"), key)


def parse_reg_export(text: str, key: str) -> dict[str, tuple[str, object]]:
    """The values of `key` (not of its subkeys) in a REGEDIT5 export."""
    values: dict[str, tuple[str, object]] = {}
    lines = text.replace("\r\n", "\n").split("\n")
    logical, acc = [], ""
    for line in lines:  # a value's hex data runs on over lines ending in "\"
        acc += line.strip() if acc else line
        if acc.endswith("\\") and "=hex" in acc:
            acc = acc[:-1]
            continue
        logical.append(acc)
        acc = ""
    wanted = key.lower().replace("hkcu\\", "hkey_current_user\\").replace("hklm\\", "hkey_local_machine\\")
    inside = False
    for line in logical:
        if line.startswith("["):
            inside = line[1:-1].lower() == wanted
            continue
        if not inside or not line:
            continue
        m = re.fullmatch(r'(@|"((?:[^"\\]|\\.)*)")=(.*)', line)
        assert m, line
        name = "" if m.group(1) == "@" else re.sub(r"\\(.)", r"\1", m.group(2))
        data = m.group(3)
        if data.startswith('"'):
            values[name] = ("REG_SZ", re.sub(r"\\(.)", r"\1", data[1:-1]))
        elif data.startswith("dword:"):
            values[name] = ("REG_DWORD", int(data[6:], 16))
        else:
            kind, _, raw = data.partition(":")
            octets = bytes(int(b, 16) for b in raw.split(",") if b)
            if kind == "hex(2)":
                values[name] = ("REG_EXPAND_SZ", octets.decode("utf-16-le").rstrip("\0"))
            else:
                values[name] = (kind, octets)
    return values
