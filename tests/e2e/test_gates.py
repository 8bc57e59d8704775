"""credcheck -a: the gates that stop a login whatever the password (a nologin
file, pam_faillock's tally, the shell), the notes, and dates as dates, in
fixture worlds.  Tallies are made by pam_faillock itself through pamtester,
or written as pam_faillock writes them (faillock(8) reads both the same);
every report must leave the tally byte for byte as it was."""

import os
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

NOW, tally = harness.NOW, harness.tally
TODAY = NOW // 86400
SECRET = harness.mkpasswd("-m", "sha512crypt", "secret")
SHADOW = ":%d:0:99999:7:::" % (TODAY - 1)


def user(shadow=SECRET + SHADOW, shell="/bin/sh", home="/", gid=0, field="x"):
    return field, shadow, shell, home, gid


USERS = {name: user() for name in ("root", "alice", "lockme", "oldtally", "spread", "forever", "victim")}
USERS.update(falsesh=user(shell="/bin/false"), missingsh=user(shell="/no/such/shell"),
             notexec=user(shell="/etc/passwd"), nohome=user(home="/no/such/home"),
             filehome=user(home="/etc/passwd"), nogroup=user(gid=4242),
             pwwarn=user("%s:%d:0:90:7:::" % (SECRET, TODAY - 85)),
             acctwarn=user("%s:%d:0:99999:7::%d:" % (SECRET, TODAY - 1, TODAY + 2)),
             old=user("%s:18000:0:90:7::18262:" % SECRET), pwlock=user(None, field=SECRET))
TALLIES = {"lockme": tally(30, 20, 10), "oldtally": tally(7230, 7220, 7210), "spread": tally(2000, 1000, 10),
           "root": tally(30, 20, 10), "pwlock": tally(30, 20, 10), "forever": tally(5030, 5020, 5010, 5000)}
LOGIN = harness.FAILLOCK_STACK % "pam_unix.so nodelay"
FAILLOCK_CONF = "dir = %s\ndeny = 3\nfail_interval = 900\nunlock_time = 600\nnodelay\n"
UNLOCK = time.gmtime(NOW - 10 + 600)
# Files no report may block on, or read or copy without end (made at %s), and why a PAM run refuses
# one; an include tree (three per file, fifteen deep) is cut at the files.
HOSTILE = {"fifo": ("mkfifo %s", "is not a regular file"), "zero": ("ln -s /dev/zero %s", "is not a regular file"),
           "folder": ("mkdir %s", "is not a regular file"), "sparse": ("truncate -s 50G %s", "is larger than 1 MiB"),
           "explode": ("ln -s /etc/pam.d/f0 %s", None)}
EXPLODE = dict({"f%d" % i: "auth include f%d\n" % (i + 1) * 3 for i in range(14)}, f14="")
# Where one goes: (path, the verdict, what the PAM run's not-run text says of it)
PLACES = [("/run/faillock/alice", "ok", "the pam_faillock tally /run/faillock/alice %s"),
          ("/run/conf", "ok", "pam_faillock.so reads /run/conf, which %s"),
          ("/run/nologin", "no-login", "pam_nologin.so reads /var/run/nologin, which %s"),
          ("/run/stack", "ok", "the stack's /run/stack %s")]
PAM_RUN = ["alice", "secret", "--pam", "login"]
# A module that says it runs (a file at its argument), then waits for a signal.
WAIT_MODULE = """#include <fcntl.h>\n#include <security/pam_modules.h>\n#include <unistd.h>
int pam_sm_authenticate(pam_handle_t *h, int f, int c, const char **v) { close(creat(v[0], 0600)); for (;;) pause(); }
int pam_sm_setcred(pam_handle_t *h, int f, int c, const char **v) { return PAM_SUCCESS; }"""

# (world, user, as uid 65534, verdict, {JSON path: value}, text lines)
ROWS = [
    ("gates", "alice", False, "ok", {"gates": {"nologin": None, "faillock": None,
                                              "shell": {"path": "/bin/sh", "usable": True, "problem": None}}}, []),
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
      "gates.faillock.unlock_at": time.strftime("%Y-%m-%dT%H:%M:%SZ", UNLOCK),
      "gates.faillock.clear_with": "faillock --user lockme --reset"},
     ["locked until %s" % time.strftime("%Y-%m-%d %H:%M UTC", UNLOCK), "faillock --user lockme --reset clears it"]),
    ("gates", "oldtally", False, "ok", {"gates.faillock.locked": False, "gates.faillock.failures": 3}, []),
    ("gates", "spread", False, "ok", {"gates.faillock.failures": 1}, ["1 failure counted (deny 3)"]),
    ("gates", "root", False, "ok", {"gates.faillock.locked": False}, []),  # even_deny_root is off
    ("gates", "pwlock", False, "locked-out", {}, []),
    ("gates", "pwlock", True, "ok", {"gates.faillock": {"readable": False, "dir": harness.ANY, "failures": None,
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
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        passwd = "".join("%s:%s:%d:%d::%s:%s\n" % (n, f, 3000 + i if n != "root" else 0, gid, home, sh)
                         for i, (n, (f, _, sh, home, gid)) in enumerate(USERS.items()))
        shadow = "".join("%s:%s\n" % (n, s) for n, (_, s, _, _, _) in USERS.items() if s is not None)
        cls.worlds = {}
        for name, login, extra in (("gates", LOGIN, ""), ("nologin", LOGIN, ""),
                                   ("strict", LOGIN.replace("preauth", "preauth deny=4"), "unlock_time = never\n")):
            world = cls.make_world(passwd=passwd, shadow=shadow, group="root:x:0:\n", shells="/bin/sh\n",
                                   pamd={"login": login}, run={"nologin": "Maintenance until 14:00\nsecond line\n"}
                                   if name == "nologin" else None)
            for user, data in TALLIES.items():
                world.write("tally/" + user, data, 0o600)
            world.write("security/faillock.conf", FAILLOCK_CONF % os.path.join(world.dir, "tally") + extra)
            cls.worlds[name] = world

    def hostile_world(self, pamd):
        return self.make_world(passwd="alice:x:3000:0::/:/bin/sh\n", shadow="alice:%s\n" % (SECRET + SHADOW),
                               group="root:x:0:\n", shells="/bin/sh\n", pamd=pamd)

    def test_special_and_huge_files_end_the_report(self):
        login = "auth required pam_nologin.so\n@include /run/stack\n" + LOGIN.replace(
            "faillock.so", "faillock.so dir=/run/faillock conf=/run/conf")
        world = self.hostile_world(dict(EXPLODE, login=login))
        for kind, (make, why) in HOSTILE.items():
            for where, verdict, cut in PLACES if why else PLACES[-1:]:
                with self.subTest(kind=kind, where=where):
                    world.prepare = ["mkdir /run/faillock", make % where,
                                     "for f in /run/stack /run/conf; do [ -e $f ] || : >$f; done"]
                    plain = self.report(world, ["alice"], verdict)
                    self.assertIn(world.run([self.program, "-a", "--all"]).status, (0, 1))
                    self.report(world, PAM_RUN, "unchecked" if verdict == "ok" else verdict, {"pam.authenticate.text":
                                "not run: " + (cut % why if why else "the stack includes more than 256 files")})
                    if "alice" in where:
                        self.assertEqual(plain["gates"]["faillock"]["readable"], kind == "sparse")

    def test_a_signal_removes_the_private_folder(self):
        tmp, module = harness.build_preload(WAIT_MODULE, "pam_wait")  # also the run's TMPDIR
        self.addCleanup(harness.shutil.rmtree, tmp)
        entered = tmp + "/entered"
        world = self.hostile_world({"login": "auth required %s %s\n" % (module, entered)})
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE, signal.SIGALRM, signal.SIGUSR1):
            with self.subTest(signal=sig):
                run = harness.subprocess.Popen(world.wrap([self.program, "-a", *PAM_RUN]),
                                               stdout=harness.subprocess.DEVNULL, env=harness.clean_env({"TMPDIR": tmp}))
                self.addCleanup(run.kill)
                deadline = time.time() + harness.TIMEOUT
                while not os.path.exists(entered) and run.poll() is None and time.time() < deadline:
                    time.sleep(0.05)
                private = [os.path.join(d, f) for d, _, files in os.walk(tmp) for f in files]
                self.assertTrue(any("/pam.d/" in f for f in private), private)
                self.assertFalse([f for f in private if b"secret" in harness.pathlib.Path(f).read_bytes()])
                run.send_signal(sig)
                self.assertEqual(run.wait(harness.TIMEOUT), -sig)
                os.unlink(entered)
                self.assertEqual(os.listdir(tmp), ["pam_wait.so"])

    def tallies(self, world):
        return harness.tallies(os.path.join(self.worlds[world].dir, "tally"))

    def test_gates(self):
        for world, user, nobody, verdict, keys, lines in ROWS:
            with self.subTest(world=world, user=user, nobody=nobody):
                before = self.tallies(world)
                user_id = harness.NOBODY if nobody else None
                self.report(self.worlds[world], [user], verdict, keys, user=user_id)
                self.text(self.worlds[world], [user], lines, user=user_id)
                self.assertEqual(self.tallies(world), before)

    def test_the_walk_answers_as_the_single_report(self):
        for world, nobody in (("gates", False), ("gates", True), ("nologin", False)):
            with self.subTest(world=world, nobody=nobody):
                # the other test may be adding to victim's tally
                _, users, summary = self.walk(self.worlds[world], harness.NOBODY if nobody else None, skip={"victim"})
                self.assertEqual(summary["nologin"], users[0]["gates"]["nologin"])

    def test_a_tally_made_by_pam_faillock(self):
        for _ in range(3):  # three failed logins, counted by pam_faillock itself
            self.worlds["gates"].run(["pamtester", "login", "victim", "authenticate"], stdin=b"wrong\n")
        before = self.tallies("gates")
        self.assertEqual(before["victim"][1].count(b" V\n"), 3)  # faillock(8) sees the three
        for args in ((), ("secret",), ("wrong",)):
            self.report(self.worlds["gates"], ["victim", *args], "locked-out", {"gates.faillock.failures": 3})
        self.assertEqual(self.tallies("gates"), before)


if __name__ == "__main__":
    unittest.main()
