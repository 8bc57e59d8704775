"""credcheck -a with --pam: the run names the module that refused and keeps
what the modules said; pamtester, in the same world, gives the same
answers; and no report changes a pam_faillock tally.  The host's own
modules run from private stacks in a fixture world, as root and as uid
65534.  pam_debug stands in for a directory's module (pam_credtest.so, a
link to it) and for stacks whose every answer is chosen."""

import glob
import os
import select
import shutil
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

SECRET = harness.mkpasswd("-m", "sha512crypt", "secret")
# Asks for a code (echoed) and the password (hidden): success for "" and "secret"; or,
# with an argument, for the password and then a new one, which it writes to that file.
PROMPT_MODULE = r"""
#include <security/pam_ext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
int pam_sm_authenticate(pam_handle_t *h, int flags, int argc, const char **argv) {
    char *code = NULL, *pass = NULL;
    if (argc == 1) {  /* "renew FILE": the password, then a new one, kept in FILE */
        pam_prompt(h, PAM_PROMPT_ECHO_OFF, &pass, "Password: ");
        if (pass == NULL || pam_prompt(h, PAM_PROMPT_ECHO_OFF, &code, "New password: ") != PAM_SUCCESS || !code)
            return free(pass), PAM_AUTHTOK_ERR;
        FILE *f = fopen(argv[0], "w");
        if (f) fputs(code, f), fclose(f);
        return free(pass), free(code), PAM_SUCCESS;
    }
    pam_prompt(h, PAM_PROMPT_ECHO_ON, &code, "Code: ");
    pam_prompt(h, PAM_PROMPT_ECHO_OFF, &pass, "Password: ");
    int ok = code && !*code && pass && !strcmp(pass, "secret");
    free(code);
    free(pass);
    return ok ? PAM_SUCCESS : PAM_AUTH_ERR;
}
"""


def debug(*lines):
    """pam_debug lines, "[account] CONTROL ANSWER" each."""
    out = ""
    for line in lines:
        step = "account" if line.startswith("account ") else "auth"
        control, answer = line[len("account ") if step == "account" else 0:].rsplit(" ", 1)
        out += "%s %s pam_debug.so %s=%s\n" % (step, control, "acct" if step == "account" else "auth", answer)
    return out


JUMPS = ("auth [success=2 default=ignore] pam_unix.so nodelay\nauth [success=1 default=ignore] {cred} %s\n"
         "auth requisite pam_deny.so\nauth required pam_permit.so\n"
         "account [default=bad success=ok user_unknown=ignore] {cred} %s\naccount required pam_permit.so\n")
UNIX = "auth required pam_unix.so nodelay\naccount required pam_unix.so\n"
# pam_faillock as its manual page lays it out: authfail answers "ignore", and die ends the stack.
FLM = harness.FAILLOCK_STACK.replace("default=bad", "default=ignore")
# Writes what it reads (the password, with expose_authtok) to a file: it must never run.
HOOK = "#!/bin/sh\ncat > %s/hook-out/$1\n"
PAMD = {
    "deb": "auth [success=1 default=ignore] pam_unix.so nullok nodelay\nauth requisite pam_deny.so\n"
           "auth required pam_permit.so\naccount required pam_unix.so\n",
    "fl": harness.FAILLOCK_STACK % "pam_unix.so nodelay", "flm": FLM % "pam_unix.so nodelay",
    "dirflm": FLM % "{cred} auth=auth_err", "tally2": "auth required pam_tally2.so\n" + UNIX,
    "hook": "auth optional pam_exec.so expose_authtok {tools}/hook auth\n" + UNIX.replace("account", "account "
            "required pam_exec.so {tools}/hook account\naccount", 1),
    "loose": "auth required {tools}/pam_loose.so auth=success\naccount required pam_permit.so\n",
    "dirfl": harness.FAILLOCK_STACK % "{cred} auth=auth_err",
    "nl": "auth requisite pam_nologin.so\n" + UNIX + "account required pam_nologin.so\n",
    "acc": "account required pam_access.so\n" + UNIX,
    "sif": "account required pam_succeed_if.so uid >= 1000 quiet\n" + UNIX,
    "su": "auth sufficient pam_rootok.so\n" + UNIX, "other": UNIX,
    "prompt": "auth required {tools}/pam_prompt.so\naccount required pam_permit.so\n",
    "renew": "auth required {tools}/pam_prompt.so {tools}/hook-out/new\naccount required pam_permit.so\n",
    "noisy": "auth optional pam_echo.so file={tools}/noise\nauth required pam_permit.so\n"
             "account required pam_permit.so\n",
    "dirok": JUMPS % ("auth=success", "acct=success"), "dirbad": JUMPS % ("auth=auth_err", "acct=success"),
    "dirdown": JUMPS % ("auth=authinfo_unavail", ""), "direxp": JUMPS % ("", "acct=acct_expired"),
    "dirperm": JUMPS % ("", "acct=perm_denied"),
    # How Linux-PAM weighs answers.
    "requisite": debug("required success", "requisite perm_denied", "required auth_err"),
    "substack": debug("required success") + "auth substack subdone\nauth substack subreset\n"
                + debug("required cred_err"),
    "subdone": debug("[success=done default=die] success", "required auth_err"),
    "subreset": debug("required perm_denied", "[default=reset] success"),
    "reset": debug("required auth_err", "[default=reset] success", "required success"),
    "falls": debug("[success=3 default=ignore] user_unknown", "[success=2 default=ignore] auth_err",
                   "[success=1 default=ignore] ignore") + "auth requisite pam_deny.so\n" + debug("required success"),
    "zerojump": debug("[success=0 default=ignore] auth_err", "required success"),
    "badjump": debug("[success=5] success", "required success"),
    "typo": "auht optional pam_permit.so\nauth required pam_permit.so\naccount required pam_permit.so\n",
    "missing": "-auth optional pam_missing.so\nauth required pam_permit.so\n-account required pam_missing.so\n",
    "unknown": debug("[default=ignore] user_unknown"),
    "sufficient": debug("required auth_err", "sufficient success", "required cred_err"),
    "newtok": debug("required success", "account sufficient new_authtok_reqd", "account required perm_denied"),
}
USERS = {"root": 0, "alice": 1000, "bob": 1001, "olga": 1002, "dave": 1003, "sys1": 500, "nobody": 65534}
# Old failures, two recent ones; bob's three and nobody's one come from failed logins.
TALLIES = {"olga": harness.tally(4000, 3900, 3800), "dirk": harness.tally(20, 10)}
FAILED_LOGINS = {"bob": 3, "nobody": 1}

MAINT = "Maintenance until 14:00"
NOBODY = harness.NOBODY
LONG = "s" * 300  # Linux-PAM would run "other" for a name no file can have
ASSUMED = "lines of the stack were not run (they act outside this process, or their module's file is not"
# (user, password, service, as uid, nologin, verdict, decided_by "module type status" or None,
#  texts among the messages and notes)
CASES = [
    ("alice", "secret", "deb", None, None, "ok", None, []),
    ("alice", "secret", "nl", None, MAINT, "no-login", "pam_nologin.so auth auth_err", [MAINT]),
    ("root", "secret", "nl", None, MAINT, "ok", None, []),
    ("bob", "secret", "fl", None, None, "locked-out", "pam_faillock.so auth auth_err",
     ["The account is locked due to 3 failed logins.", "(10 minutes left to unlock)"]),
    ("bob", "secret", "fl", NOBODY, None, "unreadable", "pam_unix.so auth authinfo_unavail", []),
    ("olga", "secret", "fl", None, None, "ok", None, []),
    ("nobody", "wrong", "fl", NOBODY, None, "unreadable", "pam_unix.so auth authinfo_unavail", []),
    ("dirk", "secret", "dirfl", None, None, "wrong-password", "pam_credtest.so auth auth_err", []),
    ("dirk", "wrong", "dirfl", NOBODY, None, "wrong-password", "pam_credtest.so auth auth_err", []),
    ("dave", "secret", "acc", None, None, "access-denied", "pam_access.so account perm_denied", []),
    ("sys1", "secret", "sif", None, None, "access-denied", "pam_succeed_if.so account auth_err", []),
    ("dirk", "secret", "dirok", None, None, "ok", None, []),
    ("dirk", "wrong", "dirbad", None, None, "wrong-password", "pam_credtest.so auth auth_err", []),
    ("dirk", "secret", "dirdown", None, None, "pam-denied", "pam_credtest.so auth authinfo_unavail", []),
    ("dirk", "secret", "direxp", None, None, "expired", "pam_credtest.so account acct_expired", []),
    ("dirk", "secret", "dirperm", None, None, "access-denied", "pam_credtest.so account perm_denied", []),
    ("alice", "secret", "flm", None, None, "ok", None, []),
    ("bob", "secret", "flm", None, None, "locked-out", "pam_faillock.so auth auth_err", []),
    ("dirk", "wrong", "dirflm", None, None, "wrong-password", "pam_credtest.so auth auth_err",
     ["a wrong password counts as a failed login where the credential is held"]),
    ("nobody", "wrong", "flm", NOBODY, None, "unreadable", "pam_unix.so auth authinfo_unavail", []),
    # Runs that cannot be made are unchecked; one skipped on purpose is not.
    ("alice", "secret", "tally2", None, None, "unchecked", None,
     ["not checked: PAM service tally2 was not run: the stack has pam_tally2.so"]),
    ("alice", "secret", LONG, None, None, "unchecked", None, ["not run: the service name is longer than"]),
    ("alice", "secret", "..", None, None, "unchecked", None, ["not run: the service name names a folder"]),
    ("alice", "wrong", "deb", None, None, "wrong-password", None, ["not run: the password does not match"]),
    # Lines that act outside the process, or that a user other than root may have changed.
    ("alice", "secret", "hook", None, None, "ok", None,
     [ASSUMED, "skipped auth pam_exec.so", "skipped account pam_exec.so"]),
    ("alice", "secret", "loose", None, None, "ok", None, [ASSUMED, "skipped auth %s/pam_loose.so"]),
    # Without a password only an account step that writes no state runs.
    ("root", None, "su", None, None, "ok", None, ["not run: no password"]),
    ("dave", None, "acc", None, None, "access-denied", "pam_access.so account perm_denied", []),
    ("bob", None, "fl", None, None, "locked-out", None, ["not run: no password"]),
    ("dirk", None, "direxp", None, None, "ok", None, ["not run: no password"]),
    ("alice", "secret", "su", NOBODY, None, "unreadable", "pam_unix.so auth authinfo_unavail",
     ["pam_unix cannot check another user's password unless run as root (unix_chkpwd refuses)"]),
    ("alice", "secret", "nosuchservice", None, None, "ok", None,
     ['the service has no file of its own: the "other" service answered']),
    ("alice", "secret", "prompt", None, None, "ok", None, ["Code:"]),
    # the second hidden prompt gets no answer: no password is ever changed
    ("alice", "secret", "renew", None, None, "expired", "pam_prompt.so auth authtok_err",
     ["New password:", 'a module asked for a new password ("New password:")']),
    ("alice", "secret", "noisy", None, None, "ok", None, ["A?B" + "x" * 252]),
    ("alice", "secret", "requisite", None, None, "pam-denied", "pam_debug.so auth perm_denied", []),
    ("alice", "secret", "substack", None, None, "pam-denied", "pam_debug.so auth cred_err", []),
    ("alice", "secret", "reset", None, None, "ok", None, []),
    ("alice", "secret", "falls", None, None, "pam-denied", "pam_debug.so auth auth_err", []),
    ("alice", "secret", "zerojump", None, None, "pam-denied", "pam_debug.so auth auth_err", []),
    ("alice", "secret", "badjump", None, None, "pam-denied", "pam_debug.so auth success", []),
    ("alice", "secret", "typo", None, None, "ok", None, []),
    ("alice", "secret", "missing", None, None, "pam-denied", "pam_missing.so account module_unknown", []),
    ("alice", "secret", "unknown", None, None, "pam-denied", "pam_debug.so auth user_unknown", []),
    ("alice", "secret", "sufficient", None, None, "pam-denied", "pam_debug.so auth auth_err", []),
    ("alice", "secret", "newtok", None, None, "expired", "pam_debug.so account new_authtok_reqd", []),
]


class LoginPamTest(harness.WorldProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.tools = harness.build_preload(PROMPT_MODULE, "pam_prompt", ["-lpam"])[0]
        cls.tmp = harness.scratch("tmp")
        for folder in (cls.tools, cls.tmp):
            cls.addClassCleanup(shutil.rmtree, folder, True)
        os.chmod(cls.tmp, 0o1777)
        cred = os.path.join(cls.tools, "pam_credtest.so")
        os.symlink(glob.glob("/usr/lib*/*/security/pam_debug.so")[0], cred)
        for name, text in (("passwd", "dirk:*:5000:5000::/:/bin/sh\n"), ("shadow", ""),
                           ("noise", "A\x01B" + "x" * 600 + "\nsecond line\n")):
            harness.write(os.path.join(cls.tools, name), text)
        harness.write(os.path.join(cls.tools, "hook"), HOOK % cls.tools, 0o755)
        os.chmod(shutil.copy(os.path.realpath(cred), os.path.join(cls.tools, "pam_loose.so")), 0o666)
        cls.world = cls.make_world(
            passwd="".join("%s:x:%d:%d::/:/bin/sh\n" % (name, uid, uid) for name, uid in USERS.items()),
            shadow="".join("%s:%s:19000:0:::::\n" % (name, SECRET) for name in USERS), group="root:x:0:\n",
            nsswitch=harness.CREDTEST_NSSWITCH, pamd={k: v.format(cred=cred, tools=cls.tools) for k, v in PAMD.items()})
        cls.tally_dir = os.path.join(cls.world.dir, "tally")
        cls.world.write("security/faillock.conf", "dir = %s\ndeny = 3\n" % cls.tally_dir)
        cls.world.write("security/access.conf", "-:dave:ALL\n")
        # A socket over /dev/log (a tmpfs over /dev, with the nodes the runs use) takes what PAM logs.
        cls.log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        cls.addClassCleanup(cls.log.close)
        cls.log.bind(os.path.join(cls.world.dir, "log"))
        os.chmod(os.path.join(cls.world.dir, "log"), 0o666)  # runs as uid 65534 log too
        os.mkdir(os.path.join(cls.world.dir, "dev"))
        cls.world.prepare.append(
            'mount --bind /dev {0}/dev && mount -t tmpfs tmpfs /dev && for n in null zero random urandom tty; do '
            'touch /dev/$n && mount --bind {0}/dev/$n /dev/$n || exit 1; done && touch /dev/log && '
            'mount --bind {0}/log /dev/log'.format(cls.world.dir))
        cls.env = dict(harness.LIBS, TMPDIR=cls.tmp, CREDTEST_PASSWD=os.path.join(cls.tools, "passwd"),
                       CREDTEST_SHADOW=os.path.join(cls.tools, "shadow"))
        for user, data in TALLIES.items():
            cls.world.write("tally/" + user, data)
        for user, count in FAILED_LOGINS.items():
            for _ in range(count):
                cls.world.run(["pamtester", "fl", user, "authenticate"], stdin=b"wrong\n", env=cls.env)
        os.chmod(os.path.join(cls.tally_dir, "bob"), 0o664)  # uid 65534 may read it, not write it
        cls.saved = {user: (data, os.stat(os.path.join(cls.tally_dir, user)))
                     for user, (data, _) in harness.tallies(cls.tally_dir).items()}

    def restore(self):
        """Every tally as the failed logins left it (pamtester counts failures), no hook's file, nothing logged."""
        self.errors_logged()
        shutil.rmtree(os.path.join(self.tools, "hook-out"), True)
        os.mkdir(os.path.join(self.tools, "hook-out"))
        for user, (data, st) in self.saved.items():
            path = harness.write(os.path.join(self.tally_dir, user), data, st.st_mode & 0o7777)
            os.chown(path, st.st_uid, st.st_gid)

    def test_cases(self):
        for user, password, service, as_user, nologin, verdict, decided, said in CASES:
            with self.subTest(user=user, service=service, as_user=as_user):
                self.restore()
                self.world.run_files = {"nologin": nologin} if nologin is not None else None
                before = harness.tallies(self.tally_dir)
                report = self.report(self.world, [user] + [password] * (password is not None) + ["--pam", service],
                                     verdict, user=as_user, env=self.env)
                pam = report["pam"]
                # No tally changed, no hook ran, the private copy is gone.
                self.assertEqual((harness.tallies(self.tally_dir), os.listdir(self.tmp)), (before, []))
                self.assertEqual(os.listdir(os.path.join(self.tools, "hook-out")), [])
                by = pam["decided_by"]
                self.assertEqual(by and " ".join((by["module"], by["type"], by["status"])), decided, pam)
                texts = [m["text"] for m in pam["messages"]] + pam["notes"] + report["notes"] + [
                    report["reason"], pam["authenticate"]["text"], pam["account"]["text"]] + [
                    "skipped %s %s" % (line["type"], line["module"]) for line in pam["skipped"]]
                for text in said:
                    self.assertTrue([t for t in texts if text.replace("%s", self.tools) in t], (text, texts))
                self.assertEqual(report["unchecked"] is not None, verdict == "unchecked")
                logged = self.errors_logged()
                stdin = b"\nsecret\n" if service == "prompt" else (password or "").encode() + b"\n"
                if password is None:
                    self.assert_account_agrees(pam, user)
                elif pam["authenticate"]["ok"] is not None:
                    self.assert_pamtester_agrees(self.world, pam, user, stdin, as_user, self.env)
                # PAM logs no error for the private copy that the service itself does not give
                # (but the refusal of a second hidden prompt, which pamtester answers).
                refused = {line for line in logged if service == "renew" and "conversation failed" in line}
                self.assertLessEqual(logged - refused, self.errors_logged(), "credcheck's errors against pamtester's")

    def errors_logged(self):
        """The messages at error level or worse sent to /dev/log since the last call."""
        said = set()
        while select.select([self.log], [], [], 0)[0]:
            line = self.log.recv(65536).decode()
            if int(line[1:line.index(">")]) & 7 <= 3:
                said.add(line.split(": ", 1)[1])
        return said

    def assert_account_agrees(self, pam, user):
        """Without a password: the account step alone, where it ran, as pamtester's acct_mgmt answers it."""
        if pam["account"]["ok"] is not None:
            t = self.world.run(["pamtester", pam["service"], user, "acct_mgmt"], env=self.env)
            said = "Success" if t.status == 0 else t.err.strip().rsplit("pamtester: ", 1)[-1]
            self.assertEqual((pam["account"]["ok"], pam["account"]["text"]), (t.status == 0, said), t)

    def test_text(self):
        self.world.run_files = {"nologin": MAINT}
        self.text(self.world, ["alice", "secret", "--pam", "nl"], [
            "PAM:       service nl: authenticate: Authentication failure; account: not run: "
            "authentication did not succeed\n", "           error: " + MAINT + "\n",
            "           decided by pam_nologin.so (auth, requisite): Authentication failure\n",
            "Stack:     auth requisite pam_nologin.so\n           auth required pam_unix.so nodelay\n"], env=self.env)
        self.world.run_files = None
        self.text(self.world, ["alice", "secret", "--pam", "hook"], [
            "PAM:       service hook: authenticate: Success; account: Success\n           not run, assumed to succeed: "
            "auth optional pam_exec.so expose_authtok %s/hook auth\n" % self.tools], env=self.env)


if __name__ == "__main__":
    unittest.main()
