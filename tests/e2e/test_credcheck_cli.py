"""The command line: --help and --version, usage errors and what gets through to
the -a report, each a row of one table; and the bash completion as bash runs it."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

# in the order of the text
HELP = ["-l [USER [PASSWORD [-g METHOD]]]", "-c [ENCRYPTED [GUESS]]", "-g [SECONDS]",
        "-a USER [PASSWORD | -] [--pam SERVICE] [--ssh [ADDRESS]] [--costly] [--json]",
        "-a --all [--json | --prometheus] [--output FILE]",
        "--help", "--version"] + ["\n  %d " % s for s in range(17)]
MD5_X = "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/"  # openssl passwd -1 -salt abcdefgh x
WORLD = dict(passwd="alice:x:1000:1000::/:/bin/sh\n", shadow="alice:%s:19000:0:99999:7:::\n" % MD5_X,
             shells="/bin/sh\n", pamd={"login": "auth required pam_unix.so nodelay\naccount required pam_unix.so\n"})


def usage(what):
    """A usage error: nothing on standard output; on standard error what is wrong, first, then the way to --help."""
    return 2, r"\A\Z", r"\A\S*credcheck: " + re.escape(what) + r"\n[\s\S]*See \"\S*credcheck --help\"\.\n\Z"


# argv, standard input, (status, standard output, standard error): each stream matches its pattern
RUNS = [
    (["--help"], "", (0, r"\AUsage[\s\S]*" + r"[\s\S]*".join(re.escape(h) for h in HELP), r"\A\Z")),
    (["--version"], "", (0, r"\Acredcheck \d+\.\d+\.\d+\n\Z", r"\A\Z")),
    (["--version", "extra"], "", usage('--version takes no arguments: "extra"')),
    (["--helpx"], "", usage('unknown option "--helpx"')),
    (["--json", "-a"], "", usage('unknown option "--json"')),
    (["-a"], "", usage("-a needs a user name")),
    (["-a", "--json"], "", usage("-a needs a user name")),
    (["-a", "alice", "--jsn"], "", usage('unknown option "--jsn"')),
    (["-a", "alice", "x", "-x"], "", usage('unknown option "-x"')),
    (["-a", "alice", b"--e\x1b\xff"], "", usage('unknown option "--e\\x1B\\xFF"')),
    (["-a", "alice", "--json", "x", "--json"], "", usage("--json is given twice")),
    (["-a", "alice", "a", "b"], "", usage('"b": one user name and one password at most')),
    (["-a", "alice", "--pam"], "", usage("--pam needs a service name")),
    (["-a", "alice", "--pam", "--json"], "", usage("--pam needs a service name")),
    (["-a", "alice", "--pam", "login", "--pam", "sshd"], "", usage("--pam is given twice")),
    (["-a", "alice", "--ssh", "1.2.3"], "", usage('--ssh: "1.2.3" is not an IPv4 or IPv6 address')),
    (["-a", "--all", "alice"], "", usage('--all takes no user name or password: "alice"')),
    (["-a", "--all", "--pam", "login"], "", usage("--pam does not go with --all")),
    (["-a", "--all", "--costly"], "", usage("--costly does not go with --all")),
    (["-a", "--all", "--prometheus", "--json"], "", usage("--json and --prometheus exclude each other")),
    (["-a", "alice", "--prometheus"], "", usage("--prometheus goes with --all")),
    (["-a", "alice", "--output", "f"], "", usage("--output goes with --all")),
    (["-a", "--all", "--output"], "", usage("--output needs a file name")),
    (["-a", "--all", "--output", "a", "--output", "b"], "", usage("--output is given twice")),
    # what the command line lets through reaches the report
    (["-a", "--json", "alice", "x"], "", (0, r'\A\{.*"verdict":"ok"', r"\A\Z")),
    (["-a", "alice", "--", "--"], "", (9, r"Verdict: +wrong-password", r"\A\Z")),
    (["-a", "alice", "-", "--json"], "x\n", (0, r'"verdict":"ok"', r"\A\Z")),
    (["-a", "--", "--json"], "", (3, r"Verdict: +no-such-user", r"\A\Z")),
    # (the world has no sshd_config: sshd's rules are unchecked)
    (["-a", "alice", "--ssh", "--json"], "", (16, r'"ssh":\{"address":"127\.0\.0\.1"', r"\A\Z")),
    (["-a", "alice", "--ssh", "::1", "--json"], "", (16, r'"ssh":\{"address":"::1"', r"\A\Z")),
    (["-a", "alice", "x", "--ssh", "192.0.2.1", "--pam", "login", "--json"], "",
     (16, r'"service":"login".*"verdict":"unchecked"', r"\A\Z")),
    (["-a", "--json", "--all"], "", (1, r'\{"summary":\{.*"host":.*"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ".*'
                                        r'"version":"\d+\.\d+\.\d+"', r"\A\Z")),
]
# the words after "credcheck" (the last is being completed), the completions
# wanted, and whether others (more user names) may come too
PAM = set(os.listdir("/etc/pam.d")) if os.path.isdir("/etc/pam.d") else set()
COMPLETIONS = [("", {"-l", "-c", "-g", "-a", "--help", "--version"}, False), ("--", {"--help", "--version"}, False),
               ("-l ro", {"root"}, True), ("-l root pw ", {"-g"}, False), ("-l root pw -g ", {"1", "2"}, False),
               ("-c ", set(), False), ("-a --a", {"--all"}, False), ("-a ro", {"root"}, True),
               ("-a --all ", {"--json", "--prometheus", "--output", "--policy"}, False),
               ("-a root - ", {"--pam", "--ssh", "--costly", "--json", "--policy"}, False),
               ("-a root --json ", {"--pam", "--ssh", "--costly", "--policy"}, False), ("-a root --pam ", PAM, False),
               ("-a root --policy s", {"stig"}, True)]
COMPLETE = r"""source "$1"; shift
how=$(complete -p credcheck) && echo "$how" && fn=${how#*-F } && fn=${fn%% *} || exit 9
COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
"$fn" credcheck "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
"""


class CommandLineTest(unittest.TestCase):
    def test_command_lines(self):
        if not harness.can_use_namespaces():
            self.skipTest("the rows that reach the report run in a fixture world")
        with harness.World(**WORLD) as world:
            for argv, stdin, (status, out, err) in RUNS:
                with self.subTest(argv=argv):
                    r = world.run([harness.program("credcheck")] + argv, stdin=stdin.encode(), env=harness.LIBS)
                    self.assertEqual(r.status, status, r)
                    self.assertRegex(r.out, out)
                    self.assertRegex(r.err, err)
            # a report that cannot be written: a message and status 2, however the output fails
            full = "exec >/dev/full; "
            wrote = r"\Acredcheck: the report could not be written to standard output(: .*)?\n2\n\Z"
            for how, argv in ((full, "-a alice --json"), (full, "-a alice x"), (full, "-a --all"),
                              ("exec >&-; ", "-a alice")):
                with self.subTest(how=how, argv=argv):
                    r = world.run(["bash", "-c", how + "%s %s; echo $? >&2" % (harness.program("credcheck"), argv)],
                                  env=harness.LIBS)
                    self.assertRegex(r.err, wrote)
            read, closed = os.pipe()  # a reader that is gone, with SIGPIPE ignored
            os.close(read)
            p = subprocess.run(world.wrap(["bash", "-c", "trap '' PIPE; %s -a --all; echo $? >&2"
                                           % harness.program("credcheck")]),
                               stdout=closed, stderr=subprocess.PIPE, env=harness.clean_env(harness.LIBS))
            os.close(closed)
            self.assertRegex(p.stderr.decode(), wrote)
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
