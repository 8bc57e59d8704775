"""credcheck --help and --version, and the bash completion as bash runs it."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

HELP = ["-l [USER [PASSWORD [-g METHOD]]]", "-c [ENCRYPTED [GUESS]]", "-g [SECONDS]", "--help", "--version",
        "-a USER [PASSWORD | -] [--pam SERVICE] [--json]", "-a --all [--json]"] + ["\n  %d " % s for s in range(11)]
# argv, status, what standard output holds, what standard error holds
RUNS = [(["--help"], 0, [re.escape(h) for h in HELP] + [r"\AUsage"], [r"\A\Z"]),
        (["--version"], 0, [r"\Acredcheck \d+\.\d+\.\d+\n\Z"], [r"\A\Z"]),
        (["--helpx"], 2, [r"\A\Z"], ["\nUsages:\n"])]
# the words after "credcheck" (the last is being completed), the completions
# wanted, and whether others (more user names) may come too
PAM = set(os.listdir("/etc/pam.d")) if os.path.isdir("/etc/pam.d") else set()
COMPLETIONS = [("", {"-l", "-c", "-g", "-a", "--help", "--version"}, False), ("--", {"--help", "--version"}, False),
               ("-l ro", {"root"}, True), ("-l root pw ", {"-g"}, False), ("-l root pw -g ", {"1", "2"}, False),
               ("-c ", set(), False), ("-a --a", {"--all"}, False), ("-a ro", {"root"}, True),
               ("-a --all ", {"--json"}, False), ("-a root - ", {"--pam", "--json"}, False),
               ("-a root --json ", {"--pam"}, False), ("-a root --pam ", PAM, False)]
COMPLETE = r"""source "$1"; shift
how=$(complete -p credcheck) && echo "$how" && fn=${how#*-F } && fn=${fn%% *} || exit 9
COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
"$fn" credcheck "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
"""


class CommandLineTest(unittest.TestCase):
    def test_help_and_version(self):
        for argv, status, out, err in RUNS:
            r = subprocess.run([harness.program("credcheck")] + argv, capture_output=True, text=True)
            self.assertEqual(r.returncode, status, argv)
            for stream, patterns in ((r.stdout, out), (r.stderr, err)):
                for pattern in patterns:
                    self.assertRegex(stream, pattern)
        with open("/dev/full", "w") as full:  # output that cannot be written is a failure
            self.assertEqual(subprocess.run([harness.program("credcheck"), "--help"], stdout=full).returncode, 1)

    def test_bash_completion(self):
        script = os.path.join(harness.SOURCE, "completion", "credcheck.bash")
        for words, wanted, others in COMPLETIONS:
            r = subprocess.run(["bash", "-c", COMPLETE, "bash", script, "credcheck"] + words.split(" "),
                               capture_output=True, text=True)
            how, *got = r.stdout.split("\n")[:-1]
            self.assertEqual((r.returncode, how), (0, "complete -F _credcheck credcheck"), r.stderr)
            got = set(got) - {""}
            self.assertTrue((got >= wanted if others else got == wanted)
                            and all(g.startswith(words.split(" ")[-1]) for g in got), (words, got))


if __name__ == "__main__":
    unittest.main()
