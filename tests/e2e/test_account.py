"""credcheck -a: the account report in fixture worlds, as root and as uid
65534, a row of CASES each; hashes are made by mkpasswd, and the host's
crypt calls are counted through an interposed libcrypt."""

import ctypes
import json
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

TODAY = int(time.time()) // 86400
LONG = "L" * 300  # a password past any 127-character cut


SECRET = harness.mkpasswd("-m", "sha512crypt", "secret")
AGE = ":%d:0:::::" % (TODAY - 1)  # the aging fields of an ordinary account

# name: (passwd field, shadow fields after the name or None, shell)
USERS = {
    "alice": ("x", SECRET + AGE, "/bin/sh"),
    "inpw": (SECRET, None, "/bin/sh"),
    "locked": ("x", "!" + SECRET + AGE, "/bin/sh"),
    "star": ("x", "*" + AGE, "/bin/sh"),
    "bangs": ("x", "!!" + AGE, "/bin/sh"),
    "lk": ("x", "*LK*" + AGE, "/bin/sh"),
    "empty": ("x", AGE, "/bin/sh"),
    "cut": ("x", "$6$abc" + AGE, "/bin/sh"),
    "bigc": ("x", "abcdefghijklmnopqrstuvwx" + AGE, "/bin/sh"),
    "noshadow": ("x", None, "/bin/sh"),
    "nologin": ("x", SECRET + AGE, "/usr/sbin/nologin"),
    "noshell": ("x", SECRET + AGE, ""),
    "des": ("x", harness.mkpasswd("-m", "descrypt", "password") + AGE, "/bin/sh"),
    "long": ("x", harness.mkpasswd("-m", "sha512crypt", LONG) + AGE, "/bin/sh"),
    "junk": ("x", SECRET + ":abc:0:x:::::", "/bin/sh"),
    "huge": ("x", SECRET + ":99999999999999999999:0:99999999999999999999:::::", "/bin/sh"),
    "wrap": ("x", SECRET + ":%d:0:2147483648:7:4294967295::" % (TODAY - 100), "/bin/sh"),
    # costs no login waits for: a check would run for minutes
    "rounds": ("x", "$6$rounds=999999999$abcdefgh$" + "a" * 86 + AGE, "/bin/sh"),
    "cost31": ("x", "$2b$31$" + harness.mkpasswd("-m", "bcrypt", "-R", "5", "pw")[7:] + AGE, "/bin/sh"),
}
# The aging boundaries: user -> ((last change, maximum, inactive, expiry),
# (expired, password_expired, must_change, inactive), or None for a line the C library refuses).
AGING = {
    "exp-today": (("", "", "", TODAY), (1, 0, 0, 0)), "exp-yesterday": (("", "", "", TODAY - 1), (1, 0, 0, 0)),
    "exp-tomorrow": (("", "", "", TODAY + 1), (0, 0, 0, 0)), "change0": ((0, "", "", ""), (0, 0, 1, 0)),
    "nochange-max": (("", 90, "", ""), (0, 1, 0, 0)), "nochange": (("", "", "", ""), (0, 0, 0, 0)),
    "neg-change": ((-5, 90, "", ""), None), "future": ((TODAY + 10, 1, "", ""), (0, 0, 0, 0)),
    "max-passed": ((TODAY - 100, 90, 20, ""), (0, 1, 0, 0)), "inact-over": ((TODAY - 100, 90, 5, ""), (0, 1, 0, 1)),
    "max-edge": ((TODAY - 90, 90, "", ""), (0, 0, 0, 0)),
    "big-sums": ((TODAY - 100, 2147483647, 2147483647, ""), (0, 0, 0, 0)),
}
for name, ((last, mx, inact, exp), _) in AGING.items():
    USERS[name] = ("x", "%s:%s:0:%s:7:%s:%s:" % (SECRET, last, mx, inact, exp), "/bin/sh")

METHODS = [  # (how to make the hash of "pw", method, params)
    (["-m", "yescrypt", "-R", "5"], "yescrypt", {"N": 4096, "r": 32, "p": 1}),
    (["-m", "gost-yescrypt"], "gost-yescrypt", {"N": 4096, "r": 32, "p": 1}),
    (["-m", "scrypt"], "scrypt", {"N": 16384, "r": 32, "p": 1}),
    (["-m", "bcrypt", "-R", "6"], "bcrypt", {"cost": 6}),
    (["-m", "bcrypt-a", "-R", "5"], "bcrypt-a", {"cost": 5}),
    (["-m", "sha512crypt", "-R", "6000"], "sha512crypt", {"rounds": 6000}),
    (["-m", "sha256crypt"], "sha256crypt", {"rounds": 5000}),
    (["-m", "sunmd5"], "sunmd5", None),  # its rounds are made at random
    (["-m", "md5crypt"], "md5crypt", {}),
    (["-m", "bsdicrypt", "-R", "725"], "bsdicrypt", {"count": 725}),
    (["-m", "descrypt"], "descrypt", {}),
    (["-m", "nt"], "nt", {}),
]
for i, (how, _, _) in enumerate(METHODS):
    USERS["m%d" % i] = ("x", harness.mkpasswd(*how, "pw") + AGE, "/bin/sh")

UNREADABLE = "unreadable"  # what uid 65534 gets for every shadowed user
# (user, arguments after the user, stdin, verdict as root, as 65534 (None: not run),
#  {JSON path: value}, text lines)
CASES = [
    ("alice", ["secret"], b"", "ok", UNREADABLE,
     {"source.passwd": "files", "source.shadow": "files", "hash.from": "shadow",
      "hash.method": "sha512crypt", "hash.params": {"rounds": 5000}, "hash.valid": True,
      "hash.supported": True, "hash.strength": "ok", "password.authenticates": True,
      "account.shell_listed": True}, ["Verdict:   ok (exit 0): the account can log in"]),
    ("alice", ["wrong"], b"", "wrong-password", UNREADABLE, {"password.checked": True}, []),
    ("alice", [], b"", "ok", UNREADABLE, {"password.checked": False}, []),
    ("inpw", ["secret"], b"", "ok", "ok", {"hash.from": "passwd", "source.shadow": None}, []),
    ("locked", ["secret"], b"", "locked", UNREADABLE,
     {"account.locked": True, "hash.method": "sha512crypt", "password.authenticates": False,
      "password.notes": ["it matches the hash under the lock"]},
     ["State:     locked", "note: it matches the hash under the lock"]),
    ("star", [], b"", "locked", UNREADABLE, {"account.disabled": True, "hash.method": None}, []),
    ("bangs", [], b"", "locked", UNREADABLE, {"account.disabled": True}, []),
    ("lk", [], b"", "locked", UNREADABLE, {"account.disabled": True}, []),
    ("empty", [""], b"", "empty-password", UNREADABLE, {"account.empty": True}, []),
    ("cut", ["x"], b"", "invalid-hash", UNREADABLE,
     {"hash.method": "sha512crypt", "hash.valid": False}, ["malformed: no '$'"]),
    ("bigc", [], b"", "invalid-hash", UNREADABLE,
     {"hash.method": "bigcrypt", "hash.valid": True, "hash.supported": False},
     ["does not support bigcrypt"]),
    ("noshadow", [], b"", "unreadable", UNREADABLE, {"hash.unreadable": "no-shadow-entry"}, []),
    ("nologin", ["secret"], b"", "no-shell", UNREADABLE,
     {"account.shell": "/usr/sbin/nologin", "account.shell_listed": False,
      "gates.shell": {"path": "/usr/sbin/nologin", "usable": False, "problem": "refuses sessions"}},
     ["Shell:     /usr/sbin/nologin refuses sessions", "Note:      the shell is not listed in /etc/shells",
      "Verdict:   no-shell (exit 14): the login shell /usr/sbin/nologin refuses sessions"]),
    ("noshell", ["secret"], b"", "ok", UNREADABLE, {"account.shell": "", "gates.shell.path": "/bin/sh"},
     ["Shell:     /bin/sh, starts sessions"]),
    ("des", ["passwordXYZ"], b"", "ok", UNREADABLE,
     {"hash.method": "descrypt", "password.notes": ["DES used only the first 8 characters"]}, []),
    ("long", ["-"], LONG.encode() + b"\n", "ok", UNREADABLE, {"password.authenticates": True}, []),
    ("long", [LONG[:-1] + "x"], b"", "wrong-password", UNREADABLE, {}, []),
    ("long", ["-"], b"L" * 600, "wrong-password", None,
     {"password.notes": ["longer than this host's crypt accepts"]}, []),
    ("junk", [], b"", "unreadable", UNREADABLE, {"hash.unreadable": "no-shadow-entry"},
     ["the shadow file has a line for this user that cannot be read"]),
    ("huge", ["secret"], b"", "unreadable", UNREADABLE, {"hash.unreadable": "no-shadow-entry"}, []),
    ("wrap", ["secret"], b"", "expired", UNREADABLE, {"account.password_expired": True}, []),
    ("rounds", [], b"", "ok", UNREADABLE, {"hash.costly": True, "hash.valid": True, "hash.params": {"rounds": 999999999}},
     ["cost far beyond the method's usual range"]),
    ("rounds", ["secret"], b"", "unchecked", UNREADABLE, {"password.checked": False, "hash.costly": True},
     ["Verdict:   unchecked (exit 16): not checked: the password: the hash's cost is far beyond sha512crypt's "
      "usual range (checked only with --costly)"]),
    ("cost31", ["pw", "--pam", "login"], b"", "unchecked", None,
     {"hash.costly": True, "pam.authenticate.ok": None}, ["not run: the local hash is too costly"]),
    ("alice", ["secret", "--costly"], b"", "ok", None, {"hash.costly": False}, []),
    ("netuser", ["netpass"], b"", "ok", "ok",
     {"source.passwd": "credtest", "source.shadow": "credtest"}, []),
    ("split", [], b"", "ok", "ok", {"source.passwd": "files", "source.shadow": "credtest"}, []),
    ("ghost", [], b"", "no-such-user", "no-such-user", {"source.passwd": None},
     ["Verdict:   no-such-user (exit 3)"]),
    ("x" * 10240, [], b"", "no-such-user", "no-such-user", {"user": "x" * 255},
     ["longer than any user name"]),
    ("al\x01ice", [], b"", "no-such-user", "no-such-user", {"user": "al\x01ice"},
     ['Account report for "al\\x01ice"', "control character"]),
]
for user, (_, flags) in AGING.items():
    if flags is None:  # no entry
        CASES.append((user, [], b"", "unreadable", UNREADABLE, {"hash.unreadable": "no-shadow-entry"}, []))
        continue
    keys = dict(zip(["account.expired", "account.password_expired", "account.must_change",
                     "account.inactive"], map(bool, flags)))
    CASES.append((user, ["secret"], b"", "expired" if any(flags) else "ok", None, keys, []))
STRENGTH = {0: "ok", 1: "invalid", 2: "disabled", 3: "legacy", 4: "legacy"}
checksalt = ctypes.CDLL("libcrypt.so.1").crypt_checksalt
checksalt.argtypes = [ctypes.c_char_p]
for i, (_, method, params) in enumerate(METHODS):
    made = USERS["m%d" % i][1].split(":")[0]
    keys = {"hash.method": method, "hash.valid": True, "hash.supported": True,
            "hash.strength": STRENGTH[checksalt(made.encode())]}
    keys.update({} if params is None else {"hash.params": params})
    CASES.append(("m%d" % i, ["pw"], b"", "ok", None, keys, []))
    CASES.append(("m%d" % i, ["pX"], b"", "wrong-password", None, {}, []))


# Counts the host's crypt_r calls (the only form the account layer uses)
# into the file $CRYPT_CALLS at exit; with
# $CRYPT_DISABLE, a host whose crypt lacks the method of that prefix.
CRYPT_SHIM = r"""
#define _GNU_SOURCE
#include <crypt.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
static unsigned long calls;
static int disabled(const char *setting) {
    const char *p = getenv("CRYPT_DISABLE");
    return p && *p && setting && strncmp(setting, p, strlen(p)) == 0;
}
#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))
char *crypt_r(const char *phrase, const char *setting, struct crypt_data *data) {
    ++calls;
    if (!disabled(setting)) return NEXT(crypt_r)(phrase, setting, data);
    strcpy(data->output, "*0");
    return data->output;
}
int crypt_checksalt(const char *setting) {
    return disabled(setting) ? CRYPT_SALT_INVALID : NEXT(crypt_checksalt)(setting);
}
__attribute__((destructor)) static void report(void) {
    FILE *f = getenv("CRYPT_CALLS") ? fopen(getenv("CRYPT_CALLS"), "w") : NULL;
    if (f) fprintf(f, "%lu\n", calls), fclose(f);
}
"""


def counting_crypt(test):
    """run(world, argv, disable=None) -> (result, crypt calls), with the counting shim preloaded."""
    folder, library = harness.build_preload(CRYPT_SHIM, "cryptcount", ["-ldl", "-lcrypt"])
    test.addCleanup(harness.shutil.rmtree, folder, True)

    def run(world, argv, disable=None):
        calls = os.path.join(folder, "calls")
        env = dict(harness.preload_env(library), CRYPT_CALLS=calls, CRYPT_DISABLE=disable or "", **harness.LIBS)
        r = world.run(argv, env=env)
        with open(calls) as f:
            return r, int(f.read())
    return run


def world_files(users):
    """The passwd and shadow text of users: name -> (passwd field, shadow rest or None, shell)."""
    passwd = "".join("%s:%s:%d:%d::/:%s\n" % (n, f, 2000 + i, 2000 + i, sh)
                     for i, (n, (f, _, sh)) in enumerate(users.items()))
    return passwd, "".join("%s:%s\n" % (n, s) for n, (_, s, _) in users.items() if s is not None)


class AccountReportTest(harness.WorldProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        passwd, shadow = world_files(USERS)
        cls.world = cls.make_world(passwd=passwd + "split:x:3000:3000::/:/bin/sh\n", shadow=shadow,
                                   nsswitch=harness.CREDTEST_NSSWITCH, shells="# shells\n/bin/sh\n/bin/bash\n")

    def test_cases(self):
        for user, args, stdin, root, nobody, keys, lines in CASES:
            for as_user, verdict in ((None, root), (harness.NOBODY, nobody))[:1 if nobody is None else 2]:
                with self.subTest(user=user[:20], args=args[:1], as_user=as_user):
                    if as_user is not None:  # even behind a second source
                        keys = {"hash.unreadable": "permission"} if verdict == UNREADABLE else {}
                    report = self.report(self.world, [user] + args, verdict, keys, stdin, as_user, harness.LIBS)
                    self.assertNotIn(SECRET, json.dumps(report))
            self.text(self.world, [user] + args, lines, stdin, env=harness.LIBS)

    def test_crypt_computes_only_what_a_password_needs(self):
        run = counting_crypt(self)
        # (user, arguments, prefix the host's crypt lacks, crypt calls, hash.supported)
        for user, args, disable, calls, supported in (
                ("alice", [], None, 0, True), ("alice", ["secret"], None, 1, True),
                ("m0", ["pw"], None, 1, True), ("m0", [], None, 0, True),
                ("bigc", [], None, 1, False), ("bigc", ["pw"], None, 1, False), ("rounds", ["pw"], None, 0, True),
                ("alice", [], "$6$", 0, False), ("alice", ["secret"], "$6$", 1, False)):
            with self.subTest(user=user, args=args, disable=disable):
                r, n = run(self.world, [self.program, "-a", user] + args + ["--json"], disable)
                self.assertEqual((n, json.loads(r.stdout)["hash"]["supported"]), (calls, supported), r)

    def test_password_at_a_terminal(self):
        # (password, status, report on the terminal or, with --json, on a pipe)
        for password, status, tty in (("secret", 0, True), ("nope", 9, True), ("secret", 0, False)):
            r = self.world.pty([self.program, "-a", "alice", "-"] + ([] if tty else ["--json"]),
                               [("expect", b"Password: "), ("send", password.encode() + b"\r")],
                               stdout_tty=tty)
            out = r.screen if tty else r.stderr[1]
            self.assertEqual(r.status, status, r)
            self.assertIn(b"(exit %d)" % status if tty else b'"exit":%d' % status, out)
            self.assertNotIn(password.encode(), r.screen + out)
            self.assertTrue(r.settings_restored)


if __name__ == "__main__":
    unittest.main()
