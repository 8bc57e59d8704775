"""credcheck -a --all: the whole-host audit in fixture worlds, as root and
as uid 65534.  Every user's object in the JSON Lines must be what
"credcheck -a USER --json" says of that user (the walk's index and
enumerations against direct lookups), and the text lines and the summary
must say the same.  The world is the account report's (every verdict, every
method of the host's crypt) plus duplicated names, entries only in a second
source and hashes that are weak by the host's policy."""

import collections
import json
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402
import test_account as account  # noqa: E402

DES = harness.mkpasswd("-m", "descrypt", "pw")
EXTRA_PASSWD = ("dup:x:5000:5000::/:/bin/sh\ndup::5001:5001::/:/bin/sh\n"
                "split:x:3000:3000::/:/bin/sh\nnopw::5002:5002::/:/bin/sh\n")
EXTRA_SHADOW = "dup:%s:1::::::\ndup::1::::::\nlockdes:!%s:1::::::\n" % (account.SECRET, DES)
USERS = dict(account.USERS, lockdes=("x", None, "/bin/sh"))
CLEAN = "root:x:0:0::/:/bin/sh\n", "root:%s:1::::::\n" % account.SECRET
# Lines the files backend lists but no lookup by name finds, and an empty name.
COMPAT = ["+", "-bob", "+alice", "+@staff"]
COMPAT_PASSWD = "".join("%s::::::\n" % n for n in COMPAT) + ":x:7:7::/:/bin/sh\n"
# alice's group, and inpw's gid only on a line that no lookup by gid matches.
GROUP = "root:x:0:\n+:::\nalice:x:2000:\n-inpw:x:2001:\n"
# (world, as uid 65534, exit status, {summary list: users that must be in it}, verdicts)
ROWS = [
    ("full", False, 1, {"weak-hash": ["des"], "locked-weak-hash": ["lockdes"],
                        "empty-password": ["empty", "nopw"], "unreadable": ["noshadow", "junk"]},
     {"ok", "unreadable", "locked", "empty-password", "invalid-hash", "expired", "no-shell"}),
    ("full", True, 1, {"unreadable": ["alice", "dup", "lockdes"], "empty-password": ["nopw"]},
     {"ok", "unreadable", "empty-password"}),
    ("clean", False, 0, {}, {"ok"}),
    ("clean", True, 1, {"unreadable": ["root"]}, {"unreadable"}),
    ("none", False, 1, {}, set()),  # no user seen is no clean host
    ("compat", False, 0, {}, {"ok"}),
]
FINDINGS = ["weak-hash", "locked-weak-hash", "empty-password", "unreadable"]
LINE = re.compile(r"(\S+) +(\S+) +(\S+) +(\S+)(?: \((\w+)\))?(?:  \[(\S+)\])?$")


class AuditTest(harness.WorldProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        passwd, shadow = account.world_files(USERS)
        cls.worlds = {
            "full": cls.make_world(passwd=passwd + EXTRA_PASSWD, shadow=shadow + EXTRA_SHADOW,
                                   group=GROUP, nsswitch=harness.CREDTEST_NSSWITCH, shells="/bin/sh\n"),
            "clean": cls.make_world(passwd=CLEAN[0], shadow=CLEAN[1]),
            "compat": cls.make_world(passwd=CLEAN[0] + COMPAT_PASSWD, shadow=CLEAN[1]),
            "none": cls.make_world(),
        }

    def test_audit(self):
        for world, nobody, status, named, verdicts in ROWS:
            with self.subTest(world=world, nobody=nobody):
                user_id = harness.NOBODY if nobody else None
                r, users, summary = self.walk(self.worlds[world], user_id, harness.LIBS)
                self.assertEqual((r.status, "no user found" in r.err), (status, not users), r)
                names = [u["user"] for u in users]
                self.assertEqual(len(names), len(set(names)))  # each name once
                self.assertEqual(set(verdicts), set(u["verdict"] for u in users))
                self.assertEqual(summary["verdicts"], collections.Counter(u["verdict"] for u in users))
                for finding, members in named.items():
                    self.assertLessEqual(set(members), set(summary[finding]), finding)
                for finding in FINDINGS:
                    self.assertEqual(summary[finding], [u["user"] for u in users if finding in u["findings"]])
                if world == "compat":  # the walk's users are the ones getent finds
                    found = self.worlds[world].run(["sh", "-c", 'for n; do getent passwd "$n"; done', "sh", *COMPAT])
                    self.assertEqual((names, found.out), (["root"], ""))
                if world == "full":
                    self.assertLessEqual({"netuser", "split", "dup"}, set(names))
                    if not nobody:  # every method the host's crypt makes
                        self.assertLessEqual({m for _, m, _ in account.METHODS}, set(summary["methods"]))
                text = self.worlds[world].run([self.program, "-a", "--all"], user=user_id, env=harness.LIBS)
                self.assertEqual(text.status, status)
                self.assertNotIn(account.SECRET, text.out + r.out)
                lines = text.out.splitlines()
                for user, line in zip(users, lines):
                    got = LINE.match(line).groups()
                    source = "/".join(s for s in (user["source"]["passwd"], user["source"]["shadow"]) if s)
                    hash_ = user["hash"]
                    self.assertEqual(got, (user["user"], source, user["verdict"], hash_["method"] or "-",
                                           hash_["strength"], ",".join(user["findings"]) or None))
                self.assertEqual(lines[len(users) + 1], "Summary: %d users, %d with a finding" % (
                    summary["users"], summary["flagged"]))

    def test_crypt_runs_once_per_method_that_needs_a_trial(self):
        # only bigcrypt, which the host's crypt lacks, needs a trial
        r, calls = account.counting_crypt(self)(self.worlds["full"], [self.program, "-a", "--all", "--json"])
        self.assertEqual((r.status, calls), (1, 1), r)

    def test_each_file_read_once_per_walk(self):
        # every user with a private primary group, as Debian makes them, and no shadow entry
        opens = []
        for n in (10, 200):
            passwd = "".join("u%d:x:%d:%d::/home/u%d:/bin/sh\n" % (i, 1000 + i, 1000 + i, i) for i in range(n))
            group = "".join("u%d:x:%d:\n" % (i, 1000 + i) for i in range(0, n, 2))
            with harness.World(passwd=passwd, group=group, shadow="root:*:1::::::\n") as world:
                r = world.run(["strace", "-f", "-qq", "-e", "trace=open,openat", self.program, "-a", "--all", "--json"])
                users = [json.loads(line) for line in r.out.splitlines()][:-1]
                self.assertEqual([u["user"] for u in users if "the primary group has no entry" in u["notes"]],
                                 ["u%d" % i for i in range(1, n, 2)])
                opens.append([r.err.count('"/etc/%s"' % f) for f in ("group", "shadow")])
        self.assertEqual(opens, [opens[0]] * 2)
        self.assertLessEqual(max(opens[0]), 3)


if __name__ == "__main__":
    unittest.main()
