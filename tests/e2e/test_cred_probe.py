"""The availability probe's programming interface through cred_lookup: the
out-values, null pointers for them and the form without arguments.  The
probe's walks as root and as nobody are tested through credcheck -g."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

# openssl passwd -1 -salt abcdefgh x
HASH = "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/"
MD5 = "BSD MD5 password detected.\n"
STAR = 'Not long enough ("*", only 1 char) to be a DES crypt password.\n'
FALLBACK = ("Encrypted password was invalid.\nTrying to use Getspnam to get encrypted password.\n"
            "Getspnam returned NULL\n")


def convert(name, pw, uid, gid, home, shell, verdict, fallback=""):
    """Trace of PwdToCred (wantC 1, wantSupp 0) for a passwd entry."""
    return ("PwdToCred: pw->u=%s wantC=1 wantSupp=0\n" % name
            + "struct passwd->pw_passwd = [%s] len=%d\n" % (pw, len(pw)) + verdict + fallback
            + "\tPp->username = [%s]\n\tPp->passwd = [%s], alg = 0\n" % (name, pw)
            + "\tPp->uid = %d\n\tPp->gid #0 = %d\n" % (uid, gid)
            + "\tPp->homedir = [%s]\n\tPp->shell = [%s]\n" % (home, shell))


class Probe(harness.WorldProgramTest):
    PROGRAM = "cred_lookup"

    def test_walk_ends_at_the_first_valid_entry_in_every_call_form(self):
        passwd = ("root:*:0:0::/root:/bin/sh\n"
                  "ann:%s:501:20::/home/ann:/bin/sh\n"
                  "bob:%s:502:20::/:\n" % (HASH, HASH))
        root = convert("root", "*", 0, 0, "/root", "/bin/sh", STAR, FALLBACK)
        walk = ("GetCredUID uid=0 wantC=1 wantSupp=0 wantClose=1\nInitCredStruct\n"
                + root + "\tEndspent\n" + STAR
                + "GetCredEnt\nInitCredStruct\n" + root + STAR
                + "GetCredEnt\nInitCredStruct\n"
                + convert("ann", HASH, 501, 20, "/home/ann", "/bin/sh", MD5) + MD5
                + 'CanGetEncryptedPasswords2: yes (rc = 1, n = 3, tx = 0, u = "ann")\n'
                "InitCredStruct\n")
        with harness.World(passwd=passwd) as w:
            r = w.run([self.program, "probe", "0", "probenull", "0", "probe0"])
        self.assertEqual((r.status, r.err), (0, "Cred Library initialized.\n"), r)
        self.assertEqual(r.out, "-- probe\n" + walk + "=> rc=1 n=3 tx=0\n"
                         "-- probenull\n" + walk + "=> rc=1\n"
                         "-- probe0\n" + walk + "=> rc=1\n")


if __name__ == "__main__":
    unittest.main()
