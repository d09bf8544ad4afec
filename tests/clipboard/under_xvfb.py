#!/usr/bin/env python3
"""Runs a program with DISPLAY set to a private Xvfb server, which it starts on a free display
number (Xvfb -displayfd picks one) and stops afterwards, with whatever X clients the program left
behind; XVFB_PID tells the program the server's process. Exits with the program's status, or 77
(CTest's skip code) when Xvfb is not installed.

  under_xvfb.py PROGRAM [ARG...]
"""
import os
import select
import shutil
import subprocess
import sys


def start_server(xvfb):
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        [xvfb, "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "640x480x24"],
        pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], 30)
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            server.kill()
            sys.exit("Xvfb did not start")
        number += chunk
    os.close(read_end)
    return server, ":" + number.decode().strip()


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    xvfb = shutil.which("Xvfb")
    if not xvfb:
        print("SKIPPED: Xvfb is not installed (Debian package xvfb; scripts/install-deps)")
        return 77
    server, display = start_server(xvfb)
    try:
        env = dict(os.environ, DISPLAY=display, XVFB_PID=str(server.pid))
        return subprocess.run(argv[1:], env=env).returncode
    finally:
        server.terminate()
        server.wait(timeout=30)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
