"""credcheck -a --policy: the host's own policy read from worlds with their own pam.d,
login.defs and default/useradd; hashes made by libxcrypt's crypt_gensalt and by mkpasswd at
costs below, at and above a rule; aging looser and stricter than each rule; policy files with
every rule and with bad lines; cis and stig as a prefix install has them."""

import ctypes
import json
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

CRYPT = ctypes.CDLL("libcrypt.so.1")
CRYPT.crypt_gensalt.restype = CRYPT.crypt.restype = ctypes.c_char_p


def gensalt(prefix, cost):
    return CRYPT.crypt(b"pw", CRYPT.crypt_gensalt(prefix.encode(), cost, None, 0)).decode()


def sha(method, rounds=None):
    return harness.mkpasswd("-m", method, *(["-R", str(rounds)] if rounds else []), "pw")


EVERY_RULE = ("# every rule\nmethods yescrypt sha512crypt bcrypt gost-yescrypt  # allowed\n"
              "sha512crypt.rounds.min 100000\nsha256crypt.rounds.min 10000\nyescrypt.cost.min 5\n"
              "gost-yescrypt.cost.min 5\nbcrypt.cost.min 5\n"
              "max_days.max 60\nmin_days.min 1\nwarn_days.min 7\ninactive.max 35\n")
STRICT, LOOSE = "1:60:7:35", "0:99999:3:"  # min:max:warn:inactive of the shadow entry
# (user, hash, aging, gaps against EVERY_RULE)
USERS = [
    ("sha-below", sha("sha512crypt", 99999), STRICT, ["sha512crypt.rounds.min"]),
    ("sha-at", sha("sha512crypt", 100000), STRICT, []),
    ("sha-default", sha("sha512crypt"), "2:30:14:10", ["sha512crypt.rounds.min"]),  # 5000, stricter aging
    ("sha256", sha("sha256crypt"), STRICT, ["methods", "sha256crypt.rounds.min"]),
    ("y-below", gensalt("$y$", 4), STRICT, ["yescrypt.cost.min"]),
    ("y-at", gensalt("$y$", 5), STRICT, []),
    ("y-above", gensalt("$y$", 7), STRICT, []),
    ("gy-below", gensalt("$gy$", 3), STRICT, ["gost-yescrypt.cost.min"]),
    ("bc-below", gensalt("$2b$", 4), STRICT, ["bcrypt.cost.min"]),
    ("bc-above", harness.mkpasswd("-m", "bcrypt", "-R", "6", "pw"), STRICT, []),
    ("loose", gensalt("$y$", 5), LOOSE, ["max_days.max", "min_days.min", "warn_days.min", "inactive.max"]),
    ("locked", "!" + gensalt("$y$", 4), LOOSE, ["yescrypt.cost.min"]),  # not judged on aging
    ("md5", harness.mkpasswd("-m", "md5crypt", "pw"), STRICT, ["methods"]),
    ("nohash", "*", STRICT, None),
]
# Host policies: (pam.d, login.defs, useradd, {rule: (value, from)}, notes)
PASSWD = "password required pam_unix.so %s\n"
HOSTS = [
    ({"passwd": PASSWD % "sha512 rounds=200000"}, "", "",
     {"methods": ("sha512crypt", "pam.d/passwd:1"), "sha512crypt.rounds.min": ("200000", "pam.d/passwd:1")}, 0),
    ({"passwd": "# c\n@include common-password\n", "common-password":
      "# c\npassword [success=1 default=ignore] pam_unix.so obscure yescrypt\npassword requisite pam_deny.so\n"},
     "ENCRYPT_METHOD SHA512\n", "", {"methods": ("yescrypt", "pam.d/common-password:2"),
                                     "yescrypt.cost.min": ("5", "pam.d/common-password:2")}, 1),
    ({"passwd": "password include common\n", "common": PASSWD % "yescrypt rounds=7"}, "", "",
     {"methods": ("yescrypt", "pam.d/common:1"), "yescrypt.cost.min": ("7", "pam.d/common:1")}, 0),
    ({"passwd": PASSWD % "md5"}, "", "", {"methods": ("md5crypt", "pam.d/passwd:1")}, 0),
    ({"passwd": PASSWD % "bigcrypt"}, "", "", {"methods": ("bigcrypt", "pam.d/passwd:1")}, 0),
    ({"passwd": PASSWD % "sha256"}, "", "", {"methods": ("sha256crypt", "pam.d/passwd:1")}, 0),
    ({"passwd": PASSWD % "blowfish"}, "", "", {"methods": ("bcrypt", "pam.d/passwd:1"),
                                               "bcrypt.cost.min": ("5", "pam.d/passwd:1")}, 0),
    ({"passwd": PASSWD % "gost_yescrypt"}, "", "", {"methods": ("gost-yescrypt", "pam.d/passwd:1"),
                                                    "gost-yescrypt.cost.min": ("5", "pam.d/passwd:1")}, 0),
    ({"passwd": PASSWD % "nullok"}, "", "", {"methods": ("descrypt", "pam.d/passwd:1")}, 0),  # pam_unix's default
    ({"passwd": PASSWD % "nullok"}, "# c\nENCRYPT_METHOD SHA512\nSHA_CRYPT_MAX_ROUNDS 10000\n", "",
     {"methods": ("sha512crypt", "login.defs:2"), "sha512crypt.rounds.min": ("10000", "login.defs:3")}, 0),
    ({}, "ENCRYPT_METHOD YESCRYPT\nYESCRYPT_COST_FACTOR 8\nPASS_MAX_DAYS 90\nPASS_MIN_DAYS 1\nPASS_WARN_AGE 7\n",
     "GROUP=100\nINACTIVE=30\n", {"methods": ("yescrypt", "login.defs:1"), "yescrypt.cost.min": ("8", "login.defs:2"),
                                 "max_days.max": ("90", "login.defs:3"), "min_days.min": ("1", "login.defs:4"),
                                 "warn_days.min": ("7", "login.defs:5"), "inactive.max": ("30", "default/useradd:2")}, 0),
    ({}, "", "INACTIVE=-1\n", {}, 0),  # no rule the host does not set
]
# (policy file text or a name, what standard error names)
BAD = [
    ("methods yescrypt\nmax_days.max sixty\n", "policy:2: not a number: sixty"),
    ("max_days.max 1234567890\n", "policy:1: not a number: 1234567890"),
    ("methods md6\n", "policy:1: unknown method md6"),
    ("\nbogus 1\n", "policy:2: unknown rule bogus"),
    ("yescrypt.cost.min 99\n", "policy:1: yescrypt has no cost 99"),
    ("min_days.min 1 2\n", "policy:1: one number after min_days.min"),
    ("max_days.max 1\nmax_days.max 2\n", "policy:2: max_days.max is given twice"),
    ("inactive.max\n", "policy:1: inactive.max needs a value"),
    ("nosuch", "unknown policy \"nosuch\""),
    ("/nonexistent/policy", "/nonexistent/policy: No such file or directory"),
]


class PolicyWorld(harness.World):
    """A World with its own /etc/login.defs and /etc/default/useradd."""

    def __init__(self, login_defs="", useradd="", **named):
        super().__init__(**named)
        self.write("login.defs", login_defs)
        self.write("default/useradd", useradd)
        self.binds += ["login.defs", "default/useradd"]


class PolicyTest(harness.WorldProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        passwd = "".join("%s:x:%d:%d::/:/bin/sh\n" % (u, 2000 + i, 2000 + i) for i, (u, *_) in enumerate(USERS))
        shadow = "".join("%s:%s:%d:%s::\n" % (u, h, harness.NOW // 86400 - 1, a) for u, h, a, _ in USERS)
        cls.world = PolicyWorld(passwd=passwd, shadow=shadow, pamd={"passwd": PASSWD % "yescrypt"})
        cls.addClassCleanup(cls.world.close)
        cls.policy = cls.world.write("every", EVERY_RULE)

    def audit(self, world, *args, program=None):
        r = world.run([program or self.program, "-a", "--all", "--json", *args])
        *users, summary = [json.loads(line) for line in r.out.splitlines()]
        return r, {u["user"]: u for u in users}, summary["summary"]

    def test_every_rule_against_each_hash_and_aging(self):
        r, users, summary = self.audit(self.world, "--policy", self.policy)
        self.assertEqual(r.status, 1, r)
        self.assertEqual(len(summary["policy"]["rules"]), 10)
        for user, _, _, gaps in USERS:
            with self.subTest(user=user):
                got = users[user]["policy"]
                self.assertEqual((got["name"], got["meets"]), (self.policy, None if gaps is None else not gaps))
                self.assertEqual([g["rule"] for g in got["gaps"]], gaps or [])
                self.assertTrue(all(g["from"].startswith(self.policy + ":") for g in got["gaps"]))
                self.assertEqual("off-policy" in users[user]["findings"], bool(gaps))
        self.assertEqual(sorted(summary["off-policy"]), sorted(u for u, *_, g in USERS if g))
        self.assertEqual(users["sha-below"]["policy"]["gaps"][0],
                         {"rule": "sha512crypt.rounds.min", "have": "rounds=99999", "want": "rounds=100000 or more",
                          "from": self.policy + ":3"})
        self.assertEqual(users["loose"]["policy"]["gaps"][0]["have"], "99999")

    def test_the_host_policy(self):
        for pamd, defs, useradd, rules, notes in HOSTS:
            with self.subTest(pamd=pamd, defs=defs), PolicyWorld(defs, useradd, pamd=pamd) as world:
                r, _, summary = self.audit(world)
                got = {x["rule"]: (x["value"], x["from"]) for x in summary["policy"]["rules"]}
                self.assertEqual(got, {k: (v, "/etc/" + f) for k, (v, f) in rules.items()})
                self.assertEqual(len(summary["policy"]["notes"]), notes, summary["policy"])

    def test_exit_status_text_and_metrics(self):
        # Without --policy the host's own judges, but leaves the exit status as it was.
        world = PolicyWorld("ENCRYPT_METHOD SHA512\n", pamd={"common-password": PASSWD % "yescrypt",
                                                             "passwd": "@include common-password\n"},
                            passwd="bob:x:1:1::/:/bin/sh\n", shadow="bob:%s:1::::::\n" % sha("sha512crypt"))
        self.addCleanup(world.close)
        for args, status in (([], 0), (["--policy", "host"], 1)):
            self.assertEqual(self.audit(world, *args)[0].status, status, args)
        self.text(world, ["bob"], ["Policy:    host: 1 gap\n           sha512crypt, rounds=5000: the host writes "
                                   "yescrypt (/etc/pam.d/common-password:1)\n"])
        text = world.run([self.program, "-a", "--all"]).out
        self.assertIn("Off policy: bob\nOffline: none\nPolicy:   host: methods yescrypt (/etc/pam.d/common-password:1)", text)
        self.assertIn("Policy note: pam_unix writes yescrypt", text)
        metrics = world.run([self.program, "-a", "--all", "--prometheus"]).out
        self.assertIn('credcheck_findings{finding="off-policy"} 1\n', metrics)

    def test_bad_policies_are_usage_errors(self):
        for text, error in BAD:
            with self.subTest(text=text):
                path = text if "\n" not in text else self.world.write("policy", text)
                for args in (["-a", "sha-at"], ["-a", "--all"]):
                    r = self.world.run([self.program, *args, "--policy", path])
                    self.assertEqual((r.status, r.out), (2, ""), r)
                    self.assertIn(error, r.err)

    def test_cis_and_stig_as_installed(self):
        prefix = harness.scratch("prefix")
        self.addCleanup(shutil.rmtree, prefix, True)
        subprocess.run(["cmake", "--install", harness.BUILD, "--prefix", prefix], check=True, capture_output=True)
        want = {"cis": {"methods": "yescrypt sha512crypt", "max_days.max": "365", "min_days.min": "1",
                        "warn_days.min": "7", "inactive.max": "45"},
                "stig": {"methods": "sha512crypt", "sha512crypt.rounds.min": "100000", "max_days.max": "60",
                         "min_days.min": "1", "inactive.max": "35"}}
        for name, rules in want.items():
            r, users, summary = self.audit(self.world, "--policy", name, program=prefix + "/bin/credcheck")
            got = summary["policy"]
            self.assertEqual((got["name"], {x["rule"]: x["value"] for x in got["rules"]}), (name, rules))
            self.assertTrue(got["rules"][0]["from"].startswith(prefix + "/share/credcheck/policy/" + name + ":"))
            self.assertEqual(users["y-at"]["policy"]["meets"], name == "cis")


if __name__ == "__main__":
    unittest.main()
