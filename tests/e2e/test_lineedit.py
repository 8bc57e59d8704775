# The line editor on a real pseudo-terminal, through build/linedemo and the
# getpass_probe test program: what only a real terminal shows (settings given
# back after every way out, signals, hang-ups, vi mode from the environment,
# exact scroll bytes).
import os
import re
import signal
import tempfile
import unittest

import harness



# prog run with text typed in pieces split at "|", each sent once the output
# before it has settled; <c-x> is a control key, <esc> and the arrows those keys.
def session(prog, args, text, expect=b"> ", world=None, **kw):
    text = re.sub(r"<(esc|left|right|up)>", lambda m: {"esc": "\x1b", "left": "\x1b[D", "right": "\x1b[C", "up": "\x1b[A"}[m.group(1)], text)
    text = re.sub(r"<c-(.)>", lambda m: chr(ord(m.group(1)) & 31), text)
    steps = [("expect", expect)] + [(k, v) for p in text.split("|") for k, v in (("send", p.encode("latin-1")), ("sleep", 0.15))]
    return (world.pty if world else harness.pty_session)([harness.program(prog)] + args, steps, **kw)


def lines(r):
    return [row.split(b"line: ", 1)[1].strip(b"\r").decode() for row in r.screen.split(b"\n") if b"line: " in row]


T = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnop"
PROBE = "abc def<c-a>|<esc>f|X\r|<c-d>"  # vi: f and X are no commands
SCROLLED = "\r> " + T[:77] + "\b" * 77 + "$" + T[28:] + " " * 26 + "\b" * 77 + T[:76] + "$" + "\b" * 77
DEMO = [  # (linedemo arguments, environment, keys, lines printed back, pieces of the output, status or signal)
    ([], None, "abc|<left>|<esc>OD|X|<right>|Y\r|ab cd|<esc>|[1;5D|<esc>[3|~|X\r|<c-d>", ["aXbYc", "ab Xd"], ["\x1b[?2004h\r> ", "\r\n\r\x1b[?2004l"], 0),
    ([], None, "ab|\x1b[200~c\rd<c-c>\x1b[201~|\r|<c-d>", ["abc d"], ["\x07"], 0),  # keys split over reads; a paste is text
    ([], {"EDITOR": "vim"}, PROBE, ["abc def"], [], 0),
    ([], {"EDITOR": "emacs"}, PROBE, ["abc Xdef"], [], 0),
    ([], None, T[:77] + "|" + T[77] + "|<c-a>|\r|<c-d>", [T], [SCROLLED], 0),
    ([], {"COLUMNS": "30"}, T[:27] + "|" + T[27] + "|\r|<c-d>", [T[:28]], [T[:27] + "\b" * 27 + "$" + T[2:28]], 0),
    (["-s"], None, "abc<c-c>|def<c-z>|ok\r|<c-d>", ["ok"], ["[SIGINT]", "(interrupted)", "[SIGTSTP]"], 0),
    ([], None, "abc<c-c>", [], [], -signal.SIGINT),  # no handler: the signal ends it
    ([], None, "x" * 1024 + "|" + "x" * 1023 + "|y\r|<c-d>", ["x" * 2046], ["\x07\x07"], 0),  # a full line rings
]
PROMPT, EOL, SECRET = b"Password: ", b"\r\n\r", "abcdefghijklmnopqrstuvwxyz" * 5  # EOL: "\n" made "\r\n", then "\r"
NOT_INTERACTIVE = b"\n*** Error: gl_getline(): not interactive, use stdio.\n"
SECRETS = [  # (keys, secret read, screen after the prompt); the probe prints up to a NUL
    ("se cr<up>|\b|\x7f|\n", b"se ", b"*" * 5 + b"\x07" + b"\b \b" * 2 + EOL),  # no byte of a key's sequence
    ("\b|x\x7f\x7f|y\r", b"y", b"*\b \b*" + EOL),  # nothing stored: nothing written
    (SECRET[:64] + "|" + SECRET[64:] + "|\r", SECRET[:127].encode(), b"*" * 127 + EOL),
    ("a<c-c>|<c-z>|<c-\\>\0b\r", b"a\x03\x1a\x1c", b"*" * 6 + EOL),  # signal characters stored
    ("ab\xffcd\r", b"ab\xffcd", b"*****" + EOL),
    ("\x1b[200~se\tc\r\n\x1b[201~r\r", b"secr", b"**\x07*\x07\x07*" + EOL),  # a paste's control bytes are dropped
]


def got(r):  # each secret read, up to a NUL, marked when the byte past the buffer changed
    return [bytes.fromhex(l[4:-8].decode()) + b"!" * (l[-2:] != b"58") for l in r.stderr.split(b"\n") if l[:4] == b"got:"]


class LineEditor(unittest.TestCase):
    def test_linedemo(self):
        for args, env, keys, want, pieces, status in DEMO:
            r = session("linedemo", args, keys, env=env)
            self.assertEqual((r.status if r.signal is None else -r.signal, lines(r), r.settings_restored), (status, want, True), r)
            for piece in pieces:
                self.assertIn(piece.encode(), r.screen + r.stderr)
        r = session("linedemo", ["-s"], "first\r|partial", hangup=True)  # the partial line is dropped
        self.assertEqual((r.status, lines(r)), (0, ["first"]), r)

    @unittest.skipUnless(harness.can_use_namespaces(), "needs root and mount namespaces")
    def test_inputrc_in_the_home_directory_of_the_user_database_entry(self):
        with tempfile.TemporaryDirectory() as home, harness.World(passwd="root:x:0:0:root:%s:/bin/sh\n" % home, group="root:x:0:\n") as world:
            for inputrc, want in (("# keys\nset editing-mode vi\n", "abc def"), ("set editing-mode emacs\n", "abc Xdef")):
                open(os.path.join(home, ".inputrc"), "w").write(inputrc)
                self.assertEqual(lines(session("linedemo", [], PROBE, world=world)), [want])

    def test_getpass(self):
        for keys, secret, screen in SECRETS:
            r = session("getpass_probe", [], keys, expect=PROMPT)
            self.assertEqual((r.status, got(r), r.screen, r.settings_restored), (0, [secret], PROMPT + screen, True), r)
        r = session("getpass_probe", [], "abc", expect=PROMPT, hangup=True)
        self.assertEqual((r.status, got(r), r.screen), (0, [b"abc"], PROMPT + b"***"), r)
        r = session("getpass_probe", ["4"], "ab\xc3\xa9x\r", expect=PROMPT, env={"LC_ALL": "C.UTF-8"})
        self.assertEqual((got(r), r.screen), ([b"abx"], PROMPT + b"***" + EOL))  # a full entry keeps whole characters
        r = session("getpass_probe", ["1", "2"], "abc\r|\r", expect=PROMPT)  # clears no more than it has
        self.assertEqual((got(r), r.screen, r.settings_restored), ([b"", b""], (PROMPT + EOL) * 2, True))
        r = harness.run([harness.program("getpass_probe")], stdin=b"secret\n")
        self.assertEqual((r.status, r.stdout, r.stderr), (1, b"", NOT_INTERACTIVE))
        r = harness.pty_session([harness.program("getpass_probe")], [("sleep", 0.2)], stdout_tty=False)
        self.assertEqual((r.status, r.stderr, r.screen, r.settings_restored), (1, (NOT_INTERACTIVE, b""), b"", True))


if __name__ == "__main__":
    unittest.main()
