#!/usr/bin/env python3
"""Starts the two programs an uninstall must stop, Korvane and KorvaneCore
(copies of sleep in FOLDER), and prints their process ids, one a line.

Their parent stays behind and collects each one only REAP_DELAY seconds after
it has been killed: until then the process has not ended (it is still listed,
as on Windows a killed process lingers until its handles and image are gone),
so a script that removes files right after Stop-Process meets it still there.

    python3 sleepers.py FOLDER
"""

import os
import shutil
import subprocess
import sys
import threading
import time

REAP_DELAY = 0.8  # seconds; more than a short fixed pause after the kill
LIFETIME = "60"  # seconds a program sleeps when nobody stops it


def main(folder: str) -> None:
    programs = []
    for name in ("Korvane", "KorvaneCore"):
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            shutil.copy2(shutil.which("sleep"), path)
        programs.append(path)
    read_end, write_end = os.pipe()
    if os.fork():
        os.close(write_end)
        with os.fdopen(read_end) as pids:
            sys.stdout.write(pids.read())
        return
    # The parent of the two, detached from the caller's output.
    os.close(read_end)
    os.setsid()
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    children = [subprocess.Popen([p, LIFETIME], stdin=null, stdout=null, stderr=null) for p in programs]
    os.write(write_end, "".join(f"{c.pid}\n" for c in children).encode())
    os.close(write_end)

    def collect(child: subprocess.Popen) -> None:
        os.waitid(os.P_PID, child.pid, os.WEXITED | os.WNOWAIT)
        time.sleep(REAP_DELAY)
        child.wait()

    threads = [threading.Thread(target=collect, args=(c,)) for c in children]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    os._exit(0)


if __name__ == "__main__":
    main(sys.argv[1])
