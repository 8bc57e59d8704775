"""The line editor on a real pseudo-terminal: build/linedemo and the
getpass_probe test program.  What needs a real terminal is checked here:
the settings given back after every way out, signals, hang-ups, vi mode
from the environment, exact scroll bytes."""

import os
import re
import shutil
import signal
import tempfile
import unittest

import harness

NAMED = {"esc": "\x1b", "left": "\x1b[D", "right": "\x1b[C", "up": "\x1b[A"}


def session(prog, args, text, expect=b"> ", pause=0.15, world=None, **kw):
    """prog run with text typed in pieces split at "|", each sent once the
    output before it has settled; <c-x> is a control key, <esc> and the
    arrows <left>, <right>, <up> those keys."""
    text = re.sub(r"<c-(.)>", lambda m: chr(ord(m.group(1)) & 31), text)
    text = re.sub(r"<(esc|left|right|up)>", lambda m: NAMED[m.group(1)], text)
    steps = [("expect", expect)]
    for piece in text.split("|"):
        steps += [("send", piece.encode("latin-1")), ("sleep", pause)]
    argv = [harness.program(prog)] + args
    return (world.pty if world else harness.pty_session)(argv, steps, **kw)


def lines(r):
    rows = r.screen.split(b"\n")
    return [row.split(b"line: ", 1)[1].strip(b"\r").decode("latin-1") for row in rows if b"line: " in row]


T = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnop"
PROBE = "abc def<c-a>|<esc>f|X\r|<c-d>"  # vi: f and X are no commands

DEMO = [
    # (linedemo arguments, environment, keys, lines printed back, screen pieces)
    ([], None, "abc|<left>|<esc>OD|X|<right>|Y\r|ab|<esc>[1;5C|\r|<c-d>", ["aXbYc", "ab5C"],
     [b"\r> ab\x075C"]),
    ([], {"EDITOR": "vim"}, PROBE, ["abc def"], []),
    ([], {"EDITOR": "emacs"}, PROBE, ["abc Xdef"], []),
    ([], {"EDITOR": "vi"}, "one two three four|<esc>|^2dw|3l|iX\r|<c-d>", ["thrXee four"], []),
    ([], None, T[:77] + "|" + T[77] + "|<c-a>|\r|<c-d>", [T],
     [("\r> " + T[:77] + "\b" * 77 + "$" + T[28:78] + " " * 26 + "\b" * 77 + T[:76] + "$" + "\b" * 77)
      .encode()]),
    (["-w", "30"], None, T[:27] + "|" + T[27] + "|\r|<c-d>", [T[:28]],
     [(T[:27] + "\b" * 27 + "$" + T[2:28]).encode()]),
    (["-s"], None, "abc<c-c>|def<c-z>|ok\r|<c-d>", ["ok"],
     [b"[SIGINT]", b"(interrupted)", b"[SIGTSTP]", b"(suspended)"]),
]


class LineDemo(unittest.TestCase):
    def test_sessions(self):
        for args, env, keys, want, pieces in DEMO:
            with self.subTest(keys=keys):
                r = session("linedemo", args, keys, env=env)
                self.assertEqual((r.status, lines(r)), (0, want), r)
                self.assertTrue(r.settings_restored, r)
                for piece in pieces:
                    self.assertIn(piece, r.screen)

    def test_other_ways_out(self):
        r = session("linedemo", [], "abc<c-c>")  # no handler: the signal ends it
        self.assertEqual(r.signal, signal.SIGINT, r)
        self.assertTrue(r.settings_restored)
        r = session("linedemo", [], "x" * 1024 + "|" + "x" * 1023 + "|y")
        self.assertEqual((r.status, r.stderr), (1, b"\n*** Error: gl_getline(): input buffer overflow\n"))
        self.assertTrue(r.settings_restored)
        r = session("linedemo", ["-s"], "first\r|partial", hangup=True)  # the partial line is dropped
        self.assertEqual((r.status, lines(r)), (0, ["first"]), r)

    def test_history_file(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "history")
            with open(path, "w") as f:
                f.write("make all\nls -l\n")
            r = session("linedemo", [path], "<c-p><c-p>\r|<up> -a\r|<c-r>ls|\r|<c-d>")
            self.assertEqual(lines(r), ["make all", "make all -a", "ls -l"], r)
            with open(path) as f:
                self.assertEqual(f.read(), "make all\nls -l\nmake all\nmake all -a\nls -l\n")

    @unittest.skipUnless(harness.can_use_namespaces(), "needs root and mount namespaces")
    def test_inputrc_in_the_home_directory_of_the_user_database_entry(self):
        home = tempfile.mkdtemp(prefix="linedemo-home-")
        os.chmod(home, 0o755)
        self.addCleanup(shutil.rmtree, home, True)
        with harness.World(passwd="root:x:0:0:root:%s:/bin/sh\n" % home, group="root:x:0:\n") as world:
            for inputrc, want in (("# keys\nset editing-mode vi\n", "abc def"), ("set editing-mode emacs\n", "abc Xdef")):
                with open(os.path.join(home, ".inputrc"), "w") as f:
                    f.write(inputrc)
                self.assertEqual(lines(session("linedemo", [], PROBE, world=world)), [want])


PROMPT = b"Password: "
EOL = b"\r\n\r"  # the line feed, turned into "\r\n" by the terminal, then a return
NOT_INTERACTIVE = b"\n*** Error: gl_getline(): not interactive, use stdio.\n"
TYPED = "".join(chr(ord("a") + i % 26) for i in range(130))


def got(r):
    """The secrets the probe read, in order (each up to its first NUL)."""
    return [bytes.fromhex(l[4:].decode()) for l in r.stderr.split(b"\n") if l.startswith(b"got:")]


class MaskedEntry(unittest.TestCase):
    def test_entries(self):
        cases = [
            # (keys, secret, what the screen shows after the prompt)
            ("\r", b"", EOL),
            ("se cr<up>\n", b"se cr\x1b[A", b"*" * 8 + EOL),
            ("abc|\b|\x7f|\r", b"a", b"***" + b"\b \b" * 2 + EOL),
            ("\b|\x7f|x\x7f\x7f|y\r", b"y", b"*\b \b*" + EOL),  # nothing stored: nothing written
            (TYPED[:64] + "|" + TYPED[64:] + "|\r", TYPED[:127].encode(), b"*" * 127 + EOL),
            ("a<c-c>|<c-z>|<c-\\>b\r", b"a\x03\x1a\x1cb", b"*" * 5 + EOL),  # signal characters stored
            ("ab\0cd\r", b"ab", b"*" * 5 + EOL),
            ("ab\xffcd", b"ab", b"**" + EOL),
        ]
        for keys, secret, screen in cases:
            with self.subTest(keys=keys):
                r = session("getpass_probe", [], keys, expect=PROMPT, pause=0.05)
                self.assertEqual((r.status, got(r), r.screen), (0, [secret], PROMPT + screen), r)
                self.assertTrue(r.settings_restored, r)

    def test_hangup_and_two_entries(self):
        r = session("getpass_probe", [], "abc", expect=PROMPT, hangup=True)
        self.assertEqual((r.status, got(r), r.screen), (0, [b"abc"], PROMPT + b"***"), r)
        r = session("getpass_probe", ["128", "2"], "one\r|two\r", expect=PROMPT)
        self.assertEqual((got(r), r.screen), ([b"one", b"two"], (PROMPT + b"***" + EOL) * 2))
        self.assertTrue(r.settings_restored, r)

    def test_not_interactive(self):
        r = harness.run([harness.program("getpass_probe")], stdin=b"secret\n")
        self.assertEqual((r.status, r.stdout, r.stderr), (1, b"", NOT_INTERACTIVE))
        r = harness.pty_session([harness.program("getpass_probe")], [("sleep", 0.2)], stdout_tty=False)
        self.assertEqual((r.status, r.stderr, r.screen), (1, (NOT_INTERACTIVE, b""), b""))
        self.assertTrue(r.settings_restored, r)


if __name__ == "__main__":
    unittest.main()
