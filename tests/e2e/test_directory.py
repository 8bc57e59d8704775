"""credcheck -a for the users of a directory: a throwaway slapd and SSSD with
its LDAP provider (directory.py), with pam_unix and pam_sss in the stacks
Debian writes.  Rows run as root and as uid 65534, and every PAM answer is
compared with pamtester's in the same world.  Some entries hold hostile
fields (control characters, values of several KB): no crash, printable
text, JSON that parses."""

import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import directory  # noqa: E402
import harness  # noqa: E402

BAD = "\x01\x1b[31m\x07\x7f\t\r\n"  # what a terminal must never get raw
HOSTILE_NAME = "ev\x1b[2Jil" + "n" * 3000
USERS = {
    "alice": {"uidNumber": 5001, "userPassword": "secret"},
    "old": {"uidNumber": 5002, "userPassword": "secret", "shadowExpire": 1},  # expired in 1970
    "outsider": {"uidNumber": 5003, "gidNumber": 5001, "userPassword": "secret"},  # not in the filter
    "nopw": {"uidNumber": 5004},
    "evil": {"uidNumber": 5005, "userPassword": "secret", "gecos": BAD + "G" * 5000,
             "homeDirectory": "/h" + BAD + "h" * 5000, "loginShell": "/bin/sh" + BAD + "s" * 5000},
    HOSTILE_NAME: {"uidNumber": 5006, "gecos": BAD},
}
# (user, arguments after the user, verdict, also as uid 65534)
ROWS = [
    ("alice", ["secret"], "ok", True),
    ("alice", ["wrong"], "wrong-password", True),
    ("old", ["secret"], "expired", True),
    ("outsider", ["secret"], "access-denied", True),
    ("ghost", ["secret", "--pam", "login"], "no-such-user", False),
    ("nopw", [], "ok", True),
    ("evil", [], "no-shell", True),
    ("evil", ["secret"], "no-shell", True),
]


class DirectoryTest(harness.WorldProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        directory.skip_unless_possible()
        cls.world = directory.Directory(USERS, {"dirusers": 5000, "others": 5001})
        cls.addClassCleanup(cls.world.close)

    def test_login(self):
        for user, args, verdict, nobody_too in ROWS:
            for as_user in (None, harness.NOBODY)[:2 if nobody_too else 1]:
                with self.subTest(user=user[:8], args=args[:1], as_user=as_user):
                    keys = {"source.passwd": "sss", "hash.from": "directory", "account.locked": False,
                            "hash.unreadable": None, "password.checked_by": "pam_sss.so" if args else None}
                    report = self.report(self.world, [user] + args, verdict, keys if user in USERS else {},
                                         user=as_user)
                    self.assertEqual("pam" in report, bool(args))
                    if args:
                        self.assert_pamtester_agrees(self.world, report["pam"], user, args[0].encode() + b"\n",
                                                     as_user)
                    self.assertNotIn("the local entry does not decide", " ".join(report["notes"]))
                    text = self.text(self.world, [user] + args, user=as_user)
                    self.assertEqual("a local shadow entry was not ruled out" in text,
                                     as_user is not None and user in USERS, text)

    def test_walk(self):
        r, users, summary = self.walk(self.world)
        self.assertEqual(([u["user"] for u in users], r.err), (["root", "nobody"], ""))
        self.assertIn("sss", summary.get("not_listed") or "")

        self.addCleanup(self.world.restart_sssd, False)
        self.world.restart_sssd(True)
        for as_user in (None, harness.NOBODY):
            with self.subTest(as_user=as_user):
                self.text(self.world, ["--all"], user=as_user)
                # the hostile name is cut to 255 characters in the report, which finds no one
                r, users, summary = self.walk(self.world, as_user, skip={HOSTILE_NAME[:255]})
                self.assertEqual(r.err, "")
                self.assertNotIn("sss", summary.get("not_listed") or "")
                users = {u["user"][:8]: u for u in users}
                for name in USERS:
                    self.assertEqual((users[name[:8]]["source"]["passwd"], users[name[:8]]["hash"]["from"]),
                                     ("sss", "directory"), name[:8])
                    self.assertNotIn(users[name[:8]]["verdict"], ("locked", "unreadable"), name[:8])


OFFLINE_NOTE = "SSSD is offline: its cached credential let the user in"
# Offline worlds: alice logged in before, bob was looked up only, dave never; then slapd stops,
# and, for the rows after None, sssd too.  (user, password, verdict, what the reason or the notes
# hold, the JSON's sssd.cached_credentials); each PAM run as pamtester's.
OFFLINE_ROWS = {
    True: [("alice", "secret", "ok", OFFLINE_NOTE, True),
           ("alice", "wrong", "wrong-password", "pam_sss.so", True),
           ("bob", "secret", "offline", "and bob has no cached credential", False),
           ("dave", None, "offline", "its users cannot be looked up", False),
           None,
           ("alice", "secret", "offline", "sssd is not running", None),
           ("ghost", None, "offline", "sssd is not running: its users cannot be looked up", None)],
    False: [("alice", "secret", "offline", "and it caches no credentials", False)],
}


class OfflineTest(harness.WorldProgramTest):
    def test_offline(self):
        directory.skip_unless_possible()
        users = {name: {"uidNumber": 5001 + i, "userPassword": "secret"} for i, name in
                 enumerate(("alice", "bob", "dave"))}
        for cache, rows in OFFLINE_ROWS.items():
            world = directory.Directory(users, {"dirusers": 5000}, cache_credentials=cache, ifp=True)
            self.addCleanup(world.close)
            self.assertEqual(world.run(["pamtester", "login", "alice", "authenticate", "acct_mgmt"],
                                       stdin=b"secret\n").status, 0)
            world.run(["getent", "passwd", "bob"])
            world.stop(world.slapd)
            world.run(["getent", "passwd", "dave"])  # the failed lookup takes the domain offline
            self.assertIn("Online status: Offline", world.run(["sssctl", "domain-status", "test"]).out)
            for row in rows:
                if row is None:  # another user is told what SSSD tells only root
                    report = self.report(world, ["alice"], "ok", {"sssd.running": True, "sssd.online": None},
                                         user=harness.NOBODY)
                    self.assertIn("only to root", report["sssd"]["unknown"])
                    world.stop(world.sssd)
                    self.assertIn("SSSD needs to be running", world.run(["sssctl", "domain-status", "test"]).out)
                    continue
                user, password, verdict, said, cached = row
                with self.subTest(cache=cache, user=user, password=password, verdict=verdict):
                    report = self.report(world, [user] + ([password] if password else []), verdict,
                                         {"sssd.cached_credentials": cached})
                    self.assertIn(said, " ".join([report["reason"]] + report["notes"]))
                    if password and user != "ghost":
                        self.assert_pamtester_agrees(world, report["pam"], user, password.encode() + b"\n")

    def test_walk_offline(self):
        # an enumerating SSSD whose directory went away: its users are offline, a finding
        directory.skip_unless_possible()
        world = directory.Directory({"alice": {"uidNumber": 5001}}, {"dirusers": 5000}, cache_credentials=True,
                                   ifp=True)
        self.addCleanup(world.close)
        world.restart_sssd(True)
        world.stop(world.slapd)
        world.run(["getent", "passwd", "ghost"])  # the failed lookup takes the domain offline
        r = world.run([self.program, "-a", "--all", "--json"])
        *users, summary = [json.loads(line) for line in r.out.splitlines()]
        self.assertEqual([(u["user"], u["verdict"], u["findings"]) for u in users if u["user"] == "alice"],
                         [("alice", "offline", ["offline"])])
        self.assertEqual((r.status, summary["summary"]["offline"]), (1, ["alice"]))


if __name__ == "__main__":
    unittest.main()
