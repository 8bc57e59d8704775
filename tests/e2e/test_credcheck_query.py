"""credcheck "-l" mode in fixture worlds, as root and as nobody, compared
byte for byte."""

import itertools
import os
import shutil
import unittest

import harness

# Fixture hashes, made with:
#   openssl passwd -1 -salt abcdefgh pancakes      -> MD5_PANCAKES
#   openssl passwd -1 -salt abcdefgh pancakes1     -> MD5_PANCAKES1
#   openssl passwd -6 -salt saltsalt secret        -> SHA512_SECRET
#   openssl passwd -6 -salt saltsalt wrong         -> SHA512_WRONG
#   python3 -c 'import crypt; print(crypt.crypt("secret", "$y$j9T$F5Jx5fExrKuPp53xLKQ..1"))'
#                                                  -> YESCRYPT_SECRET
#   python3 -c 'import crypt; print(crypt.crypt("letmein1", "ab"))'      -> DES_LETMEIN1
#   python3 -c 'import crypt; print(crypt.crypt("", "ab"))'              -> DES_EMPTY
#   python3 -c 'import crypt; print(crypt.crypt("pw", "kvKPc33T3Jz"))'   -> DES_PW_KV
MD5_PANCAKES = "$1$abcdefgh$FXMjhOfMBzhxo5h9hPtN91"
MD5_PANCAKES1 = "$1$abcdefgh$cCdE6CSl8ZtXQb8RKHEu01"
SHA512_SECRET = ("$6$saltsalt$TVLlQcbpFVof5W3Yz4DTP6gRstiNuHwwTt6GLc1E5n0U0aDehy0S5knV8wiOQSpT0Y77"
                 "vwPZN.Pq.H91p5hVO1")
SHA512_WRONG = ("$6$saltsalt$QllWaR3syVkXRkZsU7l/GOpFdqNIVj6vP0E9nt8Kk1dAKC9mtyBopBy6aytyZzf6UgZ1"
                "rd1p94xTTUvEB3bOD/")
YESCRYPT_SECRET = "$y$j9T$F5Jx5fExrKuPp53xLKQ..1$GmcwIgvdUC9qLWcKCi6gklUa1dM3ziD43YxYNURLKy0"
DES_LETMEIN1 = "ab3ERPFNQpczI"
DES_EMPTY = "abmF1QH4PEr.E"
DES_PW_KV = "kv/C/OG7Slg9E"

USERS = [  # name, uid, field in the passwd file, shadow entry or None
    ("root", 0, "x", MD5_PANCAKES),
    ("des", 1001, DES_LETMEIN1, None),
    ("ann", 1002, "x", SHA512_SECRET),
    ("yes", 1003, "x", YESCRYPT_SECRET),
    ("md5u", 1004, "x", MD5_PANCAKES),
    ("od", 1005, "********", None),
    ("short", 1006, "kvKPc33T3Jz", None),
    ("bad", 1007, "abc!defghijkl", None),
    ("odd", 1008, "abcdefghijkl", None),
]
PASSWD = "".join("%s:%s:%d:%d::/home/%s:/bin/sh\n" % (n, f, u, u, n) for n, u, f, _ in USERS)
SHADOW = "".join("%s:%s:19000:0:99999:7:::\n" % (n, s) for n, _, _, s in USERS if s)
GROUP = "# groups\nwheel:x:10:root,ann\nstaff:x:50:ann\nannie:x:60:annie\n"
UID = {n: u for n, u, _, _ in USERS}
FIELD = {n: f for n, _, f, _ in USERS}
SUPPLEMENTARY = {"root": [10], "ann": [10, 50]}
POLICY = "CRYPT_DEFAULT=1\nCRYPT_ALGORITHMS_ALLOW=1,2a,md5\n CRYPT_DEFAULT=6\n# CRYPT\n"

STARTUP = "Cred Library initialized.\n"
BANNER = ("-" * 79 + "\nThis test is used to verify that:\n"
          "(a) The encrypted passwords can be accessed; and\n"
          "(b) Passwords can be authenticated.\n\n")
KNOWN_ANSWER = "crypt = [kvKPc33T3JzmE]\nencrypted guess == encrypted answer\nDES crypt works.\n"
WARNING = ("\n*** You do not have superuser privileges ***\n"
           "*** On many systems this is required for ***\n"
           "*** querying encrypted passwords.        ***\n\n")
POLICY_ECHO = ("Found /etc/security/policy.conf:\n"
               "    CRYPT_DEFAULT=1\n    CRYPT_ALGORITHMS_ALLOW=1,2a,md5\n")

CLASSIFY = {  # the classifier's lines for each encrypted password of the fixture
    "x": 'Not long enough ("x", only 1 char) to be a DES crypt password.\n',
    DES_LETMEIN1: "DES crypt password detected.\nEncrypted password was valid.\n",
    SHA512_SECRET: "SHA-512 password detected.\n",
    YESCRYPT_SECRET: "Unknown password encryption detected (unknown:$y) -- relying upon system crypt().\n",
    MD5_PANCAKES: "BSD MD5 password detected.\n",
    "********": "Sorry, but this version cannot process Mac OS X OpenDirectory passwords.  "
                "Implementing that is on the To-Do list for a future release.\n",
    "kvKPc33T3Jz": 'Not long enough ("kvKPc33T3Jz", only 11 chars) to be a DES crypt password.\n',
    "abc!defghijkl": "DES crypt password detected.\n"
                     "Non base-64 character ('!', hex $21) detected in in DES crypt password.\n",
    "abcdefghijkl": 'Not long enough ("abcdefghijkl", only 12 chars) to be a DES crypt password.\n',
}
VERDICT = {
    DES_LETMEIN1: "DES encrypted password is valid.\n",
    SHA512_SECRET: "SHA-512 encrypted password is valid.\n",
    YESCRYPT_SECRET: "unknown:$y encrypted password is valid.\n",
    MD5_PANCAKES: "BSD MD5 encrypted password is valid.\n",
    "abc!defghijkl": "DES encrypted password is INVALID.\n",
}

MATCH = "encrypted guess == encrypted answer\n"
MISMATCH = "encrypted guess did not equal encrypted answer\n"
SUCCESS = "Password was authenticated successfully.\n"
NOT_AUTHENTICATED = "Password was NOT authenticated.\n"
NOT_LOOKED_UP = ("Password was NOT authenticated.\n"
                 "This is not surprising since it appears that the encrypted password was not\n"
                 "looked up correctly.\n")


def head(policy=False, nobody=False):
    return BANNER + KNOWN_ANSWER + (POLICY_ECHO if policy else "") + (WARNING if nobody else "")


def groups_trace(name, method):
    line = "GetUserGroups maxg=32 u=%s method=%%s\n" % name
    if method == 2:
        return line % "/etc/group", SUPPLEMENTARY.get(name, [])
    if method == 1:  # nobody runs without supplementary groups
        return line % "getgroups()" + line % "1 (invalid!)", []
    return line % ("%d (invalid!)" % method), []


def lookup(name, nobody=False, method=2):
    """The library's trace of the lookup, and the encrypted password it got."""
    field = FIELD[name]
    out = ("GetCredName name=%s wantC=1 wantSupp=1 wantClose=1\nInitCredStruct\n"
           "PwdToCred: pw->u=%s wantC=1 wantSupp=1\n" % (name, name))
    out += "struct passwd->pw_passwd = [%s] len=%d\n" % (field, len(field))
    out += CLASSIFY[field]
    passwd = field
    if field not in VERDICT or field == "abc!defghijkl":
        out += "Encrypted password was invalid.\nTrying to use Getspnam to get encrypted password.\n"
        shadow = dict((n, s) for n, _, _, s in USERS).get(name)
        if nobody:
            out += "Getspnam: Permission denied\nGetspnam returned NULL\n"
        elif shadow:
            out += "Getspnam's spwptr->sp_pwdp was [%s], alg=0\n" % shadow
            passwd = shadow
        else:
            out += "Getspnam returned NULL\n"
    text, groups = groups_trace(name, method)
    out += text
    out += "\tPp->username = [%s]\n\tPp->passwd = [%s], alg = 0\n\tPp->uid = %d\n" % (
        name, passwd, UID[name])
    for i, gid in enumerate([UID[name]] + groups):
        out += "\tPp->gid #%d = %d\n" % (i, gid)
    out += "\tPp->homedir = [/home/%s]\n\tPp->shell = [/bin/sh]\n\tEndspent\n" % name
    out += "GetCredByName rc=0\n"
    out += CLASSIFY[passwd] + VERDICT.get(passwd, "Encrypted password is INVALID.\n") + "\n"
    return out, passwd


def check(name, password, passwd, crypted):
    routine = "Cred_md5_crypt" if passwd.startswith("$1$") else "crypt"
    return ("Number of characters received for password for %s: %d.\n" % (name, len(password))
            + "%s = [%s]\n" % (routine, crypted) + (MATCH if crypted == passwd else MISMATCH))


@unittest.skipUnless(harness.can_use_namespaces(), "needs root and mount namespaces")
class QueryModeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.program = harness.program("credcheck")
        cls.world = harness.World(PASSWD, SHADOW, GROUP)

    @classmethod
    def tearDownClass(cls):
        cls.world.close()

    def query(self, *args, stdin=b"", user=None, env=None, world=None):
        return (world or self.world).run([self.program, "-l"] + list(args), stdin=stdin,
                                         user=user, env=env)

    def assertResult(self, result, out, status, err=STARTUP):
        self.assertEqual(result.out, out)
        self.assertEqual(result.err, err)
        self.assertEqual(result.status, status)

    def test_valid_encrypted_passwords_authenticate(self):
        cases = [  # user, password, run as
            ("des", "letmein1", None),             # DES in the passwd file
            ("des", "letmein1", harness.NOBODY),   # ... which needs no privilege
            ("ann", "secret", None),               # SHA-512 in the shadow file, two groups
            ("yes", "secret", None),               # yescrypt, an "other dollar" form
            ("md5u", "pancakes", None),            # MD5-crypt
            ("root", "pancakes", None),
        ]
        for name, password, user in cases:
            with self.subTest(user=name, run_as=user):
                nobody = user is not None
                trace, passwd = lookup(name, nobody=nobody)
                expected = (head(nobody=nobody) + trace + check(name, password, passwd, passwd)
                            + SUCCESS)
                self.assertResult(self.query(name, password, user=user), expected, 0)

    def test_wrong_passwords(self):
        retry = ("Checking to see if a truncated version of the password works...\n"
                 + "Cred_md5_crypt = [%s]\n" % MD5_PANCAKES + MATCH
                 + "The full-length password (9 chars) was NOT authenticated, BUT using the\n"
                   "first 8 characters of the password succeeds.\n")
        cases = [  # user, password, what it encrypts to, outcome
            ("ann", "wrong", SHA512_WRONG, NOT_AUTHENTICATED),   # 8 or fewer: no retry
            ("md5u", "pancakes1", MD5_PANCAKES1, retry),
            ("des", "", DES_EMPTY, NOT_AUTHENTICATED),           # given empty: not asked for
        ]
        for name, password, crypted, outcome in cases:
            with self.subTest(user=name, password=password):
                trace, passwd = lookup(name)
                expected = head() + trace + check(name, password, passwd, crypted) + outcome
                self.assertResult(self.query(name, password), expected, 1)

    def test_shadow_user_as_nobody_cannot_read_the_password(self):
        trace, passwd = lookup("ann", nobody=True)
        self.assertEqual(passwd, "x")
        expected = (head(nobody=True) + trace + check("ann", "secret", passwd, "*0")
                    + NOT_LOOKED_UP)
        self.assertResult(self.query("ann", "secret", user=harness.NOBODY), expected, 1)

    def test_refused_encrypted_passwords_are_diagnosed(self):
        cases = [  # user, what crypt makes of "pw", diagnosis
            ("od", "*0", NOT_LOOKED_UP),
            ("short", DES_PW_KV, NOT_LOOKED_UP),
            ("bad", "*0", "Password was NOT authenticated.\nThis is not surprising since the "
                          "encrypted password appears to be invalid.\n"),
        ]
        for (name, crypted, diagnosis), user in itertools.product(cases, (None, harness.NOBODY)):
            with self.subTest(user=name, run_as=user):
                trace, passwd = lookup(name, nobody=user is not None)
                expected = (head(nobody=user is not None) + trace
                            + check(name, "pw", passwd, crypted) + diagnosis)
                self.assertResult(self.query(name, "pw", user=user), expected, 1)

    def test_unknown_user(self):
        for user in (None, harness.NOBODY):
            with self.subTest(user=user):
                expected = (head(nobody=user is not None)
                            + "GetCredName name=nope wantC=1 wantSupp=1 wantClose=1\n"
                              "InitCredStruct\n\tEndspent\nGetCredByName rc=-1\n")
                self.assertResult(self.query("nope", "pw", user=user), expected, 1)

    def test_user_name_asked_for_defaults_to_root(self):
        cases = [  # arguments, answer, user queried
            (["", "pancakes"], b"\n", "root"),
            (["", "pancakes"], b"", "root"),                   # end of input
            (["", "pancakes", "-g", "1"], b"\n", "root"),      # "-g 1" leaves the method alone
            (["", "letmein1"], b"des", "des"),                 # a last line without newline
        ]
        for args, stdin, name in cases:
            with self.subTest(args=args, stdin=stdin):
                trace, passwd = lookup(name)
                expected = (head() + "\nUsername to query [root]: " + trace
                            + check(name, args[1], passwd, passwd) + SUCCESS)
                self.assertResult(self.query(*args, stdin=stdin), expected, 0)

    def test_group_list_method_arguments(self):
        cases = [  # arguments after the user name, run as, method in effect
            (["secret", "-g", "1"], harness.NOBODY, 1),
            (["secret", "-g", "3"], None, 3),
            (["secret", "-g"], None, 2),
            (["secret", "-x", "1"], None, 2),
        ]
        for args, user, method in cases:
            with self.subTest(args=args, user=user):
                nobody = user is not None
                trace, passwd = lookup("ann", nobody=nobody, method=method)
                if nobody:
                    tail = check("ann", "secret", passwd, "*0") + NOT_LOOKED_UP
                else:
                    tail = check("ann", "secret", passwd, passwd) + SUCCESS
                expected = head(nobody=nobody) + trace + tail
                self.assertResult(self.query("ann", *args, user=user), expected, 1 if nobody else 0)

    def test_policy_echo(self):
        with harness.World(PASSWD, SHADOW, GROUP, policy=POLICY) as world:
            trace, passwd = lookup("des")
            expected = (head(policy=True) + trace + check("des", "letmein1", passwd, passwd)
                        + SUCCESS)
            err = STARTUP + ("Opened /etc/security/policy.conf:\n"
                             "CRYPT_DEFAULT from policy.conf is 1\n")
            self.assertResult(self.query("des", "letmein1", world=world), expected, 0, err=err)

    def test_password_read_with_masked_entry(self):
        trace, passwd = lookup("ann")
        before = head() + trace
        after = check("ann", "secret", passwd, passwd) + SUCCESS
        result = self.world.pty([self.program, "-l", "ann"],
                                [("expect", b"Password for ann: "), ("send", b"secret\r")])
        self.assertEqual(result.screen.decode("latin-1"),
                         before.replace("\n", "\r\n") + "Password for ann: ******\r\n\r"
                         + after.replace("\n", "\r\n"))
        self.assertEqual(result.stderr, STARTUP.encode())
        self.assertEqual(result.status, 0)
        self.assertTrue(result.settings_restored)


# A stand-in for the host's crypt() that hands back the setting unchanged
# for one password: libcrypt never reproduces an encrypted password whose
# format the classifier refuses, so this is the only way to reach the
# report for a password that authenticates against such a string.
ECHO_CRYPT = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <string.h>
char *crypt(const char *key, const char *setting) {
    static char copy[256];
    if (strcmp(key, "opensesame") == 0) {
        strncpy(copy, setting, sizeof copy - 1);
        return copy;
    }
    char *(*real)(const char *, const char *) =
        (char *(*)(const char *, const char *))dlsym(RTLD_NEXT, "crypt");
    return real(key, setting);
}
"""


@unittest.skipUnless(harness.can_use_namespaces() and shutil.which("cc"),
                     "needs root, mount namespaces and a C compiler")
class RefusedFormatThatAuthenticatesTest(unittest.TestCase):
    def setUp(self):
        self.dir, self.library = harness.build_preload(ECHO_CRYPT, "echo_crypt", ["-ldl"])

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_however_paragraphs(self):
        asan = os.environ.get("ASAN_OPTIONS", "")
        env = {"LD_PRELOAD": self.library,
               "ASAN_OPTIONS": (asan + ":" if asan else "") + "verify_asan_link_order=0"}
        trace, passwd = lookup("odd")
        expected = (head() + trace
                    + "Number of characters received for password for odd: 10.\n"
                    + "crypt = [abcdefghijkl]\n"
                    + "guess == answer, but answer was too short (12 chars)\n" + MATCH
                    + '\nEncrypted password for user "odd" returned by the system was:\n\n'
                      "\tabcdefghijkl\n\n"
                    + "Password was authenticated successfully, however, the encrypted password for\n"
                      "user odd appears to not follow the standardized format.  Often, programs\n"
                      "require that the encrypted passwords to be in standard format as a security\n"
                      "precaution.\n")
        with harness.World(PASSWD, SHADOW, GROUP) as world:
            result = world.run([harness.program("credcheck"), "-l", "odd", "opensesame"], env=env)
        self.assertEqual(result.out, expected)
        self.assertEqual(result.status, 1)


if __name__ == "__main__":
    unittest.main()
