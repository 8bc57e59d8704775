"""What the user sees of the line editor: linedemo on a real pseudo-terminal,
its output drawn by a VT100 screen emulator, checked after each key."""

import fcntl
import hashlib
import os
import pty
import select
import shutil
import signal
import struct
import sys
import tempfile
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


DIGITS = b"0123456789" * 2
COLOUR = "\x1b[32m>\x1b[0m "

# linedemo options, then each key (or a new window width) with the row and
# cursor column it leaves on a 24-column screen, and the line returned.
SCREEN = [
    ("ascii", [], [(b"abc", "> abc", 5), (LEFT, "> abc", 4), (b"X", "> abXc", 5),
                   (BS, "> abc", 4)], "abc"),
    ("2-byte", [], [("café".encode(), "> café", 6), (LEFT, "> café", 5), (b"X", "> cafXé", 6),
                    (RIGHT, "> cafXé", 7), (BS, "> cafX", 6)], "cafX"),
    ("3-byte wide", [], [("中文".encode(), "> 中文", 6), (LEFT, "> 中文", 4), (LEFT, "> 中文", 2),
                         (LEFT, "> 中文", 2), (b"x", "> x中文", 3), (b"\x04", "> x文", 3)], "x文"),
    ("4-byte emoji", [], [("a😀b".encode(), "> a😀b", 6), (LEFT, "> a😀b", 5),
                          (LEFT, "> a😀b", 3), (b"\x14", "> 😀ab", 4), (BS, "> ab", 2)], "ab"),
    ("combining", [], [(b"e\xcc\x81x", "> \u00e9x", 4), (LEFT, "> \u00e9x", 3),
                       (LEFT, "> \u00e9x", 3), (b"\x04", "> ex", 3)], "ex"),
    ("invalid bytes", [], [(b"\xc3x", "> \ufffdx", 4), (b"\x80", "> \ufffdx\ufffd", 5),
                           (LEFT * 2, "> \ufffdx\ufffd", 3), (BS, "> x\ufffd", 2),
                           ("é".encode(), "> éx\ufffd", 3)], "é".encode() + b"x\x80"),
    ("coloured prompt", ["-p", COLOUR], [("ab中".encode(), "> ab中", 6), (LEFT, "> ab中", 4),
                                         (b"Z", "> abZ中", 5)], "abZ中"),
    ("scrolled", [], [(DIGITS, "> " + DIGITS.decode(), 22),
                      ("abcd中文xyz".encode(), "> $abcd中文xyz", 14),
                      (HOME, "> 01234567890123456789$", 2), (END, "> $abcd中文xyz", 14),
                      (LEFT * 5, "> $abcd中文xyz", 7), (HOME, "> 01234567890123456789$", 2),
                      (RIGHT * 25, "> $abcd中文xyz", 9)], DIGITS.decode() + "abcd中文xyz"),
    ("wide at the edges", [], [("中文字".encode() * 4, "> $ 字", 6), (HOME, "> " + "中文字" * 3 + "中$", 2),
                               (END, "> $ 字", 6)], "中文字" * 4),
    ("resized", ["-s"], [(DIGITS, "> " + DIGITS.decode(), 22), (LEFT * 3, "> " + DIGITS.decode(), 19),
                         (22, "> 012345678901234567$", 19), (40, "> " + DIGITS.decode(), 19),
                         (b"X", "> 01234567890123456X789", 20)], "01234567890123456X789"),
]


@unittest.skipIf(pyte is None, "python3-pyte is not installed")
class Screen(unittest.TestCase):
    def test_rows_after_each_key(self):
        for name, args, steps, line in SCREEN:
            with self.subTest(name):
                term = Terminal([harness.program("linedemo")] + args, UTF8, cols=24)
                for keys, row, col in steps:
                    if isinstance(keys, int):
                        term.size(keys, 6)
                        keys = b""
                    self.assertEqual(term.key(keys), (row, col), keys)
                term.key(b"\r\x04")
                out = term.finish()
                self.assertIn(b"line: " + (line if isinstance(line, bytes) else line.encode()) + b"\r\n", out)
                if "-s" in args:  # the program's own SIGWINCH handler still ran
                    self.assertIn(b"resizes: 2", out)

# Keys typed, then the bytes that the line and the masked entry hold in a
# UTF-8 locale, and in the C locale (every byte a character).
BYTES = [
    ("café".encode() + BS, b"caf", b"caf\xc3"),
    ("pässwörö".encode() + BS + b"d", "pässwörd".encode(), "pässwör".encode() + b"\xc3d"),
    ("a😀".encode() + BS, b"a", b"a\xf0\x9f\x98"),
    ("中".encode() + BS + b"x", b"x", b"\xe4\xb8x"),
    (b"\xc3x\x80" + BS, b"\xc3x", b"\xc3x"),
]


class Bytes(unittest.TestCase):
    def test_line_and_secret(self):
        for keys, utf8, c in BYTES:
            for env, want in ((UTF8, utf8), ({}, c)):
                with self.subTest(keys=keys, env=env):
                    steps = [("expect", b"> "), ("send", keys + b"\r"), ("expect", b"line: "),
                             ("send", b"\x04")]
                    r = harness.pty_session([harness.program("linedemo")], steps, env=env)
                    self.assertIn(b"line: " + want + b"\r\n", r.screen)
                    steps = [("expect", b": "), ("send", keys + b"\r")]
                    r = harness.pty_session([harness.program("getpass_probe")], steps, env=env)
                    self.assertEqual(r.stderr, b"got:" + want.hex().encode() + b"\n")

    def test_long_paste_keeps_2046_bytes_and_the_rest_stays_with_the_program(self):
        folder = tempfile.mkdtemp()
        history = os.path.join(folder, "history")
        try:
            steps = [("expect", b"> "), ("send", b"x" * 3000 + b"\rafter\r"), ("expect", b"line: after"),
                     ("send", b"\x04")]
            r = harness.pty_session([harness.program("linedemo"), history], steps, env=UTF8)
            self.assertEqual(r.status, 0, r)
            self.assertIn(b"line: " + b"x" * 2046 + b"\r\n", r.screen)
            with open(history, "rb") as f:
                self.assertEqual(f.read(), b"x" * 2046 + b"\nafter\n")
        finally:
            shutil.rmtree(folder)

    @unittest.skipUnless(harness.can_use_namespaces(), "needs root and mount namespaces")
    def test_full_disk_keeps_the_old_history(self):
        folder = tempfile.mkdtemp()
        # A 16 KiB file system filled up by a filler and the old history (4,000
        # bytes), to which a line of 200 is added: the new file does not fit.
        script = ('mount -t tmpfs -o size=16k tmpfs "$1" && cd "$1" && '
                  'for i in $(seq 20); do printf "%0199d\\n" $i; done > h && '
                  '{ cat /dev/zero > fill 2>/dev/null; "$2" h; md5sum h; ls -1; }')
        try:
            steps = [("expect", b"> "), ("send", b"n" * 200 + b"\r"), ("expect", b"line: n"), ("send", b"\x04")]
            r = harness.pty_session(["unshare", "-m", "sh", "-c", script, "sh", folder,
                                     harness.program("linedemo")], steps)
            old = b"".join(b"%0199d\n" % i for i in range(1, 21))
            self.assertIn(hashlib.md5(old).hexdigest().encode() + b"  h\r\nfill\r\nh\r\n", r.screen)
        finally:
            shutil.rmtree(folder)


if __name__ == "__main__":
    unittest.main()
