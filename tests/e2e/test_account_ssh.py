"""credcheck -a --ssh: sshd's own rules in a fixture world with its own
/etc/ssh (a config per row of CASES, a host key made by ssh-keygen), homes on
a tmpfs and a private PAM stack."""

import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

SECRET = harness.mkpasswd("-m", "sha512crypt", "secret")
HEAD = "HostKey /etc/ssh/host_key\nUsePAM yes\n"
MATCH = ("KbdInteractiveAuthentication no\nPasswordAuthentication yes\nMatch Address 10.0.0.0/8\n"
         "  PasswordAuthentication no\n")
CUSTOM = "AuthorizedKeysFile .ssh/authorized_keys /etc/ssh/keys/%u\n" + MATCH
# name: (uid, gid, supplementary groups, home mode, .ssh mode, authorized_keys mode or None)
USERS = {
    "root": (0, 0, [], 0o700, 0o700, 0o600), "alice": (2001, 2001, [], 0o755, 0o700, 0o600),
    "bob": (2002, 2002, ["staff"], 0o755, 0o700, None), "carol": (2003, 2003, ["wheel"], 0o755, 0o700, None),
    "wfile": (2004, 2004, [], 0o755, 0o700, 0o646), "wssh": (2005, 2005, [], 0o755, 0o777, 0o600),
    "whome": (2006, 2006, [], 0o777, 0o700, 0o600), "ghost": (2007, 4242, [], 0o755, 0o700, 0o600),
    "deep": (2008, 2008, [], 0o755, 0o700, 0o600), "linked": (2009, 2009, [], 0o755, 0o700, None),
    "sparse": (2010, 2010, [], 0o755, 0o700, 0o600), "race": (2011, 2011, [], 0o755, 0o700, 0o600),
    "acl": (2012, 2012, [], 0o755, 0o700, 0o600),
}
HOMES = {"deep": "open/deep"}  # under a folder anyone may write: StrictModes stops at the home
TEN, OTHER = ["--ssh", "10.1.2.3"], ["--ssh", "192.168.1.1"]
DENIED = "ssh-denied"
KEYS = "AuthorizedKeysFile /etc/ssh/keys/%s\n"
# (config after HEAD, user, arguments, verdict, {JSON path: value})
CASES = [
    ("DenyUsers al?ce@10.0.0.0/8\n", "alice", TEN, DENIED,
     {"ssh.allowed": False, "ssh.rule": "DenyUsers al?ce@10.0.0.0/8"}),
    ("DenyUsers al?ce@10.0.0.0/8\n", "alice", OTHER, "ok", {"ssh.allowed": True, "ssh.rule": None}),
    ("DenyUsers *@*,!10.1.2.3\n", "alice", OTHER, DENIED, {"ssh.rule": "DenyUsers *@*,!10.1.2.3"}),
    ("DenyUsers !alice\n", "alice", TEN, "ok", {"ssh.allowed": True}),  # '!' is no negation there
    ("AllowUsers bob\nAllowUsers alice@192.168.0.0/16\n", "alice", TEN, DENIED,
     {"ssh.rule": "AllowUsers bob alice@192.168.0.0/16"}),
    ("AllowUsers bob\nAllowUsers alice@192.168.0.0/16\n", "alice", OTHER, "ok", {"ssh.allowed": True}),
    ("AllowUsers alice@*,!192.168.1.1\n", "alice", OTHER, DENIED, {"ssh.allowed": False}),
    ("DenyGroups st?ff\n", "bob", TEN, DENIED, {"ssh.rule": "DenyGroups st?ff"}),
    ("DenyGroups !staff\n", "alice", TEN, "ok", {"ssh.allowed": True}),
    ("AllowGroups wheel\nAllowGroups staff\n", "bob", TEN, "ok", {"ssh.allowed": True}),
    ("AllowGroups wheel\nAllowGroups !staff\n", "alice", TEN, DENIED, {"ssh.rule": "AllowGroups wheel !staff"}),
    ("AllowGroups *\n", "ghost", TEN, DENIED, {"ssh.rule": "AllowGroups"}),
    ("PermitRootLogin no\n", "root", TEN, DENIED, {"ssh.rule": "PermitRootLogin no", "ssh.keys": 2}),
    ("PermitRootLogin prohibit-password\n", "root", TEN, "ok",
     {"ssh.password": False, "ssh.password_off": "PermitRootLogin prohibit-password", "ssh.keys": 2}),
    ("PermitRootLogin forced-commands-only\n", "root", TEN, "ok", {"ssh.keys": 1}),
    ("PermitRootLogin yes\n", "root", TEN, "ok", {"ssh.password": True}),
    (MATCH, "bob", TEN, DENIED,
     {"ssh.password": False, "ssh.keys": 0, "ssh.reason": "password logins are off from 10.1.2.3 "
      "(PasswordAuthentication no, KbdInteractiveAuthentication no), and no authorized key is usable"}),
    (MATCH, "bob", OTHER, "ok", {"ssh.password": True, "ssh.address": "192.168.1.1"}),
    (MATCH, "alice", TEN, "ok", {"ssh.password": False, "ssh.keys": 2, "ssh.strict_modes": []}),
    (MATCH, "wfile", TEN, DENIED,
     {"ssh.strict_modes": [{"path": "/home/wfile/.ssh/authorized_keys", "problem": "writable by group or others"}]}),
    (MATCH, "wssh", TEN, DENIED, {"ssh.strict_modes.0.path": "/home/wssh/.ssh"}),
    (MATCH, "whome", TEN, DENIED,  # named once for its two files
     {"ssh.strict_modes": [{"path": "/home/whome", "problem": "writable by group or others"}]}),
    (MATCH, "deep", TEN, "ok", {"ssh.keys": 2}),
    ("StrictModes no\n" + MATCH, "whome", TEN, "ok", {"ssh.keys": 4, "ssh.strict_modes": []}),
    (CUSTOM, "carol", TEN, "ok", {"ssh.keys": 2}),
    (CUSTOM, "carol", ["--ssh", "10.9.9.9"], "ok", {"ssh.keys": 1}),  # from="..." refuses one
    ("PubkeyAuthentication no\n" + MATCH, "alice", TEN, DENIED, {"ssh.keys_off": "PubkeyAuthentication no"}),
    ("PasswordAuthentication no\nKbdInteractiveAuthentication yes\n", "bob", TEN, "ok", {"ssh.password": True}),
    ("AuthenticationMethods publickey,password\n", "alice", TEN, "ok",
     {"ssh.password": False, "ssh.password_off": "AuthenticationMethods", "ssh.keys": 2}),
    ("AuthenticationMethods password\n", "root", TEN, DENIED, {"ssh.rule": "AuthenticationMethods password"}),
    ("AuthorizedKeysCommand /bin/true\nAuthorizedKeysCommandUser nobody\n" + MATCH, "bob", TEN, "ok",
     {"ssh.keys": None}),
    # Unknown settings refuse nothing, and say that sshd's rules were not checked.
    ("NoSuchOption yes\n", "alice", TEN, "unchecked",
     {"ssh.unavailable": "sshd could not print its settings: /etc/ssh/sshd_config: line 3: "
      "Bad configuration option: NoSuchOption", "ssh.allowed": None}),
    # A file the user cannot reach counts nothing, nor one that is not a regular file, a FIFO or a
    # device (never opened), nor what lies under a FIFO; a sparse file is read up to its limit.
    (MATCH, "linked", TEN, DENIED,
     {"ssh.keys": 0, "ssh.strict_modes": [{"path": "/home/secret", "problem": "not searchable by the user"}]}),
    ("AuthorizedKeysFile /run/fifo /run/fifo/keys /dev/zero\n" + MATCH, "alice", TEN, DENIED,
     {"ssh.strict_modes": [{"path": "/run/fifo", "problem": "not a regular file"},
                           {"path": "/dev/zero", "problem": "not a regular file"}]}),
    (MATCH, "sparse", TEN, "ok", {"ssh.keys": 2}),
    (MATCH, "acl", TEN, DENIED, {"ssh.strict_modes.0.problem": "not readable by the user"}),
    # Keys sshd would not take: by type, by expiry-time, by their base64 and blob, by options.
    (KEYS % "dss" + MATCH, "alice", TEN, DENIED, {"ssh.reason": "password logins are off from 10.1.2.3 "
      "(PasswordAuthentication no, KbdInteractiveAuthentication no), and no authorized key is usable "
      "(sshd would not use 1 key: its type is not in PubkeyAcceptedAlgorithms)"}),
    (KEYS % "dss" + "PubkeyAcceptedAlgorithms +ssh-dss\n", "alice", TEN, "ok", {"ssh.keys": 1}),
    (KEYS % "rsa" + "PubkeyAcceptedAlgorithms rsa-sha2-512\n", "alice", TEN, "ok", {"ssh.keys": 1}),
    (KEYS % "rsa" + "PubkeyAcceptedAlgorithms ssh-ed25519\n" + MATCH, "alice", TEN, DENIED, {"ssh.keys": 0}),
    (KEYS % "expiry" + MATCH, "alice", TEN, "ok", {"ssh.keys": 1}),
    (KEYS % "broken" + MATCH, "alice", TEN, DENIED, {"ssh.keys": 0, "ssh.reason": "password logins are off from "
      "10.1.2.3 (PasswordAuthentication no, KbdInteractiveAuthentication no), and no authorized key is usable "
      "(sshd would not use 5 keys; the first: its base64 does not decode to a key of the type its line names)"}),
    # With a password, PAM runs sshd's service unless --pam names another.
    (MATCH, "alice", ["secret"] + TEN, "ok", {"pam.service": "sshd", "pam.account.ok": True}),
    (MATCH, "alice", ["secret", "--pam", "private"] + TEN, "pam-denied", {"pam.service": "private"}),
    (MATCH, "bob", ["wrong"] + TEN, DENIED, {"password.authenticates": False}),
]


class SshReportTest(harness.WorldProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        passwd = "sshd:x:100:65534::/run/sshd:/usr/sbin/nologin\n" + "".join(
            "%s:x:%d:%d::/home/%s:/bin/sh\n" % (n, u, g, HOMES.get(n, n)) for n, (u, g, *_) in USERS.items())
        group = "root:x:0:\nstaff:x:3000:bob\nwheel:x:3001:carol\n" + "".join(
            "%s:x:%d:\n" % (n, g) for n, (_, g, *_) in USERS.items() if g not in (0, 4242))
        shadow = "".join("%s:%s:19000:0:99999:7:::\n" % (n, SECRET) for n in USERS)
        pamd = {"sshd": "auth required pam_unix.so nodelay\naccount required pam_unix.so\n",
                "private": "auth required pam_unix.so nodelay\naccount required pam_deny.so\n"}
        cls.world = w = cls.make_world(passwd=passwd, shadow=shadow, group=group, pamd=pamd, shells="/bin/sh\n")
        os.makedirs(os.path.join(w.dir, "ssh", "keys"), 0o755)
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(w.dir, "ssh", "host_key")],
                       check=True)
        with open(os.path.join(w.dir, "ssh", "host_key.pub")) as f:
            key = f.read().strip()
        w.write("ssh/keys/carol", 'from="10.0.0.0/8,!10.9.9.9" %s\n%s\n' % (key, key))
        cls.write_keys(w, key)
        for name, (uid, gid, _, home, dot, keys) in USERS.items():
            cls.make_home(w, name, uid, gid, home, dot, keys, key)
        # A root-only folder with keys anyone may read: linked's authorized_keys links to them, and race's
        # .ssh turns into a link to the folder and back.
        secret = os.path.join(w.dir, "home", "secret")
        os.mkdir(secret, 0o700)
        for name, mode in (("open", 0o644), ("authorized_keys", 0o600)):
            w.write("home/secret/" + name, (key + "\n") * 3, mode)
        os.symlink("/home/secret/open", os.path.join(w.dir, "home/linked/.ssh/authorized_keys"))
        os.symlink("/home/secret", os.path.join(w.dir, "home/race/.ssh_link"))
        w.prepare += ["mount -t tmpfs -o mode=755 tmpfs /home && cp -a %s/home/. /home/" % w.dir, "mkdir /run/sshd",
                      "truncate -s 50G /home/sparse/.ssh/authorized_keys", "mkfifo /run/fifo",
                      # root's, mode 0644, with an ACL entry that leaves acl nothing (user::rw- user:acl:---
                      # group::r-- mask::r-- other::r--)
                      "chown root /home/acl/.ssh/authorized_keys && python3 -c 'import os, struct; os.setxattr("
                      "\"/home/acl/.ssh/authorized_keys\", \"system.posix_acl_access\", struct.pack(\"<I\" + "
                      "\"HHI\" * 5, 2, 1, 6, 0, 2, 0, 2012, 4, 4, 0, 16, 4, 0, 32, 4, 0))'"]

    @staticmethod
    def write_keys(w, key):
        """Key files for the KEYS rows, each with its own kind of key sshd would not take."""
        keys = {}
        for kind in ("dsa", "rsa"):
            path = os.path.join(w.dir, kind)
            subprocess.run(["ssh-keygen", "-q", "-t", kind, "-N", "", "-f", path], check=True)
            with open(path + ".pub") as f:
                keys[kind] = f.read().strip()
            os.remove(path), os.remove(path + ".pub")
        kind, blob = key.split()[:2]
        w.write("ssh/keys/dss", keys["dsa"] + "\n")
        w.write("ssh/keys/rsa", keys["rsa"] + "\n")
        w.write("ssh/keys/expiry", 'expiry-time="20200101" %s\nexpiry-time="20991231235959Z",command="a, b" %s\n'
                'expiry-time="2099" %s\nexpiry-time="20200101T00" %s\n' % (key, key, key, key))
        w.write("ssh/keys/broken", "%s AAAA%%%%%s\nssh-rsa %s\n%s %s\nno-such-option %s\nprincipals=\"a\" %s\n" % (
            kind, blob[8:], blob, kind, blob[:-2], key, key))

    @staticmethod
    def make_home(w, name, uid, gid, home, dot, keys, key):
        folder = os.path.join(w.dir, "home", HOMES.get(name, name))
        os.makedirs(os.path.join(folder, ".ssh"))
        os.chmod(os.path.dirname(folder), 0o1777 if name in HOMES else 0o755)
        if keys is not None:
            # A comment, a blank line, a key past the part of its line that is
            # read, a forced command (what forced-commands-only leaves), and a key.
            text = "# keys\n\n%s %s\ncommand=\"/bin/true\" %s\n  %s\n" % ("x" * 40000, key, key, key)
            for name in ("authorized_keys", "authorized_keys2")[:2 if name == "whome" else 1]:
                os.chown(w.write(os.path.join(folder, ".ssh", name), text, keys), uid, gid)
        for path, mode in ((os.path.join(folder, ".ssh"), dot), (folder, home)):
            os.chown(path, uid, gid)
            os.chmod(path, mode)

    def config(self, text):
        self.world.write("ssh/sshd_config", HEAD + text)
        return self.world

    def test_cases(self):
        for config, user, args, verdict, keys in CASES:
            with self.subTest(config=config, user=user, args=args):
                report = self.report(self.config(config), [user] + args, verdict, keys)
                self.assertNotIn("AAAA", str(report))  # no key material

    def test_text(self):
        self.text(self.config(MATCH), ["wssh"] + TEN, [line + "\n" for line in [
            "SSH:       from 10.1.2.3: no rule refuses",
            "           password logins: off (PasswordAuthentication no, KbdInteractiveAuthentication no)",
            "           authorized keys: none usable",
            "           StrictModes refuses /home/wssh/.ssh: writable by group or others",
            "Verdict:   ssh-denied (exit 15): sshd refuses the user: password logins are off from "
            "10.1.2.3 (PasswordAuthentication no, KbdInteractiveAuthentication no), and no authorized "
            "key is usable (StrictModes refuses 1 path)"]])
        self.text(self.config("DenyUsers bob\n"), ["bob", "--ssh"],
                  ["SSH:       from 127.0.0.1: refused by DenyUsers bob\n"])

    def test_folder_swapped_while_read(self):
        # race's .ssh turns into a link to the root-only folder and back while credcheck runs: the
        # three keys there never count; runs see race's own two, or none through the link.
        swap = ("import ctypes\nx = ctypes.CDLL(None).renameat2\nwhile True: x(-100, b\".ssh\", -100, "
                "b\".ssh_link\", 2)")  # RENAME_EXCHANGE: .ssh is always there, a folder or a link
        script = ("cd /home/race && { python3 -c '%s' & } && for i in $(seq 100); do %s -a race --ssh 10.1.2.3 "
                  "--json; echo; done; kill $!" % (swap, self.program))
        r = self.config(MATCH).run(["sh", "-c", script])
        counts = {json.loads(line)["ssh"]["keys"] for line in r.out.splitlines() if line}
        self.assertEqual(counts, {0, 2}, r.err)

    def test_settings_unreadable_as_another_user(self):
        # sshd -T needs the host key, which only root may read.
        ssh = self.report(self.config("DenyUsers alice\n"), ["alice"] + TEN, "unreadable", user=harness.NOBODY)["ssh"]
        self.assertEqual(ssh["allowed"], None)
        self.assertTrue(ssh["unavailable"].startswith("sshd could not print its settings: "), ssh)


if __name__ == "__main__":
    unittest.main()
