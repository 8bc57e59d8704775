"""The shadow index of a walk answers each user as the host's lookup does:
the probe's Getspnam lines (answered from the index) against the host's own
getspnam (Python's spwd, outside any walk) and against the table, in worlds
with a duplicated name, a name the files backend never matches by lookup, an
entry only in a second source (the test module credtest), one that source
does not enumerate, and a shadow file that nobody may read."""

import os
import re
import unittest

import harness

USERS = ["root", "ann", "+cat", "bob", "dan", "hal"]
PASSWD = "".join("%s:x:%d:%d::/:/bin/sh\n" % (u, i, i) for i, u in enumerate(USERS))
SHADOW = "root:!r:1::::::\nann:!a1:1::::::\nann:!a2:1::::::\n+cat:!c:1::::::\n"
# The host's answer for each name: the hash, "NULL" for none, "EACCES" for a refusal.
DIRECT = ("import spwd, sys\nfor name in sys.argv[1:]:\n    try: print(spwd.getspnam(name).sp_pwdp)\n"
          "    except PermissionError: print('EACCES')\n    except KeyError: print('NULL')\n")
WALK = (r"PwdToCred: pw->u=(\S+) .*\n(?:(?!Getspnam).*\n)*(?:Getspnam: (.*)\n)?"
        r"Getspnam(?: returned (NULL)|'s spwptr->sp_pwdp was \[(.*)\], alg=0)\n")


@unittest.skipUnless(os.path.exists("/usr/bin/python3"), "needs Debian's python3")
class ShadowIndexTest(harness.WorldProgramTest):
    def test_index_answers_as_the_host_lookup(self):
        cases = [  # second source, user, the entry of each user ("-": none, "?": refused)
            ("", None, "!r !a1 - - - -"),
            ("", harness.NOBODY, "? ? ? ? ? ?"),
            (" credtest", None, "!r !a1 - - !d !h"),
            (" credtest", harness.NOBODY, "- !a9 - - !d !h"),
        ]
        for second, user, expected in cases:
            nsswitch = "passwd: files\ngroup: files\nshadow: files%s\n" % second
            with self.subTest(second=second, user=user), harness.World(
                    PASSWD, SHADOW, nsswitch=nsswitch) as world:
                env = dict(harness.LIBS, CREDTEST_SHADOW=world.write(
                    "second", "ann:!a9:1::::::\ndan:!d:1::::::\nhal:!h:1::::::\n"))
                direct = world.run(["/usr/bin/python3", "-W", "ignore", "-c", DIRECT] + USERS, user=user, env=env)
                want = [{"?": "EACCES", "-": "NULL"}.get(e, e) for e in expected.split()]
                self.assertEqual(direct.out.split(), want, direct)
                walk = world.run([self.program, "-g"], user=user, env=env)
                found = {u: "EACCES" if e == "Permission denied" else null + entry
                         for u, e, null, entry in re.findall(WALK, walk.out)}
                self.assertEqual(found, dict(zip(USERS, want)), walk)


if __name__ == "__main__":
    unittest.main()
