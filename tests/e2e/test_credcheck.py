"""credcheck's -l, -c and -g reports in fixture worlds, as root and as nobody,
compared byte for byte. A case is a row; the expected reports are built from a
model of the library's trace."""

import shutil
import unittest

import harness

NOBODY = harness.NOBODY
# Made with openssl passwd -1 -salt abcdefgh PASSWORD (MD5), openssl passwd -6 -salt
# saltsalt PASSWORD (SHA512), python3 -c 'import crypt; print(crypt.crypt(PASSWORD, SALT))'.
MD5_PANCAKES = "$1$abcdefgh$FXMjhOfMBzhxo5h9hPtN91"
MD5_PANCAKES1 = "$1$abcdefgh$cCdE6CSl8ZtXQb8RKHEu01"
MD5_WRONG = "$1$abcdefgh$Bxnz5zCx2ozj/GApQPgz71"
MD5_WRONGWRONG1 = "$1$abcdefgh$m3fLjPiOroP/cARRK1Q1s1"
MD5_WRONGWRO = "$1$abcdefgh$Qo3z8JAalYXU0IGb.TRLn0"
SHA512_SECRET = ("$6$saltsalt$TVLlQcbpFVof5W3Yz4DTP6gRstiNuHwwTt6GLc1E5n0U0aDehy0S5knV8wiOQSpT0Y77"
                 "vwPZN.Pq.H91p5hVO1")
SHA512_WRONG = ("$6$saltsalt$QllWaR3syVkXRkZsU7l/GOpFdqNIVj6vP0E9nt8Kk1dAKC9mtyBopBy6aytyZzf6UgZ1"
                "rd1p94xTTUvEB3bOD/")
YESCRYPT_SECRET = "$y$j9T$F5Jx5fExrKuPp53xLKQ..1$GmcwIgvdUC9qLWcKCi6gklUa1dM3ziD43YxYNURLKy0"
DES_LETMEIN1, DES_EMPTY, DES_PW_KV, DES_PW_AA = "ab3ERPFNQpczI", "abmF1QH4PEr.E", "kv/C/OG7Slg9E", "aa5V9MSdgw5ec"

USERS = [  # name, uid, field in the passwd file, shadow entry
    ("root", 0, "x", MD5_PANCAKES), ("des", 1001, DES_LETMEIN1, None), ("ann", 1002, "x", SHA512_SECRET),
    ("yes", 1003, "x", YESCRYPT_SECRET), ("md5u", 1004, "x", MD5_PANCAKES), ("od", 1005, "********", None),
    ("short", 1006, "kvKPc33T3Jz", None), ("bad", 1007, "abc!defghijkl", None),
    ("odd", 1008, "abcdefghijkl", None)]
UID, FIELD, SHADOW = ({n: u[i] for n, *u in USERS} for i in range(3))
UID.update(bob=1003)
SUPPLEMENTARY = {"root": [10], "ann": [10, 50]}
POLICY = "CRYPT_DEFAULT=1\nCRYPT_ALGORITHMS_ALLOW=1,2a,md5\n CRYPT_DEFAULT=6\n# CRYPT\n"
PROBE_USERS = [("root", 0), ("ann", 1002), ("bob", 1003)]


def passwd_file(users):
    return "".join("%s:%s:%d:%d::/home/%s:/bin/sh\n" % (n, f, u, u, n) for n, u, f in users)


WORLDS = {
    "users": (passwd_file((n, u, f) for n, u, f, _ in USERS),
              "".join("%s:%s:19000:0:99999:7:::\n" % (n, s) for n, _, _, s in USERS if s),
              "# groups\nwheel:x:10:root,ann\nstaff:x:50:ann\nannie:x:60:annie\n"),
    "x": (passwd_file((n, u, "x") for n, u in PROBE_USERS), "root:%s:19000:0:99999:7:::\n" % MD5_PANCAKES, ""),
    "placeholders": (passwd_file((n, u, "********") for n, u in PROBE_USERS), "", ""),
}

# Preloaded stand-ins: a clock that moves on 10 s at every reading (the probe reads the
# deadline first, then once per record); a crypt() that hands back the setting for
# "opensesame" (libcrypt never reproduces a string the classifier refuses); an
# explicit_bzero() that writes each region to standard error before clearing it.
PRELOADS = {
    "clock": "#include <time.h>\ntime_t time(time_t *t) { static time_t now = 1000000; time_t v = now;"
             " now += 10; if (t) *t = v; return v; }\n",
    "echo": "#define _GNU_SOURCE\n#include <dlfcn.h>\n#include <string.h>\n"
            "char *crypt(const char *key, const char *setting) { static char copy[256];\n"
            "  if (strcmp(key, \"opensesame\") == 0) return strncpy(copy, setting, sizeof copy - 1);\n"
            "  return ((char *(*)(const char *, const char *))dlsym(RTLD_NEXT, \"crypt\"))(key, setting); }\n",
    "bzero": "#include <stdio.h>\n#include <unistd.h>\nvoid explicit_bzero(void *p, size_t n) {\n"
             "  unsigned char *b = p; dprintf(2, \"wipe %zu \", n);\n"
             "  for (size_t i = 0; i < n; ++i) dprintf(2, \"%02x\", b[i]);\n"
             "  dprintf(2, \"\\n\"); for (size_t i = 0; i < n; ++i) ((volatile unsigned char *)p)[i] = 0; }\n",
}

STARTUP = "Cred Library initialized.\n"
POLICY_ERR = STARTUP + "Opened /etc/security/policy.conf:\nCRYPT_DEFAULT from policy.conf is 1\n"
KNOWN_ANSWER = "crypt = [kvKPc33T3JzmE]\nencrypted guess == encrypted answer\nDES crypt works.\n"
BANNER = "-" * 79 + "\nThis test is used to verify that:\n"
L_HEAD = BANNER + "(a) The encrypted passwords can be accessed; and\n(b) Passwords can be authenticated.\n\n"
C_HEAD = BANNER + "(a) Passwords can be authenticated.\n\n" + KNOWN_ANSWER
L_WARNING = ("\n*** You do not have superuser privileges ***\n*** On many systems this is required for ***\n"
             "*** querying encrypted passwords.        ***\n\n")
C_WARNING = ("\n*** You do not have superuser privileges ***\n"
             "*** This may be required for validating encrypted password ***\n\n")
POLICY_ECHO = "Found /etc/security/policy.conf:\n    CRYPT_DEFAULT=1\n    CRYPT_ALGORITHMS_ALLOW=1,2a,md5\n"
OPEN_DIRECTORY = ("Sorry, but this version cannot process Mac OS X OpenDirectory passwords.  "
                  "Implementing that is on the To-Do list for a future release.\n")
CLASSIFY = {
    DES_LETMEIN1: "DES crypt password detected.\nEncrypted password was valid.\n",
    "a" * 126: "DES crypt password detected.\nEncrypted password was valid.\n",
    SHA512_SECRET: "SHA-512 password detected.\n", MD5_PANCAKES: "BSD MD5 password detected.\n",
    YESCRYPT_SECRET: "Unknown password encryption detected (unknown:$y) -- relying upon system crypt().\n",
    "********": OPEN_DIRECTORY,
    "abc!defghijkl": "DES crypt password detected.\n"
                     "Non base-64 character ('!', hex $21) detected in in DES crypt password.\n",
}
VERDICT = {DES_LETMEIN1: "DES", SHA512_SECRET: "SHA-512", YESCRYPT_SECRET: "unknown:$y",
           MD5_PANCAKES: "BSD MD5", "abc!defghijkl": "DES"}
MATCH, MISMATCH = "encrypted guess == encrypted answer\n", "encrypted guess did not equal encrypted answer\n"
SUCCESS, NOT_AUTHENTICATED = "Password was authenticated successfully.\n", "Password was NOT authenticated.\n"
NOT_LOOKED_UP = NOT_AUTHENTICATED + ("This is not surprising since it appears that the encrypted password "
                                     "was not\nlooked up correctly.\n")
INVALID = NOT_AUTHENTICATED + "This is not surprising since the encrypted password appears to be invalid.\n"
HOWEVER = ("Password was authenticated successfully, however, the encrypted password for\nuser odd appears to not "
           "follow the standardized format.  Often, programs\nrequire that the encrypted passwords to be in standard "
           "format as a security\nprecaution.\n")
RETRY = "Checking to see if a truncated version of the password works...\n"
FIRST_8 = ("The full-length password (9 chars) was NOT authenticated, BUT using the\n"
           "first 8 characters of the password succeeds.\n")


def classify(field):
    if field in CLASSIFY:
        return CLASSIFY[field]
    return 'Not long enough ("%s", only %d char%s) to be a DES crypt password.\n' % (
        field, len(field), "" if len(field) == 1 else "s")


def record(name, field, shadow_lines, passwd, groups, wants="wantSupp=1", close=True):
    """What the library writes while it fills its record for one user."""
    out = "InitCredStruct\nPwdToCred: pw->u=%s wantC=1 %s\n" % (name, wants)
    out += "struct passwd->pw_passwd = [%s] len=%d\n%s" % (field, len(field), classify(field))
    if shadow_lines is not None:
        out += "Encrypted password was invalid.\nTrying to use Getspnam to get encrypted password.\n" + shadow_lines
    out += groups + "\tPp->username = [%s]\n\tPp->passwd = [%s], alg = 0\n\tPp->uid = %d\n" % (name, passwd, UID[name])
    gids = [UID[name]] + (SUPPLEMENTARY.get(name, []) if "/etc/group" in groups else [])
    out += "".join("\tPp->gid #%d = %d\n" % (i, g) for i, g in enumerate(gids))
    return out + "\tPp->homedir = [/home/%s]\n\tPp->shell = [/bin/sh]\n" % name + ("\tEndspent\n" if close else "")


def shadow_lines(name, nobody):
    if nobody:
        return "Getspnam: Permission denied\nGetspnam returned NULL\n", FIELD[name]
    if SHADOW.get(name):
        return "Getspnam's spwptr->sp_pwdp was [%s], alg=0\n" % SHADOW[name], SHADOW[name]
    return "Getspnam returned NULL\n", FIELD[name]


def query(name, password, crypted=None, outcome=SUCCESS, user=None, method=2, extra=(), stdin=None, world="users"):
    """A -l row: the lookup of name, then the check of password (crypted: what it encrypts to)."""
    nobody, field = user is not None, FIELD[name]
    lines, passwd = (None, field) if field in VERDICT and field != "abc!defghijkl" else shadow_lines(name, nobody)
    line = "GetUserGroups maxg=32 u=%s method=%%s\n" % name
    groups = {1: line % "getgroups()" + line % "1 (invalid!)", 2: line % "/etc/group"}.get(
        method, line % ("%d (invalid!)" % method))
    out = L_HEAD + KNOWN_ANSWER + (POLICY_ECHO if world == "policy" else "") + (L_WARNING if nobody else "")
    out += "\nUsername to query [root]: " if stdin is not None else ""
    out += "GetCredName name=%s wantC=1 wantSupp=1 wantClose=1\n" % name + record(name, field, lines, passwd, groups)
    verdict = "%s encrypted password is %s.\n" % (VERDICT.get(passwd), "INVALID" if passwd == "abc!defghijkl" else "valid")
    out += "GetCredByName rc=0\n" + classify(passwd) + (verdict if passwd in VERDICT else
                                                        "Encrypted password is INVALID.\n") + "\n"
    crypted = passwd if crypted is None else crypted
    out += "Number of characters received for password for %s: %d.\n%s = [%s]\n%s%s" % (
        name, len(password), "Cred_md5_crypt" if passwd.startswith("$1$") else "crypt", crypted,
        MATCH if crypted == passwd else MISMATCH, outcome)
    argv = ["-l", name if stdin is None else "", password] + list(extra)
    return dict(argv=argv, out=out, status=0 if outcome == SUCCESS else 1, user=user, stdin=stdin or b"",
                world=world, err=POLICY_ERR if world == "policy" else STARTUP)


def check(encrypted, guess, outcome, status, stdin=None, user=None, invalid=False):
    """A -c row; the warning for an invalid encrypted password has no line end."""
    classified = classify(encrypted) + ("It appears that the encrypted password you entered is invalid!"
                                        if invalid else "")
    out = C_HEAD + (C_WARNING if user else "")
    if stdin is not None:
        out += "\nEncrypted password: Number of characters input: %d.\n" % len(encrypted)
    out += "Number of characters received for encrypted password: %d.\n%s" % (len(encrypted), classified)
    out += "Number of characters received for password guess: %d.\n%s" % (len(guess), outcome)
    return dict(argv=["-c", "" if stdin is not None else encrypted, guess], out=out, status=status, user=user,
                stdin=stdin or b"")


def md5(*answers):
    return "".join("Cred_md5_crypt = [%s]\n" % a for a in answers)


def probe(users, field, lines, tail, n, tx=0, last=""):
    """A -g walk over root by uid, then users by enumeration, all with field and shadow lines."""
    out = "GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\n" + record("root", field, lines, field, "", "wantSupp=0")
    for name, _ in users:
        out += classify(field) + "GetCredEnt\n" + record(name, field, lines, field, "", "wantSupp=0", close=False)
    return out + classify(field) + tail + (
        'CanGetEncryptedPasswords2: no (rc = 0, n = %d, tx = %d, u = "%s")\nInitCredStruct\n' % (n, tx, last))


def timed(args, records, time_up):
    users = PROBE_USERS[:records]
    tail = "CanGetEncryptedPasswords2: time up\n" if time_up else "GetCredEnt\nInitCredStruct\n"
    out = probe(users, "********", "Getspnam returned NULL\n", tail, 1 + records, int(time_up),
                users[-1][0] if time_up else "")
    return dict(argv=["-g"] + args, out=out, status=1, world="placeholders", env="clock")


def however():
    """A password that authenticates against a string the classifier refuses (a stand-in crypt)."""
    row = query("odd", "opensesame", "abcdefghijkl", HOWEVER)
    row["out"] = row["out"].replace("[abcdefghijkl]\n", "[abcdefghijkl]\nguess == answer, but answer was too short "
                                    "(12 chars)\n").replace(MATCH + HOWEVER, MATCH + '\nEncrypted password for user '
                                    '"odd" returned by the system was:\n\n\tabcdefghijkl\n\n' + HOWEVER)
    return dict(row, env="echo", status=1)


USAGE = ('Usages:\n    {0} -l <user>\n    {0} -c "<encrypted password>"\n\nUse "-l" mode to verify that a '
         'system user\'s password can be queried.\nUse "-c" mode with a given encrypted password to verify '
         'that password\nvalidation works.\n')
DENIED = "Getspnam: Permission denied\nGetspnam returned NULL\n"
ROOT_FOUND = ("GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\n" + record(
    "root", "x", "Getspnam's spwptr->sp_pwdp was [%s], alg=0\n" % MD5_PANCAKES, MD5_PANCAKES, "", "wantSupp=0")
    + CLASSIFY[MD5_PANCAKES] + 'CanGetEncryptedPasswords2: yes (rc = 1, n = 1, tx = 0, u = "root")\n'
    "InitCredStruct\n")

ROWS = [
    # -l: valid passwords, wrong ones, refused formats, the user name asked for, group methods
    query("des", "letmein1"), query("des", "letmein1", user=NOBODY), query("ann", "secret"),
    query("yes", "secret"), query("md5u", "pancakes"),
    query("ann", "wrong", SHA512_WRONG, NOT_AUTHENTICATED), query("des", "", DES_EMPTY, NOT_AUTHENTICATED),
    query("md5u", "pancakes1", MD5_PANCAKES1, RETRY + md5(MD5_PANCAKES) + MATCH + FIRST_8),
    query("ann", "secret", "*0", NOT_LOOKED_UP, user=NOBODY),
    query("od", "pw", "*0", NOT_LOOKED_UP), query("od", "pw", "*0", NOT_LOOKED_UP, user=NOBODY),
    query("short", "pw", DES_PW_KV, NOT_LOOKED_UP, user=NOBODY), query("bad", "pw", "*0", INVALID),
    query("bad", "pw", "*0", INVALID, user=NOBODY),
    query("root", "pancakes", stdin=b"\n"), query("root", "pancakes", stdin=b""),
    query("root", "pancakes", stdin=b"\n", extra=["-g", "1"]), query("des", "letmein1", stdin=b"des"),
    query("ann", "secret", "*0", NOT_LOOKED_UP, user=NOBODY, method=1, extra=["-g", "1"]),
    query("ann", "secret", method=3, extra=["-g", "3"]), query("ann", "secret", extra=["-g"]),
    query("ann", "secret", extra=["-x", "1"]), query("des", "letmein1", world="policy"),
    however(),
    *(dict(argv=["-l", "nope", "pw"], user=u, status=1, out=L_HEAD + KNOWN_ANSWER + (L_WARNING if u else "")
           + "GetCredName name=nope wantC=1 wantSupp=1 wantClose=1\nInitCredStruct\n\tEndspent\n"
             "GetCredByName rc=-1\n") for u in (None, NOBODY)),
    # -c: usage, then checks given on the command line or read from standard input
    dict(argv=[], out="", status=2, err=USAGE),
    *(dict(argv=[mode, "root"], out="", status=2, err=STARTUP + USAGE) for mode in ("-x", "l", "-L", "")),
    dict(argv=["-x"], out="", status=2, world="policy", err=POLICY_ERR + USAGE),
    check(MD5_PANCAKES, "pancakes", md5(MD5_PANCAKES) + MATCH + SUCCESS, 0),
    check(MD5_PANCAKES, "pancakes", md5(MD5_PANCAKES) + MATCH + SUCCESS, 0, user=NOBODY),
    check(DES_LETMEIN1, "letmein1", "crypt = [%s]\n" % DES_LETMEIN1 + MATCH + SUCCESS, 0),
    check(DES_LETMEIN1, "letmein1extra", "crypt = [%s]\n" % DES_LETMEIN1 + MATCH + SUCCESS, 0),
    check(MD5_PANCAKES, "wrong", md5(MD5_WRONG) + MISMATCH + NOT_AUTHENTICATED, 1),
    check(MD5_PANCAKES, "pancakes1", md5(MD5_PANCAKES1) + MISMATCH + RETRY + md5(MD5_PANCAKES) + MATCH + FIRST_8, 1),
    check(MD5_PANCAKES, "wrongwrong1",
          md5(MD5_WRONGWRONG1) + MISMATCH + RETRY + md5(MD5_WRONGWRO) + MISMATCH + NOT_AUTHENTICATED, 1),
    check("abc!defghijkl", "pw", "crypt = [*0]\n" + MISMATCH + NOT_AUTHENTICATED, 1, invalid=True),
    check(MD5_PANCAKES, "pancakes", md5(MD5_PANCAKES) + MATCH + SUCCESS, 0, stdin=MD5_PANCAKES.encode() + b"\n"),
    check(MD5_PANCAKES, "pancakes", md5(MD5_PANCAKES) + MATCH + SUCCESS, 0, stdin=MD5_PANCAKES.encode()),
    check("a" * 126, "pw", "crypt = [%s]\n" % DES_PW_AA + MISMATCH + NOT_AUTHENTICATED, 1, stdin=b"a" * 200 + b"\n"),
    check("", "pw", "crypt = [*0]\n" + MISMATCH + NOT_AUTHENTICATED, 1, stdin=b"", invalid=True),
    dict(argv=["-c", MD5_PANCAKES], status=1, err=STARTUP + "\n*** Error: gl_getline(): not interactive, use stdio.\n",
         out=C_HEAD + "Number of characters received for encrypted password: 34.\n" + CLASSIFY[MD5_PANCAKES] + "\n"),
    # -g: root's hash in the shadow file, readable by root only; the time limit's forms
    dict(argv=["-g"], world="x", status=1, out=ROOT_FOUND),
    dict(argv=["-g"], world="x", status=1, user=NOBODY,
         out=probe(PROBE_USERS, "x", DENIED, "GetCredEnt\nInitCredStruct\n", 4)),
    timed([], 3, False), timed([""], 3, False), timed(["0"], 3, False), timed(["-5"], 3, False),
    timed(["abc"], 3, False), timed(["99999999999999999999"], 3, False), timed(["3"], 1, True),
    timed([" +3x"], 1, True), timed(["10"], 2, True),
]


@unittest.skipUnless(shutil.which("cc"), "needs a C compiler")
class CredcheckTest(harness.WorldProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.worlds = {k: cls.make_world(*v) for k, v in dict(WORLDS, policy=WORLDS["users"] + (POLICY,)).items()}
        cls.preloads = {k: harness.build_preload(src, k, ["-ldl"]) for k, src in PRELOADS.items()}
        for folder, _ in cls.preloads.values():
            cls.addClassCleanup(shutil.rmtree, folder, True)

    def run_row(self, argv, world="users", user=None, env=None, stdin=b""):
        env = harness.preload_env(self.preloads[env][1]) if env else None
        return self.worlds[world].run([self.program] + argv, stdin=stdin, user=user, env=env)

    def test_reports(self):
        for row in ROWS:
            with self.subTest(argv=row["argv"], user=row.get("user"), stdin=row.get("stdin")):
                r = self.run_row(row["argv"], row.get("world", "users"), row.get("user"), row.get("env"),
                                 row.get("stdin", b""))
                err = row.get("err", STARTUP).format(self.program)
                self.assertEqual((r.out, r.err, r.status), (row["out"], err, row["status"]))

    def test_masked_entry(self):
        rows = [  # arguments, the same run with the password given, where the prompt goes, prompt, typed
            (["-l", "ann"], query("ann", "secret"), "Number of characters received for password", "Password for ann: ",
             "secret"),
            *((["-c", MD5_PANCAKES] + extra, check(MD5_PANCAKES, "pancakes", md5(MD5_PANCAKES) + MATCH + SUCCESS, 0),
               "Number of characters received for password guess", "\nPassword guess: ", "pancakes")
              for extra in ([], [""])),
        ]
        for argv, row, at, prompt, typed in rows:
            with self.subTest(argv=argv):
                cut = row["out"].index(at)
                r = self.worlds["users"].pty([self.program] + argv, [("expect", prompt.strip().encode()),
                                                                    ("send", typed.encode() + b"\r")])
                screen = (row["out"][:cut] + prompt).replace("\n", "\r\n") + "*" * len(typed) + "\r\n\r" + \
                    row["out"][cut:].replace("\n", "\r\n")
                self.assertEqual((r.screen.decode("latin-1"), r.stderr, r.status), (screen, STARTUP.encode(), 0))
                self.assertTrue(r.settings_restored)

    def test_secrets_are_cleared(self):
        def held(size, text):
            return lambda region: len(region) == size and region.startswith(text.encode() + b"\0")

        def record(region):
            return region.startswith(b"ann\0") and SHA512_SECRET.encode() in region

        rows = [  # arguments, status, what some cleared region must have held
            (["-c", MD5_PANCAKES, "pancakes1"], 1, [held(128, MD5_PANCAKES), held(128, "pancakes"),
                                                   lambda region: region == b"pancakes1"]),
            (["-l", "ann", "secret"], 0, [held(128, "secret"), record]),
            (["-c", MD5_PANCAKES], 1, [held(128, MD5_PANCAKES)]),  # ended by the masked entry
        ]
        for argv, status, wanted in rows:
            with self.subTest(argv=argv):
                r = self.run_row(argv, env="bzero")
                regions = [bytes.fromhex(line.split(b" ", 2)[2].decode())
                           for line in r.stderr.splitlines() if line.startswith(b"wipe ")]
                self.assertEqual(r.status, status)
                for i, check_region in enumerate(wanted):
                    self.assertTrue(any(map(check_region, regions)), "region %d not among %r" % (i, regions))


if __name__ == "__main__":
    unittest.main()
