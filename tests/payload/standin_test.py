#!/usr/bin/python3
"""Tests of the stand-in Korvane.exe under Wine: its record (standin/README.md),
its load-time import of WebView2Loader.dll, and its window.

    standin_test.py <Korvane.exe> <WebView2Loader.dll> [unittest arguments]

Uses the caller's WINEPREFIX. The window test needs Xvfb and is skipped
without it.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

APP = LOADER = None  # set from the command line


def winpath(path):
    """The Windows form of a local path, through Wine's drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env(**variables):
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    for name in ("KORVANE_STANDIN_RECORD", "KORVANE_STANDIN_EXIT", "KORVANE_STANDIN_PROBE"):
        env.pop(name, None)
    env.update(variables)
    return env


def parse_records(text):
    """The records of a record file: dicts of cwd, cmdline and probe, decoded."""
    records = []
    for block in text.split("\n\n"):
        if not block:
            continue
        fields = {}
        for line in block.split("\n"):
            key, sep, value = line.partition("=")
            if not sep:
                raise AssertionError("not a field line: %r" % line)
            value = value.replace("%0A", "\n").replace("%0D", "\r").replace("%25", "%")
            fields[key] = value
        records.append(fields)
    return records


class StandinFixture(unittest.TestCase):
    """A folder with the stand-in and its loader, and a record file beside it."""

    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.dir = self._dir.name
        self.install = os.path.join(self.dir, "install")
        os.mkdir(self.install)
        shutil.copy(APP, os.path.join(self.install, "Korvane.exe"))
        shutil.copy(LOADER, os.path.join(self.install, "WebView2Loader.dll"))
        self.record = os.path.join(self.dir, "record.txt")

    def tearDown(self):
        self._dir.cleanup()

    def start(self, *args, cwd=None, **variables):
        env = wine_env(KORVANE_STANDIN_RECORD=winpath(self.record), **variables)
        return subprocess.run(["wine", os.path.join(self.install, "Korvane.exe"), *args],
                              env=env, cwd=cwd or self.install, capture_output=True, timeout=120)

    def records(self):
        with open(self.record, "rb") as f:
            return parse_records(f.read().decode("utf-8"))


class Standin(StandinFixture):
    def test_records_directory_command_line_and_probe_then_exits(self):
        work = os.path.join(self.dir, "work dir")
        os.mkdir(work)
        r = self.start("--flag", "two words", cwd=work, KORVANE_STANDIN_EXIT="1",
                       KORVANE_STANDIN_PROBE="50% é♪")
        self.assertEqual(0, r.returncode, r.stderr)
        [record] = self.records()
        self.assertEqual(["cwd", "cmdline", "probe"], list(record))
        self.assertEqual(winpath(work).lower(), record["cwd"].lower())
        self.assertTrue(record["cmdline"].endswith('Korvane.exe" --flag "two words"'), record)
        self.assertEqual("50% é♪", record["probe"])

    def test_probe_unset_empty_and_multi_line(self):
        cases = [
            ("unset", None, "<unset>"),
            ("empty", "", ""),
            ("line breaks and percent", "a\r\nb%0A", "a\r\nb%0A"),
        ]
        for name, value, want in cases:
            with self.subTest(probe=name):
                if os.path.exists(self.record):
                    os.remove(self.record)
                variables = {"KORVANE_STANDIN_EXIT": "1"}
                if value is not None:
                    variables["KORVANE_STANDIN_PROBE"] = value
                self.assertEqual(0, self.start(**variables).returncode)
                [record] = self.records()
                self.assertEqual(want, record["probe"])

    def test_each_start_appends_one_record(self):
        for n in range(3):
            self.assertEqual(0, self.start(str(n), KORVANE_STANDIN_EXIT="1").returncode)
        records = self.records()
        self.assertEqual(3, len(records))
        self.assertEqual(["0", "1", "2"], [r["cmdline"].rsplit(" ", 1)[1] for r in records])

    def test_does_not_start_without_the_loader_beside_it(self):
        os.remove(os.path.join(self.install, "WebView2Loader.dll"))
        r = self.start(KORVANE_STANDIN_EXIT="1")
        self.assertNotEqual(0, r.returncode)
        self.assertFalse(os.path.exists(self.record), "the program ran without its loader")

    def test_unwritable_record_file_gives_status_2(self):
        self.record = os.path.join(self.dir, "no such folder", "record.txt")
        self.assertEqual(2, self.start(KORVANE_STANDIN_EXIT="1").returncode)


@unittest.skipUnless(shutil.which("Xvfb"), "needs Xvfb")
class StandinWindow(StandinFixture):
    def setUp(self):
        super().setUp()
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.display = ":" + f.readline().strip()

    def tearDown(self):
        self.xvfb.terminate()
        self.xvfb.wait(timeout=30)
        super().tearDown()

    def test_keeps_running_until_taskkill_closes_its_window(self):
        env = wine_env(KORVANE_STANDIN_RECORD=winpath(self.record), DISPLAY=self.display)
        app = subprocess.Popen(["wine", os.path.join(self.install, "Korvane.exe")], env=env,
                               cwd=self.install, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 120
            while not os.path.exists(self.record) and time.monotonic() < deadline:
                time.sleep(0.2)
            self.assertTrue(os.path.exists(self.record), "no record")
            time.sleep(2)
            self.assertIsNone(app.poll(), "the stand-in ended without being closed")
            subprocess.run(["wine", "taskkill", "/IM", "Korvane.exe"], env=env,
                           capture_output=True, timeout=120)
            self.assertEqual(0, app.wait(timeout=60))
        finally:
            if app.poll() is None:
                app.kill()
                app.wait()


if __name__ == "__main__":
    APP, LOADER = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0], "-v", *sys.argv[3:]])
