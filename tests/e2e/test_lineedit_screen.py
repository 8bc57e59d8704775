"""What the user sees of the line editor: linedemo on a real pseudo-terminal,
its output drawn by a VT100 screen emulator, checked after each key."""

import fcntl
import os
import pty
import select
import signal
import struct
import sys
import termios
import time
import unittest

import harness

try:
    import pyte
except ImportError:  # Debian's python3-pyte (scripts/test-all.sh), for another Python
    sys.path.append("/usr/lib/python3/dist-packages")
    try:
        import pyte
    except ImportError:
        pyte = None

UTF8 = {"LC_ALL": "C.UTF-8"}
LEFT, RIGHT, BS, HOME, END = b"\x1b[D", b"\x1b[C", b"\x7f", b"\x01", b"\x05"


class Terminal:
    """A program on a pseudo-terminal of cols x rows, drawn by pyte."""

    def __init__(self, argv, env, cols=30, rows=6):
        self.master, slave = pty.openpty()
        self.screen = pyte.Screen(cols, rows)
        self.stream = pyte.ByteStream(self.screen)
        self.size(cols, rows, slave)
        self.pid = os.fork()
        if self.pid == 0:
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
            for fd in (0, 1, 2):
                os.dup2(slave, fd)
            os.execvpe(argv[0], argv, harness.clean_env(env))
        os.close(slave)
        self.out = b""
        self.settle()

    def size(self, cols, rows, fd=None):
        """Sets the window size on the terminal; the kernel signals the program."""
        self.screen.resize(rows, cols)
        fcntl.ioctl(self.master if fd is None else fd, termios.TIOCSWINSZ,
                    struct.pack("HHHH", rows, cols, 0, 0))

    def settle(self, quiet=0.15):
        deadline = time.time() + harness.TIMEOUT
        while time.time() < deadline:
            if not select.select([self.master], [], [], quiet)[0]:
                return
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                return
            if not chunk:
                return
            self.out += chunk
            self.stream.feed(chunk)

    def key(self, keys):
        os.write(self.master, keys)
        self.settle()
        return self.screen.display[self.screen.cursor.y].rstrip(), self.screen.cursor.x

    def finish(self):
        """Waits for the program's end; returns everything it wrote."""
        deadline = time.time() + harness.TIMEOUT
        while os.waitpid(self.pid, os.WNOHANG)[0] == 0:
            if time.time() > deadline:
                os.kill(self.pid, signal.SIGKILL)
                break
            self.settle(0.05)
        self.settle(0.05)
        os.close(self.master)
        return self.out


@unittest.skipIf(pyte is None, "python3-pyte is not installed")
class Screen(unittest.TestCase):
    def session(self, rows, args=(), env=UTF8, cols=30):
        term = Terminal([harness.program("linedemo")] + list(args), env, cols=cols)
        for keys, row, col in rows:
            if isinstance(keys, int):
                term.size(keys, 6)
                keys = b""
            self.assertEqual(term.key(keys), (row, col), keys)
        term.key(b"\r\x04")
        return term.finish()

    def test_screen(self):
        for case in []:
            with self.subTest(case[0]):
                self.session(case[1])


if __name__ == "__main__":
    unittest.main()
