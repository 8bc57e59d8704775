"""The shadow stand-in (a build without CRED_WITH_SHADOW): Getspnam only
says that there is no shadow function, even where the shadow file holds
the hash."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

# openssl passwd -1 -salt abcdefgh x
HASH = "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/"


class ShadowStandIn(harness.WorldProgramTest):
    PROGRAM = "cred_lookup_noshadow"

    def test_lookup_and_direct_calls(self):
        files = {
            "passwd": "ann:x:501:20:Ann:/home/ann:/bin/sh\n",
            "shadow": "ann:%s:19000:0:99999:7:::\n" % HASH,
            "group": "staff:x:20:ann\n",
        }
        with harness.World(**files) as w:
            r = w.run([self.program, "name", "ann", "1", "1", "1", "spnam", "ann", "spnamnull",
                       "endcred"])
        self.assertEqual((r.status, r.err), (0, "Cred Library initialized.\n"), r)
        self.assertEqual(
            r.out,
            "-- name\n"
            "GetCredName name=ann wantC=1 wantSupp=1 wantClose=1\n"
            "InitCredStruct\n"
            "PwdToCred: pw->u=ann wantC=1 wantSupp=1\n"
            "struct passwd->pw_passwd = [x] len=1\n"
            'Not long enough ("x", only 1 char) to be a DES crypt password.\n'
            "Encrypted password was invalid.\n"
            "Trying to use Getspnam to get encrypted password.\n"
            "Getspnam: no getspnam function\n"
            "Getspnam returned NULL\n"
            "GetUserGroups maxg=32 u=ann method=/etc/group\n"
            "\tPp->username = [ann]\n"
            "\tPp->passwd = [x], alg = 0\n"
            "\tPp->uid = 501\n"
            "\tPp->gid #0 = 20\n"
            "\tPp->gid #1 = 20\n"
            "\tPp->homedir = [/home/ann]\n"
            "\tPp->shell = [/bin/sh]\n"
            "\tEndspent\n"
            "=> rc=0 alg=0 ngid=2 line=[ann:x:501:20,20:Ann:/home/ann:/bin/sh]\n"
            "-- spnam\nGetspnam: no getspnam function\n=> NULL alg=0\n"
            "-- spnamnull\nGetspnam: no getspnam function\n=> NULL alg=-1\n"
            "-- endcred\nEndCred\n\tendpwent\n\tEndspent\n",
        )


if __name__ == "__main__":
    unittest.main()
