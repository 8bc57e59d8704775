"""Masked password entry on a real pseudo-terminal."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

PROMPT = b"Password: "
NOT_INTERACTIVE = b"\n*** Error: gl_getline(): not interactive, use stdio.\n"
# gl_putc sends a line feed then a carriage return; the terminal itself
# turns the line feed into "\r\n".
EOL = b"\r\n\r"


def entry(keys, size=None, count=1, hangup=False, expect=PROMPT):
    argv = [harness.program("getpass_probe")]
    if size is not None or count != 1:
        argv += [str(size or 128), str(count)]
    steps = [("expect", expect)]
    if isinstance(keys, bytes):
        keys = [keys]
    for k in keys:
        steps += [("send", k), ("sleep", 0.05)]
    return harness.pty_session(argv, steps, hangup=hangup)


def got(result):
    """The secrets the program read, as bytes, in order."""
    lines = [l for l in result.stderr.split(b"\n") if l.startswith(b"got:")]
    return [bytes.fromhex(l[4:].decode()) for l in lines]


class MaskedEntry(unittest.TestCase):
    def check(self, r, secret, screen):
        self.assertEqual(r.status, 0, r)
        self.assertIsNone(r.signal, r)
        self.assertEqual(got(r), [secret])
        self.assertEqual(r.screen, screen)
        self.assertTrue(r.settings_restored, r)

    def test_entries(self):
        typed = bytes(ord("a") + i % 26 for i in range(130))
        cases = [
            # (keys sent one piece at a time, secret, screen)
            ([b"\r"], b"", PROMPT + EOL),
            ([b"se cr\x1b[A\n"], b"se cr\x1b[A", PROMPT + b"*" * 8 + EOL),
            ([b"abc", b"\x08", b"\x7f", b"\r"], b"a",
             PROMPT + b"***" + b"\x08 \x08" * 2 + EOL),
            # Backspace with nothing stored writes nothing.
            ([b"\x08", b"\x7f", b"x\x7f\x7f", b"y\r"], b"y", PROMPT + b"*\x08 \x08*" + EOL),
            ([typed[:64], typed[64:], b"\r"], typed[:127], PROMPT + b"*" * 127 + EOL),
            # Signal characters are stored, not sent.
            ([b"a\x03", b"\x1a", b"\x1cb\r"], b"a\x03\x1a\x1cb", PROMPT + b"*" * 5 + EOL),
            # The probe prints up to the first NUL.
            ([b"ab\x00cd\r"], b"ab", PROMPT + b"*" * 5 + EOL),
            ([b"ab\xffcd"], b"ab", PROMPT + b"**" + EOL),
        ]
        for keys, secret, screen in cases:
            with self.subTest(keys=keys):
                self.check(entry(keys), secret, screen)

    def test_hangup_ends_entry(self):
        # After a hang-up the terminal's settings can no longer be read; the
        # unit tests check that end of input restores them.
        r = entry(b"abc", hangup=True)
        self.assertEqual(r.status, 0, r)
        self.assertEqual(got(r), [b"abc"])
        self.assertEqual(r.screen, PROMPT + b"***")

    def test_two_entries_restore_terminal_each_time(self):
        r = entry([b"one\r", b"two\r"], count=2)
        self.assertEqual(got(r), [b"one", b"two"])
        self.assertEqual(r.screen, (PROMPT + b"***" + EOL) * 2)
        self.assertTrue(r.settings_restored, r)


class NotInteractive(unittest.TestCase):
    def test_standard_input_not_a_terminal(self):
        r = harness.run([harness.program("getpass_probe")], stdin=b"secret\n")
        self.assertEqual(r.status, 1)
        self.assertEqual(r.stdout, b"")
        self.assertEqual(r.stderr, NOT_INTERACTIVE)

    def test_only_standard_output_redirected(self):
        argv = [harness.program("getpass_probe")]
        r = harness.pty_session(argv, [("sleep", 0.2)], stdout_tty=False)
        err, out = r.stderr
        self.assertEqual(r.status, 1, r)
        self.assertEqual(err, NOT_INTERACTIVE)
        self.assertEqual(out, b"")
        self.assertEqual(r.screen, b"")
        self.assertTrue(r.settings_restored, r)


if __name__ == "__main__":
    unittest.main()
