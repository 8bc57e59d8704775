"""The Cred library's programming interface in fixture worlds, through the
cred_lookup test program: what credcheck never asks for (the flags, lookups
by user id, enumeration, direct shadow lookups, registered group buffers,
the process's own groups).  credcheck -l covers the lookups by name."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

# openssl passwd -1 -salt abcdefgh x
HASH = "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/"
LONG = "l" * 200

PASSWD = (
    "root:x:0:0:root:/root:/bin/sh\n"
    "ann:x:501:20:Ann:/home/ann:/bin/sh\n"
    "bob:********:502:20:Bob:/home/bob:/bin/bash\n"
    "carl:%s:503:30::/home/carl:\n"
    "%s:*:504:40:Long:/:/bin/false\n" % (HASH, LONG)
)
SHADOW = "root:%s:19000:0:99999:7:::\nann:%s:19000:0:99999:7:::\n" % (HASH, HASH)
GROUP = (
    "# wheel:x:0:bob\n"
    "wheel:x:0:root,ann\n"
    "\n"
    "others:x:5:bob,annie\n"
    "staff:x:20:ann\n"
    "last:x:30:carl,ann"
)

STARTUP = "Cred Library initialized.\n"


class CredWorld(harness.WorldProgramTest):
    """Runs cred_lookup in a world and checks start-up and status."""

    PROGRAM = "cred_lookup"

    def world(self, **files):
        w = harness.World(**files)
        self.addCleanup(w.close)
        return w

    def run_in(self, world, args, user=None):
        r = world.run([self.program] + args, user=user)
        self.assertEqual((r.status, r.err), (0, STARTUP), r)
        return r.out


class Lookups(CredWorld):
    def setUp(self):
        self.w = self.world(passwd=PASSWD, shadow=SHADOW, group=GROUP)

    def test_flags_and_user_ids(self):
        args = ["name", "carl", "1", "0", "1", "uid", "503", "0", "0", "0",
                "uid", "4294967295", "1", "1", "1", "uid", "504", "0", "1", "0"]
        cut = LONG[:127]
        self.assertEqual(
            self.run_in(self.w, args),
            # A valid hash in the user entry: no fallback; no groups asked.
            "-- name\n"
            "GetCredName name=carl wantC=1 wantSupp=0 wantClose=1\n"
            "InitCredStruct\n"
            "PwdToCred: pw->u=carl wantC=1 wantSupp=0\n"
            "struct passwd->pw_passwd = [%s] len=34\n"
            "BSD MD5 password detected.\n"
            "\tPp->username = [carl]\n"
            "\tPp->passwd = [%s], alg = 0\n"
            "\tPp->uid = 503\n"
            "\tPp->gid #0 = 30\n"
            "\tPp->homedir = [/home/carl]\n"
            "\tPp->shell = []\n"
            "\tEndspent\n"
            "=> rc=0 alg=0 ngid=1 line=[carl:%s:503:30::/home/carl:]\n"
            # No encrypted password asked for, and no closing.
            "-- uid\n"
            "GetCredUID uid=503 wantC=0 wantSupp=0 wantClose=0\n"
            "InitCredStruct\n"
            "PwdToCred: pw->u=carl wantC=0 wantSupp=0\n"
            "struct passwd->pw_passwd = [%s] len=34\n"
            "\tPp->username = [carl]\n"
            "\tPp->passwd = [], alg = 0\n"
            "\tPp->uid = 503\n"
            "\tPp->gid #0 = 30\n"
            "\tPp->homedir = [/home/carl]\n"
            "\tPp->shell = []\n"
            "=> rc=0 alg=0 ngid=1 line=[carl::503:30::/home/carl:]\n"
            "-- uid\n"
            "GetCredUID uid=4294967295 wantC=1 wantSupp=1 wantClose=1\n"
            "InitCredStruct\n"
            "\tEndspent\n"
            "=> rc=-1 alg=0 ngid=0 line=[::4294967295:4294967295:::]\n"
            # A 200-character name is kept to 127; no group lists it.
            "-- uid\n"
            "GetCredUID uid=504 wantC=0 wantSupp=1 wantClose=0\n"
            "InitCredStruct\n"
            "PwdToCred: pw->u=%s wantC=0 wantSupp=1\n"
            "struct passwd->pw_passwd = [*] len=1\n"
            "GetUserGroups maxg=32 u=%s method=/etc/group\n"
            "\tPp->username = [%s]\n"
            "\tPp->passwd = [], alg = 0\n"
            "\tPp->uid = 504\n"
            "\tPp->gid #0 = 40\n"
            "\tPp->homedir = [/]\n"
            "\tPp->shell = [/bin/false]\n"
            "=> rc=0 alg=0 ngid=1 line=[%s::504:40:Long:/:/bin/false]\n"
            % (HASH, HASH, HASH, HASH, LONG, cut, cut, cut),
        )

    def test_enumeration_continues_unless_restarted(self):
        def entry(name, uid, gid, gecos, home, shell, pw):
            return (
                "-- ent\nGetCredEnt\nInitCredStruct\n"
                "PwdToCred: pw->u=%s wantC=0 wantSupp=0\n"
                "struct passwd->pw_passwd = [%s] len=%d\n"
                "\tPp->username = [%s]\n\tPp->passwd = [], alg = 0\n"
                "\tPp->uid = %d\n\tPp->gid #0 = %d\n"
                "\tPp->homedir = [%s]\n\tPp->shell = [%s]\n"
                "=> rc=0 alg=0 ngid=1 line=[%s::%d:%d:%s:%s:%s]\n"
                % (name, pw, len(pw), name, uid, gid, home, shell, name, uid, gid, gecos, home, shell)
            )

        root = entry("root", 0, 0, "root", "/root", "/bin/sh", "x")
        ann = entry("ann", 501, 20, "Ann", "/home/ann", "/bin/sh", "x")
        bob = entry("bob", 502, 20, "Bob", "/home/bob", "/bin/bash", "********")
        args = ["ent", "1", "0", "0", "0", "ent", "2", "0", "0", "0", "ent", "0", "0", "0", "0",
                "ent", "1", "0", "0", "0", "endcred"]
        self.assertEqual(
            self.run_in(self.w, args),
            root + ann + bob + root + "-- endcred\nEndCred\n\tendpwent\n\tEndspent\n",
        )

    def test_end_of_enumeration_leaves_the_record_initial(self):
        w = self.world(passwd="ann:x:501:20::/:\n", group="")
        out = self.run_in(w, ["ent", "1", "0", "0", "0", "ent", "0", "0", "0", "1"])
        self.assertTrue(
            out.endswith(
                "-- ent\nGetCredEnt\nInitCredStruct\n\tEndspent\n"
                "=> rc=-1 alg=0 ngid=0 line=[::4294967295:4294967295:::]\n"
            ),
            out,
        )

    def test_shadow_lookup_directly(self):
        # No entry for bob: no reason is written, since errno is 0 or ENOENT.
        self.assertEqual(
            self.run_in(self.w, ["spnam", "root", "spnam", "bob", "spnamnull"]),
            "-- spnam\n=> %s alg=0\n"
            "-- spnam\n=> NULL alg=0\n"
            "-- spnamnull\nGetspnam: Invalid argument\n=> NULL alg=-1\n" % HASH,
        )


class GroupLists(CredWorld):
    def setUp(self):
        self.w = self.world(passwd=PASSWD, shadow=SHADOW, group=GROUP)

    def test_registered_buffer_used_only_above_512_bytes_and_wiped(self):
        self.assertEqual(
            self.run_in(self.w, ["groupbuf", "512", "ann", "groupbuf", "513", "ann"]),
            "-- groupbuf\nGetUserGroups maxg=32 u=ann method=/etc/group\n"
            "=> n=3 ids=0,20,30\n=> buffer untouched\n"
            "-- groupbuf\nGetUserGroups maxg=32 u=ann method=/etc/group\n"
            "=> n=3 ids=0,20,30\n=> buffer zeroed\n",
        )

    def test_unreadable_group_file(self):
        w = self.world(passwd=PASSWD, group=GROUP)
        os.chmod(os.path.join(w.dir, "group"), 0o600)
        self.assertEqual(
            self.run_in(w, ["groups", "ann", "32"], harness.NOBODY),
            "-- groups\nGetUserGroups maxg=32 u=ann method=/etc/group\n"
            "=> n=-1 errno=Permission denied first=-1\n",
        )

    def test_process_groups_whatever_the_user(self):
        args = ["setgroups", "7,8,9", "method", "1", "groups", "ann", "32", "groups", "bob", "2"]
        self.assertEqual(
            self.run_in(self.w, args),
            "-- setgroups\nsetgroups rc=0\n=> rc=0\n-- method\n"
            "-- groups\nGetUserGroups maxg=32 u=ann method=getgroups()\n=> n=3 ids=7,8,9\n"
            "-- groups\nGetUserGroups maxg=2 u=bob method=getgroups()\n=> n=2 ids=7,8\n",
        )

if __name__ == "__main__":
    unittest.main()
