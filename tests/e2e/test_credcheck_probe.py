"""credcheck "-g" mode: the availability probe in fixture worlds."""

import unittest

import harness

# openssl passwd -1 -salt abcdefgh pancakes
MD5_PANCAKES = "$1$abcdefgh$FXMjhOfMBzhxo5h9hPtN91"
PLACEHOLDER = "********"
OPEN_DIRECTORY = ("Sorry, but this version cannot process Mac OS X OpenDirectory passwords.  "
                  "Implementing that is on the To-Do list for a future release.\n")
STARTUP = "Cred Library initialized.\n"
USERS = [("root", 0), ("ann", 1002), ("bob", 1003)]


def record_trace(name, uid, passwd, fallback, close):
    """What the library writes while it fills its record for one user."""
    out = "InitCredStruct\nPwdToCred: pw->u=%s wantC=1 wantSupp=0\n" % name
    out += "struct passwd->pw_passwd = [x] len=1\n" if passwd != PLACEHOLDER else (
        "struct passwd->pw_passwd = [%s] len=8\n" % PLACEHOLDER)
    out += fallback
    out += "\tPp->username = [%s]\n\tPp->passwd = [%s], alg = 0\n\tPp->uid = %d\n" % (
        name, passwd, uid)
    out += "\tPp->gid #0 = %d\n\tPp->homedir = [/home/%s]\n\tPp->shell = [/bin/sh]\n" % (uid, name)
    return out + ("\tEndspent\n" if close else "")


PLACEHOLDER_FALLBACK = (OPEN_DIRECTORY + "Encrypted password was invalid.\n"
                        "Trying to use Getspnam to get encrypted password.\nGetspnam returned NULL\n")


@unittest.skipUnless(harness.can_use_namespaces(), "needs root and mount namespaces")
class ProbeModeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.program = harness.program("credcheck")

    def probe(self, world, *args):
        return world.run([self.program, "-g"] + list(args))

    def test_valid_root_password_needs_no_enumeration(self):
        passwd = "".join("%s:x:%d:%d::/home/%s:/bin/sh\n" % (n, u, u, n) for n, u in USERS)
        shadow = "root:%s:19000:0:99999:7:::\n" % MD5_PANCAKES
        fallback = ('Not long enough ("x", only 1 char) to be a DES crypt password.\n'
                    "Encrypted password was invalid.\n"
                    "Trying to use Getspnam to get encrypted password.\n"
                    "Getspnam's spwptr->sp_pwdp was [%s], alg=0\n" % MD5_PANCAKES)
        expected = ("GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\n"
                    + record_trace("root", 0, MD5_PANCAKES, fallback, close=True)
                    + "BSD MD5 password detected.\n"
                    'CanGetEncryptedPasswords2: yes (rc = 1, n = 1, tx = 0, u = "root")\n'
                    "InitCredStruct\n")
        with harness.World(passwd, shadow, "") as world:
            result = self.probe(world)
        self.assertEqual(result.out, expected)
        self.assertEqual(result.err, STARTUP)
        self.assertEqual(result.status, 1)

    def test_every_user_a_placeholder_reads_all_under_each_time_limit(self):
        passwd = "".join("%s:%s:%d:%d::/home/%s:/bin/sh\n" % (n, PLACEHOLDER, u, u, n)
                         for n, u in USERS)
        expected = ("GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\n"
                    + record_trace("root", 0, PLACEHOLDER, PLACEHOLDER_FALLBACK, close=True)
                    + OPEN_DIRECTORY)
        for name, uid in USERS:
            expected += "GetCredEnt\n" + record_trace(name, uid, PLACEHOLDER,
                                                      PLACEHOLDER_FALLBACK, close=False)
            expected += OPEN_DIRECTORY
        expected += ("GetCredEnt\nInitCredStruct\n"
                     'CanGetEncryptedPasswords2: no (rc = 0, n = %d, tx = 0, u = "")\n'
                     "InitCredStruct\n" % (1 + len(USERS)))
        with harness.World(passwd, "", "") as world:
            # No limit, the forms that mean no limit, and a limit that the
            # walk of three users never reaches.
            for args in ([], [""], ["0"], ["-5"], ["abc"], ["3"], ["99999999999999999999"]):
                with self.subTest(args=args):
                    result = self.probe(world, *args)
                    self.assertEqual(result.out, expected)
                    self.assertEqual(result.err, STARTUP)
                    self.assertEqual(result.status, 1)


if __name__ == "__main__":
    unittest.main()
