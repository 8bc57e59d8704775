"""The shadow index of a walk answers each user as the host's lookup does.
For every user of the world, the probe's Getspnam lines (answered from the
index) must equal cred_lookup's direct lookups made outside a walk, and the
table's expectation: duplicate names, a name that the files backend never
matches by lookup, an entry only in a second source (nss_ccsecond.c) and a
shadow file that nobody may read."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

import harness

USERS = ["root", "ann", "+cat", "bob", "dan"]
PASSWD = "".join("%s:x:%d:%d::/:/bin/sh\n" % (u, i, i) for i, u in enumerate(USERS))
SHADOW = "root:!r:1::::::\nann:!a1:1::::::\nann:!a2:1::::::\n+cat:!c:1::::::\n"
SECOND = "ann:!a9:1::::::\ndan:!d:1::::::\n"
NSSWITCH = "passwd: files\ngroup: files\nshadow: files%s\n"


def walk_results(out):
    """User name to (error line, hash or NULL) from the probe's trace."""
    results, user, err = {}, None, ""
    for line in out.splitlines():
        if line.startswith("PwdToCred: pw->u="):
            user, err = line[17:].split(" ")[0], ""
        elif line.startswith("Getspnam: "):
            err = line[10:]
        elif line == "Getspnam returned NULL":
            results[user] = (err, "NULL")
        elif line.startswith("Getspnam's spwptr->sp_pwdp was ["):
            results[user] = (err, line[32:].rsplit("]", 1)[0])
    return results


@unittest.skipUnless(shutil.which("cc"), "needs a C compiler")
class ShadowIndexTest(harness.WorldProgramTest):
    PROGRAM = "cred_lookup"

    def test_index_answers_as_the_host_lookup(self):
        lib = tempfile.mkdtemp(prefix="credcheck-nss-")
        self.addCleanup(shutil.rmtree, lib, True)
        os.chmod(lib, 0o755)
        module = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nss_ccsecond.c")
        subprocess.run(["cc", "-shared", "-fPIC", "-o", os.path.join(lib, "libnss_ccsecond.so.2"),
                        module], check=True)
        cases = [  # second source, user, expected per user of USERS ("-": none)
            ("", None, "!r !a1 - - -"),
            ("", harness.NOBODY, "denied denied denied denied denied"),
            (" ccsecond", None, "!r !a1 - - !d"),
            (" ccsecond", harness.NOBODY, "- !a9 - - !d"),
        ]
        for second, user, expected in cases:
            with self.subTest(second=second, user=user), harness.World(
                    PASSWD, SHADOW, nsswitch=NSSWITCH % second) as world:
                env = {"LD_LIBRARY_PATH": lib,
                       "CCSECOND_SHADOW": world.write("second", SECOND, 0o644)}
                spnam = [w for u in USERS for w in ("spnam", u)]
                direct = world.run([self.program] + spnam, user=user, env=env)
                walk = world.run([self.program, "probe", "0"], user=user, env=env)
                want = [("Permission denied", "NULL") if e == "denied" else ("", "NULL")
                        if e == "-" else ("", e) for e in expected.split()]
                found = re.findall(r"-- spnam\n(?:Getspnam: (.*)\n)?=> (.*) alg=0\n", direct.out)
                self.assertEqual(found, want, direct)
                self.assertEqual(walk_results(walk.out), dict(zip(USERS, want)), walk)


if __name__ == "__main__":
    unittest.main()
