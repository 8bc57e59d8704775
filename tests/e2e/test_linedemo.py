"""The line editor on a real pseudo-terminal, through build/linedemo."""

import os
import shutil
import signal
import tempfile
import unittest

import harness

CTRL = {k: bytes([i + 1]) for i, k in enumerate("abcdefghijklmnopqrstuvwxyz")}
ESC = b"\x1b"
BS = b"\b"


def linedemo(*args):
    return [harness.program("linedemo")] + list(args)


def session(keys, *args, env=None, hangup=False, expect=b"> ", **kw):
    """linedemo with the keys typed after the first prompt; each key
    string is sent once the previous output has settled."""
    steps = [("expect", expect)]
    for k in keys:
        steps += [("send", k), ("sleep", 0.15)]
    return harness.pty_session(linedemo(*args), steps, env=env, hangup=hangup, **kw)


def lines(result):
    """The lines that linedemo printed back."""
    out = []
    for row in result.screen.split(b"\n"):
        row = row.strip(b"\r")
        if b"line: " in row:
            out.append(row.split(b"line: ", 1)[1].decode("latin-1"))
    return out


class Typing(unittest.TestCase):
    def check(self, keys, expected, *args, env=None):
        r = session(keys + [CTRL["d"]], *args, env=env)
        self.assertEqual(r.status, 0, r)
        self.assertTrue(r.settings_restored)
        self.assertEqual(lines(r), expected, r)
        return r

    def test_plain_line_then_end(self):
        r = self.check([b"abc\r"], ["abc"])
        self.assertTrue(r.screen.startswith(b"\r> abc\r\n"), r)

    def test_emacs_keys(self):
        self.check([b"abc" + CTRL["b"] + CTRL["b"] + b"X\r",
                    b"one two" + CTRL["w"] + CTRL["a"] + CTRL["y"] + b"\r",
                    b"one two" + ESC + b"b" + ESC + b"b" + ESC + b"f#\r"],
                   ["aXbc", "twoone ", "one #two"])

    def test_arrow_keys(self):
        # Escape [ 1 ; 5 C rings the bell at the semicolon; 5 and C are text.
        r = self.check([b"abc", ESC + b"[D", ESC + b"OD", b"X", ESC + b"[C", b"Y\r",
                        b"ab", ESC + b"[1;5C", b"\r"], ["aXbYc", "ab5C"])
        self.assertIn(b"ab\x075C", r.screen)


class ViMode(unittest.TestCase):
    # In emacs mode Escape f moves a word; in vi mode it enters command
    # mode, where f and X are no commands.
    PROBE = [b"abc def" + CTRL["a"], ESC + b"f", b"X\r", CTRL["d"]]

    def test_editor_variable_selects_vi(self):
        self.assertEqual(lines(session(self.PROBE, env={"EDITOR": "vim"})), ["abc def"])
        self.assertEqual(lines(session(self.PROBE, env={"EDITOR": "emacs"})), ["abc Xdef"])

    def test_commands_with_counts(self):
        keys = [b"one two three four", ESC, b"^2dw", b"3l", b"iX\r",
                b"abcdef", ESC, b"^dd", b"new\r", CTRL["d"]]
        r = session(keys, env={"EDITOR": "vi"})
        self.assertEqual(lines(r), ["thrXee four", "new"], r)
        self.assertTrue(r.settings_restored)

    @unittest.skipUnless(harness.can_use_namespaces(), "needs root and mount namespaces")
    def test_inputrc_in_the_home_directory_of_the_user_database_entry(self):
        home = tempfile.mkdtemp(prefix="linedemo-home-")
        os.chmod(home, 0o755)
        try:
            passwd = "root:x:0:0:root:%s:/bin/sh\n" % home
            with harness.World(passwd=passwd, group="root:x:0:\n") as world:
                def run(inputrc):
                    with open(os.path.join(home, ".inputrc"), "w") as f:
                        f.write(inputrc)
                    steps = [("expect", b"> ")]
                    for k in self.PROBE:
                        steps += [("send", k), ("sleep", 0.15)]
                    return world.pty(linedemo(), steps)
                self.assertEqual(lines(run("# keys\nset editing-mode vi\n")), ["abc def"])
                self.assertEqual(lines(run("set editing-mode emacs\n")), ["abc Xdef"])
        finally:
            shutil.rmtree(home, ignore_errors=True)


class Scrolling(unittest.TestCase):
    TEXT = (b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789" * 2)[:78]

    def test_scroll_step_27_at_width_80(self):
        t = self.TEXT
        r = session([t[:77], t[77:78], CTRL["a"], b"\r", CTRL["d"]])
        self.assertIn(b"\r> " + t[:77]
                      + BS * 77 + b"$" + t[28:78] + b" " * 26 + BS * 26
                      + BS * 51 + t[:76] + b"$" + BS * 77, r.screen)
        self.assertEqual(lines(r), [t.decode()])

    def test_fixed_width_scrolls_one_column(self):
        t = self.TEXT
        r = session([t[:27], t[27:28], b"\r", CTRL["d"]], "-w", "30")
        self.assertIn(t[:27] + BS * 27 + b"$" + t[2:28], r.screen)


class History(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="linedemo-history-")
        self.file = os.path.join(self.dir, "history")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_history_keys_search_and_file(self):
        with open(self.file, "w") as f:
            f.write("make all\nls -l\n")
        keys = [CTRL["p"] + CTRL["p"] + b"\r",      # make all
                ESC + b"[A" + b" -a\r",             # make all -a
                CTRL["r"] + b"ls", b"\r",           # ls -l
                CTRL["d"]]
        r = session(keys, self.file)
        self.assertEqual(lines(r), ["make all", "make all -a", "ls -l"], r)
        self.assertIn(b"\rls? ls -l", r.screen)
        with open(self.file) as f:
            self.assertEqual(f.read(), "make all\nls -l\nmake all\nmake all -a\nls -l\n")


class Completion(unittest.TestCase):
    def test_tab_completes_files_and_directories(self):
        d = tempfile.mkdtemp(prefix="linedemo-complete-")
        try:
            open(os.path.join(d, "alpha.txt"), "w").close()
            os.mkdir(os.path.join(d, "beta"))
            keys = [d.encode() + b"/al", b"\t", b"\r",
                    d.encode() + b"/be", b"\t", b"\r", CTRL["d"]]
            r = session(keys)
            self.assertEqual(lines(r), [d + "/alpha.txt ", d + "/beta/"], r)
        finally:
            shutil.rmtree(d, ignore_errors=True)

    def test_second_tab_lists_and_third_completes_again(self):
        d = tempfile.mkdtemp(prefix="linedemo-complete-")
        try:
            for name in ("alpha.txt", "alpine"):
                open(os.path.join(d, name), "w").close()
            r = session([d.encode() + b"/a", b"\t", b"\t", b"\t", b"\r", CTRL["d"]])
            self.assertEqual(lines(r), [d + "/alp"], r)
            self.assertEqual(r.screen.count(b"alpine"), 1, r)  # listed once
        finally:
            shutil.rmtree(d, ignore_errors=True)


class WaysOut(unittest.TestCase):
    def test_interrupt_and_suspend_with_the_programs_handlers(self):
        r = session([b"abc" + CTRL["c"], b"def" + CTRL["z"], b"ok\r", CTRL["d"]], "-s")
        self.assertEqual(r.status, 0, r)
        self.assertIn(b"[SIGINT]", r.screen)
        self.assertIn(b"(interrupted)", r.screen)
        self.assertIn(b"[SIGTSTP]", r.screen)
        self.assertIn(b"(suspended)", r.screen)
        self.assertEqual(lines(r), ["ok"])
        self.assertTrue(r.settings_restored)

    def test_interrupt_without_a_handler_ends_the_program(self):
        r = session([b"abc" + CTRL["c"]])
        self.assertEqual(r.signal, signal.SIGINT, r)
        self.assertTrue(r.settings_restored)

    def test_end_of_input_drops_the_unconfirmed_line(self):
        r = session([b"first\r", b"partial"], "-s", hangup=True)
        self.assertEqual(r.status, 0, r)
        self.assertEqual(lines(r), ["first"])  # a hung-up terminal has no settings left

    def test_full_line_rings_the_bell(self):
        r = session([b"x" * 1024, b"x" * 1023, b"y\r", CTRL["d"]])
        self.assertEqual(r.status, 0, r)
        self.assertEqual(lines(r), ["x" * 2046])
        self.assertTrue(r.settings_restored)


if __name__ == "__main__":
    unittest.main()
