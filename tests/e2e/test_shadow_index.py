"""The shadow index of a walk answers each user as the host's lookup does:
the probe's Getspnam lines (from the index) against direct lookups made
outside a walk, and against the table, in worlds with a duplicated name, a
name the files backend never matches by lookup, an entry only in a second
source (nss_ccsecond.c), one that source does not enumerate, and a shadow
file that nobody may read."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

import harness

USERS = ["root", "ann", "+cat", "bob", "dan", "hal"]
PASSWD = "".join("%s:x:%d:%d::/:/bin/sh\n" % (u, i, i) for i, u in enumerate(USERS))
SHADOW = "root:!r:1::::::\nann:!a1:1::::::\nann:!a2:1::::::\n+cat:!c:1::::::\n"
DIRECT = r"-- spnam\n(?:Getspnam: (.*)\n)?=> (.*) alg=0\n"
WALK = (r"PwdToCred: pw->u=(\S+) .*\n(?:(?!Getspnam).*\n)*(?:Getspnam: (.*)\n)?"
        r"Getspnam(?: returned (NULL)|'s spwptr->sp_pwdp was \[(.*)\], alg=0)\n")


@unittest.skipUnless(shutil.which("cc"), "needs a C compiler")
class ShadowIndexTest(harness.WorldProgramTest):
    PROGRAM = "cred_lookup"

    def test_index_answers_as_the_host_lookup(self):
        lib = tempfile.mkdtemp(prefix="credcheck-nss-")
        self.addCleanup(shutil.rmtree, lib, True)
        os.chmod(lib, 0o755)
        subprocess.run(["cc", "-shared", "-fPIC", "-o", lib + "/libnss_ccsecond.so.2",
                        os.path.join(os.path.dirname(__file__), "nss_ccsecond.c")], check=True)
        cases = [  # second source, user, the entry of each user ("-": none, "?": an error)
            ("", None, "!r !a1 - - - -"),
            ("", harness.NOBODY, "? ? ? ? ? ?"),
            (" ccsecond", None, "!r !a1 - - !d !h"),
            (" ccsecond", harness.NOBODY, "- !a9 - - !d !h"),
        ]
        for second, user, expected in cases:
            nsswitch = "passwd: files\ngroup: files\nshadow: files%s\n" % second
            with self.subTest(second=second, user=user), harness.World(
                    PASSWD, SHADOW, nsswitch=nsswitch) as world:
                env = {"LD_LIBRARY_PATH": lib, "CCSECOND_SHADOW": world.write(
                    "second", "ann:!a9:1::::::\ndan:!d:1::::::\nhal:!h:1::::::\n", 0o644)}
                spnam = [w for u in USERS for w in ("spnam", u)]
                direct = world.run([self.program] + spnam, user=user, env=env)
                walk = world.run([self.program, "probe", "0"], user=user, env=env)
                want = [{"?": ("Permission denied", "NULL"), "-": ("", "NULL")}.get(e, ("", e))
                        for e in expected.split()]
                self.assertEqual(re.findall(DIRECT, direct.out), want, direct)
                found = {u: (e, null + entry) for u, e, null, entry in re.findall(WALK, walk.out)}
                self.assertEqual(found, dict(zip(USERS, want)), walk)


if __name__ == "__main__":
    unittest.main()
