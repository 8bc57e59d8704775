"""credcheck "-g" mode: the availability probe in fixture worlds, as root and
as nobody, and every form of the time-limit argument under a stepping clock."""

import os
import shutil
import unittest

import harness

# openssl passwd -1 -salt abcdefgh pancakes
MD5_PANCAKES = "$1$abcdefgh$FXMjhOfMBzhxo5h9hPtN91"
PLACEHOLDER = "********"
OPEN_DIRECTORY = ("Sorry, but this version cannot process Mac OS X OpenDirectory passwords.  "
                  "Implementing that is on the To-Do list for a future release.\n")
SHORT_X = 'Not long enough ("x", only 1 char) to be a DES crypt password.\n'
FALLBACK = "Encrypted password was invalid.\nTrying to use Getspnam to get encrypted password.\n"
STARTUP = "Cred Library initialized.\n"
USERS = [("root", 0), ("ann", 1002), ("bob", 1003)]

# A clock that moves on 10 seconds at every reading: the deadline is read
# first, then once per record, so a limit below 10 runs out at the first
# record of the walk and a limit of exactly 10 at the second.
STEPPING_CLOCK = r"""
#include <time.h>
time_t time(time_t *t) {
    static time_t now = 1000000;
    time_t v = now;
    now += 10;
    if (t) *t = v;
    return v;
}
"""


def record_trace(name, uid, field, shadow_lines, passwd, close):
    """What the library writes while it fills its record for one user."""
    out = "InitCredStruct\nPwdToCred: pw->u=%s wantC=1 wantSupp=0\n" % name
    out += "struct passwd->pw_passwd = [%s] len=%d\n" % (field, len(field))
    out += (OPEN_DIRECTORY if field == PLACEHOLDER else SHORT_X) + FALLBACK + shadow_lines
    out += "\tPp->username = [%s]\n\tPp->passwd = [%s], alg = 0\n\tPp->uid = %d\n" % (
        name, passwd, uid)
    out += "\tPp->gid #0 = %d\n\tPp->homedir = [/home/%s]\n\tPp->shell = [/bin/sh]\n" % (uid, name)
    return out + ("\tEndspent\n" if close else "")


def placeholder_walk(records, time_up):
    """The trace of a probe in the world of placeholders that reads
    records entries of the enumeration."""
    nothing = "Getspnam returned NULL\n"
    out = "GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\n"
    out += record_trace("root", 0, PLACEHOLDER, nothing, PLACEHOLDER, True) + OPEN_DIRECTORY
    for name, uid in USERS[:records]:
        out += "GetCredEnt\n" + record_trace(name, uid, PLACEHOLDER, nothing, PLACEHOLDER, False)
        out += OPEN_DIRECTORY
    if time_up:
        out += "CanGetEncryptedPasswords2: time up\n"
        last = USERS[records - 1][0]
    else:
        out += "GetCredEnt\nInitCredStruct\n"
        last = ""
    return out + ('CanGetEncryptedPasswords2: no (rc = 0, n = %d, tx = %d, u = "%s")\n'
                  "InitCredStruct\n" % (1 + records, int(time_up), last))


def passwd_file(field):
    return "".join("%s:%s:%d:%d::/home/%s:/bin/sh\n" % (n, field, u, u, n) for n, u in USERS)


@unittest.skipUnless(harness.can_use_namespaces(), "needs root and mount namespaces")
class ProbeModeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.program = harness.program("credcheck")

    def assertProbe(self, result, out):
        self.assertEqual(result.out, out)
        self.assertEqual(result.err, STARTUP)
        self.assertEqual(result.status, 1)

    def test_root_hash_in_shadow_found_by_root_refused_to_nobody(self):
        shadow = "root:%s:19000:0:99999:7:::\n" % MD5_PANCAKES
        found = "Getspnam's spwptr->sp_pwdp was [%s], alg=0\n" % MD5_PANCAKES
        as_root = ("GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\n"
                   + record_trace("root", 0, "x", found, MD5_PANCAKES, True)
                   + "BSD MD5 password detected.\n"
                   'CanGetEncryptedPasswords2: yes (rc = 1, n = 1, tx = 0, u = "root")\n'
                   "InitCredStruct\n")
        denied = "Getspnam: Permission denied\nGetspnam returned NULL\n"
        as_nobody = ("GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\n"
                     + record_trace("root", 0, "x", denied, "x", True) + SHORT_X)
        for name, uid in USERS:
            as_nobody += "GetCredEnt\n" + record_trace(name, uid, "x", denied, "x", False) + SHORT_X
        as_nobody += ("GetCredEnt\nInitCredStruct\n"
                      'CanGetEncryptedPasswords2: no (rc = 0, n = 4, tx = 0, u = "")\n'
                      "InitCredStruct\n")
        with harness.World(passwd_file("x"), shadow, "") as world:
            for user, expected in ((None, as_root), (harness.NOBODY, as_nobody)):
                with self.subTest(user=user):
                    self.assertProbe(world.run([self.program, "-g"], user=user), expected)

    @unittest.skipUnless(shutil.which("cc"), "needs a C compiler")
    def test_time_limit_forms(self):
        folder, clock = harness.build_preload(STEPPING_CLOCK, "stepping_clock")
        self.addCleanup(shutil.rmtree, folder, True)
        asan = os.environ.get("ASAN_OPTIONS", "")
        env = {"LD_PRELOAD": clock,
               "ASAN_OPTIONS": (asan + ":" if asan else "") + "verify_asan_link_order=0"}
        cases = [  # arguments, records read, time ran out
            ([], 3, False),
            ([""], 3, False),
            (["0"], 3, False),
            (["-5"], 3, False),
            (["abc"], 3, False),
            (["99999999999999999999"], 3, False),
            (["3"], 1, True),
            ([" +3x"], 1, True),
            (["10"], 2, True),
        ]
        with harness.World(passwd_file(PLACEHOLDER), "", "") as world:
            for args, records, time_up in cases:
                with self.subTest(args=args):
                    result = world.run([self.program, "-g"] + args, env=env)
                    self.assertProbe(result, placeholder_walk(records, time_up))


if __name__ == "__main__":
    unittest.main()
