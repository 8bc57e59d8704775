"""credcheck --help and --version, and the bash completion as bash runs it."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

SYNOPSES = ["-l [USER [PASSWORD [-g METHOD]]]", "-c [ENCRYPTED [GUESS]]", "-g [SECONDS]",
            "-a USER [PASSWORD | -] [--pam SERVICE] [--json]", "-a --all [--json]", "--help", "--version"]
# argv, status, standard output (a pattern, or lines it holds), standard error (a pattern)
RUNS = [
    (["--help"], 0, SYNOPSES + ["\n  %d " % status for status in range(11)], r"\A\Z"),
    (["--version"], 0, r"\Acredcheck \d+\.\d+\.\d+\n\Z", r"\A\Z"),
    (["--helpx"], 2, r"\A\Z", "\nUsages:\n"),
    (["-h", "--help"], 2, r"\A\Z", "\nUsages:\n"),
]

PAM = set(os.listdir("/etc/pam.d")) if os.path.isdir("/etc/pam.d") else set()
# the words after "credcheck" (the last one is being completed), the
# completions wanted, and whether there may be others (user names)
COMPLETIONS = [
    ("", {"-l", "-c", "-g", "-a", "--help", "--version"}, False),
    ("--", {"--help", "--version"}, False),
    ("-l ro", {"root"}, True),
    ("-l root pw ", {"-g"}, False),
    ("-l root pw -g ", {"1", "2"}, False),
    ("-c ", set(), False),
    ("-a --a", {"--all"}, False),
    ("-a ro", {"root"}, True),
    ("-a --all ", {"--json"}, False),
    ("-a root - ", {"--pam", "--json"}, False),
    ("-a root --json ", {"--pam"}, False),
    ("-a root --pam ", PAM, False),
]
COMPLETE = r"""
source "$1"; shift
spec=$(complete -p credcheck) || exit 9
echo "$spec"
fn=${spec#*-F }; fn=${fn%% *}
COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
"$fn" credcheck "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
"""


class CommandLineTest(unittest.TestCase):
    def test_help_and_version(self):
        program = harness.program("credcheck")
        for argv, status, out, err in RUNS:
            with self.subTest(argv=argv):
                r = subprocess.run([program] + argv, capture_output=True, text=True, stdin=subprocess.DEVNULL)
                self.assertEqual(r.returncode, status)
                self.assertRegex(r.stderr, err)
                for line in [out] if isinstance(out, str) else out:
                    self.assertRegex(r.stdout, line if isinstance(out, str) else re.escape(line))

    def test_bash_completion(self):
        script = os.path.join(harness.SOURCE, "completion", "credcheck.bash")
        for words, wanted, others in COMPLETIONS:
            with self.subTest(words=words):
                r = subprocess.run(["bash", "-c", COMPLETE, "bash", script, "credcheck"] + words.split(" "),
                                   capture_output=True, text=True)
                spec, *got = r.stdout.split("\n")[:-1]
                self.assertEqual((r.returncode, spec), (0, "complete -F _credcheck credcheck"), r.stderr)
                got = set(got) - {""}
                self.assertTrue(got >= wanted if others else got == wanted, got)
                self.assertTrue(all(g.startswith(words.split(" ")[-1]) for g in got), got)


if __name__ == "__main__":
    unittest.main()
