"""The fleet playbook as the README shows it: every line of the block under
"Across many hosts", run from a clean copy of the sources with only the tool
built (build/ is ignored by git), against this host through an inventory
with the local connection, where no credcheck is installed.  Each collected
file must be what credcheck -a --all --json says (but for the time), the
default folder must be one that git ignores, and the copy of the tool must
be gone afterwards."""

import datetime
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
MD5_X = "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/"  # openssl passwd -1 -salt abcdefgh x
WORLD = dict(passwd="root:x:0:0::/root:/bin/sh\nalice:x:1000:1000::/:/bin/sh\nbob::1001:1001::/:/bin/sh\n",
             shadow="root:*:19000:0:99999:7:::\nalice:%s:19000:0:99999:7:::\n" % MD5_X, shells="/bin/sh\n")


def readme_block(heading):
    with open(os.path.join(harness.SOURCE, "README.md")) as f:
        text = f.read()
    return re.search(re.escape(heading) + r"\n.*?```sh\n(.*?)```", text, re.S).group(1).splitlines()


def sh(argv, **kw):
    r = subprocess.run(argv, capture_output=True, text=True, **kw)
    if r.returncode != 0:
        raise AssertionError("%s: status %d\n%s%s" % (argv, r.returncode, r.stdout, r.stderr))
    return r.stdout


def clean_copy(dest):
    """The tracked files of the sources as a fresh repository, with build/credcheck."""
    files = sh(["git", "-C", harness.SOURCE, "ls-files", "-z"]).split("\0")[:-1]
    for name in files:
        os.makedirs(os.path.dirname(os.path.join(dest, name)), exist_ok=True)
        shutil.copy2(os.path.join(harness.SOURCE, name), os.path.join(dest, name))
    git = ["git", "-C", dest, "-c", "user.name=t", "-c", "user.email=t@t"]
    sh(git[:3] + ["init", "-q"])
    sh(git + ["add", "-A"])
    sh(git + ["commit", "-q", "-m", "copy"])
    os.mkdir(os.path.join(dest, "build"))
    shutil.copy2(harness.program("credcheck"), os.path.join(dest, "build", "credcheck"))


@unittest.skipUnless(shutil.which("ansible-playbook") and shutil.which("sudo") and shutil.which("git"),
                     "needs ansible-core, sudo and git")
class FleetTest(harness.WorldProgramTest):
    PROGRAM = "credcheck"

    def test_readme_commands(self):
        if shutil.which("credcheck", path=PATH):
            self.skipTest("credcheck is installed on this host")
        tmp = harness.scratch("fleet")
        self.addCleanup(shutil.rmtree, tmp, True)
        clone = os.path.join(tmp, "clone")
        clean_copy(clone)
        with open(os.path.join(clone, "inventory"), "w") as f:
            f.write("localhost ansible_connection=local\n")
        lines = readme_block("#### Across many hosts")
        script = "set -e\nmount -t tmpfs tmpfs /srv\n%s\ncp -r /srv/audit %s/srv-audit\n" % ("\n".join(lines), tmp)
        env = harness.clean_env({"PATH": PATH, "HOME": tmp, "LC_ALL": "C.UTF-8"})
        with harness.World(**WORLD) as world:
            p = subprocess.run(world.wrap(["bash", "-c", script]), cwd=clone, capture_output=True, text=True,
                               env=env, timeout=600)
            self.assertEqual(p.returncode, 0, p.stdout + p.stderr)  # findings fail no task
            direct = [json.loads(line) for line in world.run([self.program, "-a", "--all", "--json"]).out.splitlines()]
        copies = re.findall(r"copied \S+/build/credcheck to (\S+), removed after the audit", p.stdout)
        self.assertEqual(len(copies), len(lines), p.stdout)
        self.assertFalse([c for c in copies if os.path.exists(c)])
        self.assertEqual(sh(["git", "-C", clone, "status", "--porcelain"]), "?? inventory\n")
        summary = direct[-1]["summary"]
        del summary["time"]
        self.assertEqual([summary["host"], summary["version"]],
                         [socket.gethostname(), sh([self.program, "--version"]).split()[1]])
        for collected in ("clone/audit", "srv-audit"):
            with open(os.path.join(tmp, collected, "localhost.jsonl")) as f:
                got = [json.loads(line) for line in f]
            when = datetime.datetime.strptime(got[-1]["summary"].pop("time"), "%Y-%m-%dT%H:%M:%SZ")
            self.assertLess(abs(datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None) - when), datetime.timedelta(minutes=10))
            self.assertEqual(got, direct, collected)

if __name__ == "__main__":
    unittest.main()
