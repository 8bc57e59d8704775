# What the user sees of the line editor: linedemo on a real pseudo-terminal,
# its output drawn by a VT100 screen emulator, checked after each key; the
# bytes of lines and secrets in UTF-8 and C locales; long pastes, full disks.

import fcntl
import os
import pty
import select
import struct
import sys
import tempfile
import termios
import unittest

import harness

sys.path.append("/usr/lib/python3/dist-packages")  # Debian's python3-pyte, for any Python
try:
    import pyte
except ImportError:  # scripts/test-all.sh installs it
    pyte = None

UTF8 = {"LC_ALL": "C.UTF-8"}
LEFT, RIGHT, BS, HOME, END = b"\x1b[D", b"\x1b[C", b"\x7f", b"\x01", b"\x05"


def winsize(fd, cols):
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 6, cols, 0, 0))


class Terminal:  # linedemo on a pseudo-terminal 24 columns wide, drawn by pyte

    def __init__(self, args):
        self.screen = pyte.Screen(24, 6)
        self.stream = pyte.ByteStream(self.screen)
        self.out = b""
        self.pid, self.master = pty.fork()
        if self.pid == 0:
            try:
                winsize(0, 24)
                os.execve(harness.program("linedemo"), ["linedemo", "-s"] + args, harness.clean_env(UTF8))
            finally:
                os._exit(127)
        while not self.out and os.waitpid(self.pid, os.WNOHANG)[0] == 0:
            self.key(b"")  # the prompt: raw mode is set

    # Sends keys, or sets a new width (the kernel signals the program; a
    # negative one keeps the cells past a narrower width, as tmux does), and
    # draws what comes back until the program is quiet (or has ended).
    def key(self, keys, quiet=0.15):
        if isinstance(keys, int):
            kept = {y: dict(line) for y, line in self.screen.buffer.items()} if keys < 0 else {}
            self.screen.resize(6, abs(keys))
            for y, line in kept.items():
                self.screen.buffer[y].update(line)
            winsize(self.master, abs(keys))
        else:
            os.write(self.master, keys)
        while select.select([self.master], [], [], quiet)[0]:
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                break
            self.out += chunk
            self.stream.feed(chunk)
        return self.screen.display[self.screen.cursor.y].rstrip(), self.screen.cursor.x


DIGITS = b"0123456789" * 2
COLOUR = "\x1b[32m>\x1b[0m "

# linedemo options, then each key (or a new window width) with the row and
# cursor column it leaves on a 24-column screen, and the line returned.
SCREEN = [
    ("2-byte", [], [("café".encode(), "> café", 6), (LEFT, "> café", 5), (b"X", "> cafXé", 6),
                    (RIGHT, "> cafXé", 7), (BS, "> cafX", 6)], "cafX"),
    ("3-byte wide", [], [("中文".encode(), "> 中文", 6), (LEFT, "> 中文", 4), (LEFT, "> 中文", 2),
                         (LEFT, "> 中文", 2), (b"x", "> x中文", 3), (b"\x04", "> x文", 3)], "x文"),
    ("4-byte emoji", [], [("a😀b".encode(), "> a😀b", 6), (LEFT, "> a😀b", 5),
                          (LEFT, "> a😀b", 3), (b"\x14", "> 😀ab", 4), (BS, "> ab", 2)], "ab"),
    ("combining", [], [(b"ae\xcc\x81x", "> a\u00e9x", 5), (LEFT * 2, "> a\u00e9x", 3),
                       (b"\x14", "> \u00e9ax", 3), (BS, "> ax", 2), (b"\x04", "> x", 2)], "x"),
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
    ("search and words", [], [("a wörld\r".encode(), ">", 2), (b"\x12" + "ö".encode(), "ö? a wörld", 6),
                              (b"\x1b\x05\x1bb", "> a wörld", 4), (b"\x17", "> wörld", 2)], "wörld"),
    ("narrow row", ["-p", "prompt> "], [(b"0123456789abcdef", "prompt> $ef", 11),
                                       (HOME, "prompt> 0123456789abcd$", 8)], "0123456789abcdef"),
    ("resized", [], [(DIGITS, "> " + DIGITS.decode(), 22), (LEFT * 3, "> " + DIGITS.decode(), 19),
                         (22, "> 012345678901234567$", 19), (40, "> " + DIGITS.decode(), 19),
                         (b"X", "> 01234567890123456X789", 20)], "01234567890123456X789"),
    ("resized, row kept", [], [(-40, ">", 2), (b"x" * 30, "> " + "x" * 30, 32), (-24, "> $" + "x" * 10, 13), (b"\x15", ">", 2), (-40, ">", 2)], ""),
]


@unittest.skipIf(pyte is None, "python3-pyte is not installed")
class Screen(unittest.TestCase):
    def test_rows_after_each_key(self):
        for name, args, steps, line in SCREEN:
            with self.subTest(name):
                term = Terminal(args)
                for keys, row, col in steps:
                    others = term.screen.display[:term.screen.cursor.y]
                    self.assertEqual(term.key(keys), (row, col), keys)
                    if isinstance(keys, int):  # nothing wrapped onto the rows above
                        self.assertEqual(term.screen.display[:term.screen.cursor.y], others)
                term.key(b"\r\x04", harness.TIMEOUT)
                os.waitpid(term.pid, 0)
                os.close(term.master)
                self.assertIn(b"line: " + (line if isinstance(line, bytes) else line.encode()), term.out)
                # the program's own SIGWINCH handler still ran
                self.assertIn(b"resizes: %d" % sum(isinstance(k, int) for k, _, _ in steps), term.out)


# Keys typed, then the bytes that the line and the masked entry hold in a
# UTF-8 locale, and in the C locale (every byte a character).
BYTES = [
    ("café".encode() + BS, b"caf", b"caf\xc3"),
    ("pässwörö".encode() + BS + b"d", "pässwörd".encode(), "pässwör".encode() + b"\xc3d"),
    ("a😀".encode() + BS, b"a", b"a\xf0\x9f\x98"),
    ("中".encode() + BS + b"x", b"x", b"\xe4\xb8x"),
    (b"\xc3x\x80" + BS, b"\xc3x", b"\xc3x"),
    ("pässwörd".encode() + b"\x1b[3~\x1b[1;5D", "pässwörd".encode(), "pässwörd".encode()),  # keys, no bytes
    (b"a\xffb" + BS, b"a\xff", b"a\xff"),
    (b"e\xcc\x81" + BS, b"", b"e\xcc"),  # a mark goes with its letter
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
                    self.assertEqual(r.stderr, b"got:" + want.hex().encode() + b" past:58\n")

    @unittest.skipUnless(harness.can_use_namespaces(), "needs root and mount namespaces")
    def test_long_paste_then_a_full_disk(self):
        # On a 16 KiB file system: a paste saved to the history; then, with the
        # disk filled up, a history that needs a page more is not written.
        script = ('mount -t tmpfs -o size=16k tmpfs "$1" && cd "$1" && "$2" h; echo "size $(wc -c < h)"; '
                  'cat /dev/zero > fill 2>/dev/null; "$2" -p "2> " h; echo "size $(wc -c < h)"; ls -1')
        steps = [("expect", b"> "), ("send", b"x" * 3000 + b"\rafter\r"), ("expect", b"line: after"),
                 ("send", b"\x04"), ("expect", b"2> "), ("send", b"y" * 3000 + b"\r"),
                 ("expect", b"line: y"), ("send", b"\x04")]
        with tempfile.TemporaryDirectory() as folder:
            r = harness.pty_session(["unshare", "-m", "sh", "-c", script, "sh", folder,
                                     harness.program("linedemo")], steps, env=UTF8)
        self.assertIn(b"line: " + b"x" * 2046 + b"\r\n", r.screen)
        self.assertEqual(r.screen.count(b"size 2053\r\n"), 2, r)  # 2,046 x, "after"
        self.assertIn(b"size 2053\r\nfill\r\nh\r\n", r.screen)  # nothing left behind


if __name__ == "__main__":
    unittest.main()
