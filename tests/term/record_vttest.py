#!/usr/bin/env python3
"""Records what the VT100 test program writes to a 24 x 80 terminal.

Runs vttest in a pseudo-terminal, walks a fixed path through its menus and
screens, and writes each screen's output bytes to a file of its own under
the given folder (default tests/term/data/vttest). The terminal tests replay
these streams through the escape interpreter and compare the menus with
libvterm's rendering; the fuzz target takes them as seeds. Re-run it when
the path below changes: python3 tests/term/record_vttest.py [FOLDER]
"""
import os
import pty
import select
import struct
import sys
import fcntl
import termios

# (name, keys sent after the screen was read). The first screen is the main
# menu; each later one is what the previous keys brought up.
PATH = [
    ("menu", b"1\r"),                 # 1: cursor movements
    ("cursor_1", b"\r"),
    ("cursor_2", b"\r"),
    ("cursor_3", b"\r"),
    ("cursor_4", b"\r"),
    ("cursor_5", b"\r"),
    ("cursor_6", b"\r"),
    ("menu_again", b"2\r"),           # 2: screen features
    ("screen_1", b"\r"),
    ("screen_2", b"\r"),
    ("screen_3", b"\r"),
    ("screen_4", b"\r"),
    ("screen_5", b"\r"),
    ("screen_6", b"\r"),
    ("screen_7", b"\r"),
    ("screen_8", b"\r"),
    ("screen_9", b"0\r"),
]

QUIET_S = 0.4      # a screen is complete once output pauses this long
SCREEN_LIMIT_S = 10  # and no screen may take longer than this
MAX_BYTES = 16384    # fixtures stay small


def read_screen(fd):
    out = b""
    while True:
        r, _, _ = select.select([fd], [], [], QUIET_S)
        if not r:
            return out
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            return out
        if not chunk:
            return out
        out += chunk
        # Answer the identification requests a real terminal would.
        if b"\x1b[c" in chunk or b"\x1b[0c" in chunk:
            os.write(fd, b"\x1b[?1;2c")
        if b"\x1b[6n" in chunk:
            os.write(fd, b"\x1b[24;80R")
        if len(out) > MAX_BYTES:
            return out[:MAX_BYTES]


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "data", "vttest")
    os.makedirs(folder, exist_ok=True)
    pid, fd = pty.fork()
    if pid == 0:
        os.environ["TERM"] = "vt100"
        os.execvp("vttest", ["vttest", "24x80.80"])
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    for name, keys in PATH:
        data = read_screen(fd)
        with open(os.path.join(folder, name + ".bin"), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")
        os.write(fd, keys)
    read_screen(fd)
    try:
        os.kill(pid, 15)
    except ProcessLookupError:
        pass
    os.waitpid(pid, 0)


if __name__ == "__main__":
    main()
