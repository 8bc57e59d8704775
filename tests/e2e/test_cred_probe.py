"""The availability probe in fixture worlds, through cred_lookup."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

# openssl passwd -1 -salt abcdefgh x
HASH = "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/"
MD5 = "BSD MD5 password detected.\n"
SHORT_X = 'Not long enough ("x", only 1 char) to be a DES crypt password.\n'
PLACEHOLDER = (
    "Sorry, but this version cannot process Mac OS X OpenDirectory passwords.  "
    "Implementing that is on the To-Do list for a future release.\n"
)
FALLBACK = "Encrypted password was invalid.\nTrying to use Getspnam to get encrypted password.\n"
NOTHING = "Getspnam returned NULL\n"
DENIED = "Getspnam: Permission denied\n"


def convert(entry, verdict, shadow=None):
    """Trace of PwdToCred (wantC 1, wantSupp 0) for a passwd entry, with the
    classifier's verdict on the entry's password; shadow is the fallback's
    trace and the password it found (None: no fallback)."""
    name, pw, uid, gid, home, shell = entry
    out = "PwdToCred: pw->u=%s wantC=1 wantSupp=0\n" % name
    out += "struct passwd->pw_passwd = [%s] len=%d\n" % (pw, len(pw)) + verdict
    if shadow is not None:
        out += FALLBACK + shadow[0]
        pw = shadow[1] or pw
    out += "\tPp->username = [%s]\n\tPp->passwd = [%s], alg = 0\n" % (name, pw)
    out += "\tPp->uid = %d\n\tPp->gid #0 = %d\n" % (uid, gid)
    out += "\tPp->homedir = [%s]\n\tPp->shell = [%s]\n" % (home, shell)
    return out


def passwd_file(entries):
    return "".join("%s:%s:%d:%d::%s:%s\n" % e for e in entries)


class Probe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not harness.can_use_namespaces():
            raise unittest.SkipTest("fixture worlds need root and mount namespaces")
        cls.program = harness.program("cred_lookup")

    def probe(self, world_files, args, user=None):
        with harness.World(**world_files) as w:
            r = w.run([self.program] + args, user=user)
        self.assertEqual((r.status, r.err), (0, "Cred Library initialized.\n"), r)
        return r.out

    def test_valid_superuser_needs_no_enumeration(self):
        root = ("root", HASH, 0, 0, "/root", "/bin/sh")
        ann = ("ann", "x", 501, 20, "/", "")
        out = self.probe({"passwd": passwd_file([root, ann])}, ["probe", "0"])
        self.assertEqual(
            out,
            "-- probe\n"
            "GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\n"
            "InitCredStruct\n" + convert(root, MD5) + "\tEndspent\n" + MD5 +
            'CanGetEncryptedPasswords2: yes (rc = 1, n = 1, tx = 0, u = "root")\n'
            "InitCredStruct\n"
            "=> rc=1 n=1 tx=0\n",
        )

    def test_placeholders_everywhere_walks_every_entry(self):
        entries = [
            ("root", "********", 0, 0, "/root", "/bin/sh"),
            ("ann", "********", 501, 20, "/home/ann", "/bin/sh"),
            ("bob", "********", 502, 20, "/", ""),
        ]
        fallback = (NOTHING, None)
        walk = "GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\nInitCredStruct\n"
        walk += convert(entries[0], PLACEHOLDER, fallback) + "\tEndspent\n" + PLACEHOLDER
        for e in entries:
            walk += "GetCredEnt\nInitCredStruct\n" + convert(e, PLACEHOLDER, fallback)
            walk += PLACEHOLDER
        walk += "GetCredEnt\nInitCredStruct\n"
        verdict = 'CanGetEncryptedPasswords2: no (rc = 0, n = 4, tx = 0, u = "")\nInitCredStruct\n'
        # The out-values, null pointers, and the form without arguments.
        out = self.probe({"passwd": passwd_file(entries)}, ["probe", "0", "probenull", "0", "probe0"])
        self.assertEqual(
            out,
            "-- probe\n" + walk + verdict + "=> rc=0 n=4 tx=0\n"
            "-- probenull\n" + walk + verdict + "=> rc=0\n"
            "-- probe0\n" + walk + verdict + "=> rc=0\n",
        )

    def test_superuser_hash_in_the_shadow_file(self):
        root = ("root", "x", 0, 0, "/root", "/bin/sh")
        ann = ("ann", "x", 501, 20, "/home/ann", "/bin/sh")
        files = {
            "passwd": passwd_file([root, ann]),
            "shadow": "root:%s:19000:0:99999:7:::\nann:%s:19000:0:99999:7:::\n" % (HASH, HASH),
        }
        found = ("Getspnam's spwptr->sp_pwdp was [%s], alg=0\n" % HASH, HASH)
        self.assertEqual(
            self.probe(files, ["probe", "0"]),
            "-- probe\nGetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\nInitCredStruct\n"
            + convert(root, SHORT_X, found) + "\tEndspent\n" + MD5 +
            'CanGetEncryptedPasswords2: yes (rc = 1, n = 1, tx = 0, u = "root")\n'
            "InitCredStruct\n=> rc=1 n=1 tx=0\n",
        )
        # nobody cannot read the shadow file: nothing valid anywhere.
        refused = (DENIED + NOTHING, None)
        walk = "GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\nInitCredStruct\n"
        walk += convert(root, SHORT_X, refused) + "\tEndspent\n" + SHORT_X
        for e in (root, ann):
            walk += "GetCredEnt\nInitCredStruct\n" + convert(e, SHORT_X, refused) + SHORT_X
        self.assertEqual(
            self.probe(files, ["probe", "0"], harness.NOBODY),
            "-- probe\n" + walk + "GetCredEnt\nInitCredStruct\n"
            'CanGetEncryptedPasswords2: no (rc = 0, n = 3, tx = 0, u = "")\n'
            "InitCredStruct\n=> rc=0 n=3 tx=0\n",
        )

    def test_valid_entry_found_by_enumeration_ends_the_walk(self):
        root = ("root", "*", 0, 0, "/root", "/bin/sh")
        ann = ("ann", HASH, 501, 20, "/home/ann", "/bin/sh")
        bob = ("bob", HASH, 502, 20, "/", "")
        star = 'Not long enough ("*", only 1 char) to be a DES crypt password.\n'
        out = self.probe({"passwd": passwd_file([root, ann, bob])}, ["probe", "0"])
        self.assertEqual(
            out,
            "-- probe\nGetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\nInitCredStruct\n"
            + convert(root, star, (NOTHING, None)) + "\tEndspent\n" + star
            + "GetCredEnt\nInitCredStruct\n" + convert(root, star, (NOTHING, None)) + star
            + "GetCredEnt\nInitCredStruct\n" + convert(ann, MD5) + MD5
            + 'CanGetEncryptedPasswords2: yes (rc = 1, n = 3, tx = 0, u = "ann")\n'
            "InitCredStruct\n=> rc=1 n=3 tx=0\n",
        )


if __name__ == "__main__":
    unittest.main()
