"""credcheck -a: the gates that stop a login whatever the password (a nologin
file, pam_faillock's tally, the shell), the notes, and dates as dates, in
fixture worlds.  Tallies are made by pam_faillock itself through pamtester,
or written as pam_faillock writes them (faillock(8) reads both the same);
every report must leave the tally byte for byte as it was."""

import json
import os
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402
import test_account as account  # noqa: E402

NOW = int(time.time())
TODAY = NOW // 86400
SECRET = account.SECRET
SHADOW = ":%d:0:99999:7:::" % (TODAY - 1)

def user(shadow=SECRET + SHADOW, shell="/bin/sh", home="/", gid=0, field="x"):
    return field, shadow, shell, home, gid


USERS = {name: user() for name in ("root", "alice", "lockme", "oldtally", "spread", "forever", "victim")}
USERS.update(nologinsh=user(shell="/usr/sbin/nologin"), falsesh=user(shell="/bin/false"),
             missingsh=user(shell="/no/such/shell"), notexec=user(shell="/etc/passwd"),
             nohome=user(home="/no/such/home"), filehome=user(home="/etc/passwd"), nogroup=user(gid=4242),
             pwwarn=user("%s:%d:0:90:7:::" % (SECRET, TODAY - 85)),
             acctwarn=user("%s:%d:0:99999:7::%d:" % (SECRET, TODAY - 1, TODAY + 2)),
             old=user("%s:18000:0:90:7::18262:" % SECRET), pwlock=user(None, field=SECRET))


def tally(*ages):
    """A tally file: one valid failure this many seconds ago per age."""
    return b"".join(struct.pack("<52sHHQ", b"login", 0, 1, NOW - age) for age in ages)


TALLIES = {"lockme": tally(30, 20, 10), "oldtally": tally(7230, 7220, 7210),
           "spread": tally(2000, 1000, 10), "root": tally(30, 20, 10), "pwlock": tally(30, 20, 10)}
LOGIN = ("auth required pam_faillock.so preauth\n"
         "auth [success=1 default=bad] pam_unix.so nodelay\n"
         "auth [default=die] pam_faillock.so authfail\n"
         "auth required pam_permit.so\n"
         "account required pam_unix.so\n")


def faillock_conf(folder, extra=""):
    return "dir = %s\ndeny = 3\nfail_interval = 900\nunlock_time = 600\nnodelay\n%s" % (folder, extra)


# (world, user, as uid 65534, verdict, {JSON path: value}, text lines)
ROWS = [
    ("gates", "alice", False, "ok", {"gates": {"nologin": None, "faillock": None,
                                              "shell": {"path": "/bin/sh", "usable": True, "problem": None}}},
     ["Shell:     /bin/sh, starts sessions"]),
    ("gates", "nologinsh", False, "no-shell", {"gates.shell.problem": "refuses sessions"},
     ["Verdict:   no-shell (exit 14): the login shell /usr/sbin/nologin refuses sessions"]),
    ("gates", "falsesh", False, "no-shell", {"gates.shell.usable": False}, []),
    ("gates", "missingsh", False, "no-shell", {"gates.shell.problem": "missing"}, []),
    ("gates", "notexec", False, "no-shell", {"gates.shell.problem": "not executable"}, []),
    ("gates", "nohome", False, "ok", {"notes": ["the home folder is missing: a session would start in /"]}, []),
    ("gates", "filehome", False, "ok", {"notes": ["the home is not a folder: a session would start in /"]}, []),
    ("gates", "nogroup", False, "ok", {"notes": ["the primary group has no entry"]},
     ["Note:      the primary group has no entry"]),
    ("gates", "pwwarn", False, "ok", {"notes": ["the password expires in 5 days"]}, []),
    ("gates", "acctwarn", False, "ok", {"notes": ["the account expires in 2 days"]}, []),
    ("gates", "old", False, "expired", {"account.expire_date": "2020-01-01", "account.last_change_date": "2019-04-14",
                                        "reason": "the account expired on 2020-01-01"},
     ["account expired on 2020-01-01", "password expired on 2019-07-14 (last change 2019-04-14, maximum age 90 days)"]),
    ("gates", "lockme", False, "locked-out",
     {"gates.faillock.failures": 3, "gates.faillock.locked": True, "gates.faillock.deny": 3,
      "gates.faillock.unlock_at": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(NOW - 10 + 600)),
      "gates.faillock.clear_with": "faillock --user lockme --reset"},
     ["locked until %s" % time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime(NOW - 10 + 600)),
      "faillock --user lockme --reset clears it"]),
    ("gates", "oldtally", False, "ok", {"gates.faillock.locked": False, "gates.faillock.failures": 3}, []),
    ("gates", "spread", False, "ok", {"gates.faillock.failures": 1}, ["1 failure counted (deny 3)"]),
    ("gates", "root", False, "ok", {"gates.faillock.locked": False}, []),  # even_deny_root is off
    ("gates", "pwlock", False, "locked-out", {}, []),
    ("gates", "pwlock", True, "ok", {"gates.faillock": {"readable": False, "dir": None, "failures": None,
                                                         "deny": 3, "locked": None, "unlock_at": None}},
     ["cannot be read by this process", "a lock was not ruled out"]),
    ("strict", "lockme", False, "ok", {"gates.faillock.deny": 4}, []),  # the stack's deny=4 wins
    ("strict", "forever", False, "locked-out", {"gates.faillock.unlock_at": None},
     ["locked until reset"]),
    ("nologin", "alice", False, "no-login", {"gates.nologin": {"file": "/run/nologin",
                                                               "message": "Maintenance until 14:00"}},
     ['Verdict:   no-login (exit 12): /run/nologin refuses every user but root: "Maintenance until 14:00"']),
    ("nologin", "root", False, "ok", {"notes": ["a nologin file exists; root may still log in"]}, []),
    ("nologin", "pwlock", True, "no-login", {}, []),
]


class GatesTest(harness.WorldProgramTest):
    PROGRAM = "credcheck"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        passwd = "".join("%s:%s:%d:%d::%s:%s\n" % (n, f, 3000 + i if n != "root" else 0, gid, home, sh)
                         for i, (n, (f, _, sh, home, gid)) in enumerate(USERS.items()))
        shadow = "".join("%s:%s\n" % (n, s) for n, (_, s, _, _, _) in USERS.items() if s is not None)
        common = dict(passwd=passwd, shadow=shadow, group="root:x:0:\n", shells="/bin/sh\n")
        cls.worlds = {}
        for name, pamd, extra in (("gates", {"login": LOGIN}, ""),
                                  ("strict", {"login": LOGIN.replace("preauth", "preauth deny=4")},
                                   "unlock_time = never\n"),
                                  ("nologin", {"login": LOGIN}, "")):
            world = harness.World(pamd=pamd, run={"nologin": "Maintenance until 14:00\nsecond line\n"}
                                  if name == "nologin" else None, **common)
            folder = os.path.join(world.dir, "tally")
            os.mkdir(folder, 0o755)
            for user, data in dict(TALLIES, forever=tally(5030, 5020, 5010, 5000)).items():
                world.write("tally/" + user, data, 0o600)
            world.write("security/faillock.conf", faillock_conf(folder, extra), 0o644)
            cls.worlds[name] = world

    @classmethod
    def tearDownClass(cls):
        for world in cls.worlds.values():
            world.close()

    def tallies(self, world):
        folder = os.path.join(self.worlds[world].dir, "tally")
        return {n: open(os.path.join(folder, n), "rb").read() for n in sorted(os.listdir(folder))}

    def report(self, world, user, args=(), nobody=False, json_mode=True):
        argv = [self.program, "-a", user, *args] + (["--json"] if json_mode else [])
        return self.worlds[world].run(argv, user=harness.NOBODY if nobody else None)

    def test_gates(self):
        for world, user, nobody, verdict, keys, lines in ROWS:
            with self.subTest(world=world, user=user, nobody=nobody):
                before = self.tallies(world)
                r = self.report(world, user, nobody=nobody)
                self.assertEqual((r.status, r.err), (account.CODES[verdict], ""), r)
                got = json.loads(r.stdout)
                self.assertEqual(got["verdict"], verdict)
                for path, value in keys.items():
                    if path == "gates.faillock" and value["dir"] is None:
                        value = dict(value, dir=got["gates"]["faillock"]["dir"])
                    self.assertEqual(account.lookup(got, path), value, path)
                text = self.report(world, user, nobody=nobody, json_mode=False).out
                self.assertTrue(all(c.isprintable() or c == "\n" for c in text), text)
                for line in lines:
                    self.assertIn(line, text)
                self.assertEqual(self.tallies(world), before)

    def test_the_walk_answers_as_the_single_report(self):
        for world, nobody in (("gates", False), ("gates", True), ("nologin", False)):
            with self.subTest(world=world, nobody=nobody):
                run = self.worlds[world].run([self.program, "-a", "--all", "--json"],
                                             user=harness.NOBODY if nobody else None)
                *users, summary = [json.loads(line) for line in run.out.splitlines()]
                self.assertEqual(summary["summary"]["nologin"], users[0]["gates"]["nologin"])
                for user in users:
                    if user["user"] != "victim":  # the other test may be adding to its tally
                        single = json.loads(self.report(world, user["user"], nobody=nobody).stdout)
                        self.assertEqual(dict(user, findings=None), dict(single, findings=None))

    def test_a_tally_made_by_pam_faillock(self):
        world = self.worlds["gates"]
        for _ in range(3):  # three failed logins, counted by pam_faillock itself
            world.run(["pamtester", "login", "victim", "authenticate"], stdin=b"wrong\n")
        before = self.tallies("gates")
        for args in ((), ("secret",), ("wrong",)):
            r = self.report("gates", "victim", args)
            self.assertEqual(json.loads(r.stdout)["gates"]["faillock"]["failures"], 3)
            self.assertEqual(r.status, 11, r)
        self.assertEqual(self.tallies("gates"), before)
        oracle = world.run(["faillock", "--dir", os.path.join(world.dir, "tally"), "--user", "victim"])
        self.assertEqual(oracle.out.count(" V\n"), 3, oracle)  # faillock(8) sees the same three


if __name__ == "__main__":
    unittest.main()
