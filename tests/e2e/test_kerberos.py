"""credcheck -a for Kerberos users: an MIT KDC and kadmind of our own
(kerberos.py), pam_krb5 in the stacks Debian writes and alone, and local
entries whose password field is a placeholder or a stale hash.  Each row is
compared with kinit and pamtester in the same world, and kadmin.local's
getprinc before and after the report shows that the report changed nothing
at the KDC: the key, the password's expiry, and the failure count (one more
only where a wrong password was given)."""

import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import directory  # noqa: E402
import harness  # noqa: E402
import kerberos  # noqa: E402

# What pam-auth-update writes with pam_unix and pam_krb5.
AUTH = ("auth\t[success=2 default=ignore]\tpam_krb5.so minimum_uid=1000\n"
        "auth\t[success=1 default=ignore]\tpam_unix.so nullok try_first_pass\n"
        "auth\trequisite\t\t\tpam_deny.so\nauth\trequired\t\t\tpam_permit.so\n")
ACCOUNT = ("account\t[success=1 new_authtok_reqd=done default=ignore]\tpam_unix.so\n"
           "account\trequisite\t\t\tpam_deny.so\naccount\trequired\t\t\tpam_permit.so\n"
           "account\trequired\t\t\tpam_krb5.so minimum_uid=1000\n")
PAMD = {"common-auth": AUTH, "common-account": ACCOUNT, "login": "@include common-auth\n@include common-account\n",
        "krb5": "auth required pam_krb5.so\naccount required pam_krb5.so\n",
        "krb5-defer": "auth required pam_krb5.so defer_pwchange\naccount required pam_krb5.so\n"}
PRINCIPALS = {"kgood": "-pw secret", "kwrong": "-pw secret -policy lockout", "kstale": "-pw secret",
              "kchg": "-pw secret -pwexpire 2020-01-01", "kexp": "-pw secret -expire 2020-01-01",
              "klock": "-pw secret -policy lockout"}
LOCAL = ["kgood", "kwrong", "kstale", "kchg", "kexp", "klock", "kghost", "klocal"]
STALE = harness.mkpasswd("-m", "sha512crypt", "oldpass")
# (user, password or None, service, verdict, kerberos.answer, password.checked_by)
ROWS = [
    ("kgood", "secret", "login", "ok", "ok", "pam_krb5.so"),
    ("kgood", None, "login", "ok", "ok", None),
    ("kgood", "secret", "krb5", "ok", "ok", "pam_krb5.so"),
    ("kwrong", "wrong", "login", "wrong-password", "KDC_ERR_PREAUTH_FAILED", "pam_krb5.so"),
    ("kstale", "secret", "login", "ok", "ok", "pam_krb5.so"),
    ("kstale", "oldpass", "login", "ok", "KDC_ERR_PREAUTH_FAILED", "pam_unix.so"),
    ("kchg", "secret", "login", "expired", "KDC_ERR_KEY_EXPIRED", None),
    ("kchg", "secret", "krb5-defer", "expired", "KDC_ERR_KEY_EXPIRED", "pam_krb5.so"),
    ("kchg", None, "login", "expired", "KDC_ERR_KEY_EXPIRED", None),
    ("kexp", "secret", "login", "expired", "KDC_ERR_NAME_EXP", None),
    ("klock", "secret", "login", "locked-out", "KDC_ERR_CLIENT_REVOKED", None),
    ("klock", None, "login", "locked-out", "KDC_ERR_CLIENT_REVOKED", None),
    ("kghost", "secret", "login", "no-such-user", "KDC_ERR_C_PRINCIPAL_UNKNOWN", None),
    ("klocal", "oldpass", "login", "ok", "KDC_ERR_C_PRINCIPAL_UNKNOWN", "pam_unix.so"),  # no principal, a hash
]
REASONS = {("kchg", "secret", "login"): "the Kerberos password of kchg@FIELD.TEST expired on 2020-01-01",
           ("kchg", "secret", "krb5-defer"): "the Kerberos password of kchg@FIELD.TEST expired on 2020-01-01",
           ("klock", "secret", "login"): 'the KDC locked klock out (`kadmin -q "modprinc -unlock klock"`)',
           ("kghost", "secret", "login"): "the KDC has no principal kghost@FIELD.TEST"}


class KerberosTest(harness.WorldProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        kerberos.skip_unless_possible()
        cls.realm = kerberos.Realm(PRINCIPALS)
        cls.addClassCleanup(cls.realm.close)
        for _ in range(3):
            cls.realm.kinit("klock", "wrong")
        users = [(name, 2001 + i) for i, name in enumerate(LOCAL)] + [("local", 500)]
        cls.world = cls.make_world(
            "root:x:0:0::/root:/bin/sh\n" + "".join("%s:x:%d:100::/:/bin/sh\n" % u for u in users),
            "root:*:19000:0:99999:7:::\n" + "".join(
                "%s:%s:19000:0:99999:7:::\n" % (name, STALE if name in ("kstale", "klocal") else "!")
                for name, _ in users),
            "root:x:0:\nusers:x:100:\n", pamd=PAMD)
        cls.world.prepare.append("mount --bind %s /etc/krb5.conf" % cls.realm.path("krb5.conf"))

    def check(self, user, password, service, verdict, as_user=None):
        """The report, pamtester's answer and kinit's, and the KDC unchanged by the report."""
        before = self.realm.getprinc(user) if user in PRINCIPALS else None
        args = [user] + (["-"] if password is not None else []) + ["--pam", service]
        stdin = (password or "").encode() + b"\n"
        report = self.report(self.world, args, verdict, {"hash.from": "kerberos"}, stdin=stdin, user=as_user)
        if before is not None:
            after = self.realm.getprinc(user)
            if password == "wrong" or password == "oldpass":
                before = [line.replace("attempts: 0", "attempts: 1") for line in before]
            self.assertEqual(after, before, "the report changed the principal")
        if password is not None and report["pam"]["authenticate"]["ok"] is not None:
            self.assert_pamtester_agrees(self.world, report["pam"], user, stdin, as_user)
        elif password is not None:  # not run: the KDC had refused the password
            t = self.world.run(["pamtester", service, user, "authenticate"], stdin=stdin, user=as_user)
            self.assertEqual(t.status == 0, verdict == "ok", t)
        return report

    def test_login(self):
        for user, password, service, verdict, answer, checked_by in ROWS:
            with self.subTest(user=user, password=password, service=service):
                report = self.check(user, password, service, verdict)
                self.assertEqual((report["kerberos"]["answer"], report["password"]["checked_by"],
                                  report["kerberos"]["kdc"] is not None), (answer, checked_by, True))
                if (user, password, service) in REASONS:
                    self.assertIn(REASONS[user, password, service], report["reason"])
                self.assertEqual(self.realm.kinit(user, password or "secret")[0] == 0, answer == "ok")
        # below pam_krb5's minimum_uid the local entry decides
        self.report(self.world, ["local", "-", "--pam", "login"], "locked", {"hash.from": "shadow",
                                                                            "kerberos": None}, stdin=b"x\n")
        text = self.text(self.world, ["kgood"], ["Kerberos:", "another module of the stack holds the credential"])
        self.assertNotIn("locked", text)

    def test_kdc_unreachable_and_audit(self):
        self.addCleanup(self.realm.start_kdc)
        self.realm.stop_kdc()
        report = self.check("kgood", "secret", "login", "offline")
        self.assertEqual((report["kerberos"]["answer"], report["kerberos"]["kdc"]), ("KDC_UNREACH", None))
        self.assertIn("no KDC of FIELD.TEST answered", report["reason"])
        self.assertEqual(self.realm.kinit("kgood", "secret")[0], 1)
        # the audit asks no KDC: the holder's verdicts without one
        r = self.world.run([self.program, "-a", "--all", "--json"])
        *users, summary = [json.loads(line) for line in r.out.splitlines()]
        verdicts = {u["user"]: (u["verdict"], u["hash"]["from"], u["kerberos"]) for u in users}
        self.assertEqual([verdicts[u] for u in ("kgood", "kstale", "local")],
                         [("ok", "kerberos", None), ("ok", "kerberos", None), ("locked", "shadow", None)])
        self.assertEqual((r.status, summary["summary"]["verdicts"].get("offline")), (0, None))

    def test_keytab(self):
        # a keytab that no longer matches: the KDC's key was renewed since
        for keytab in ("stale.keytab", "krb5.keytab"):
            self.realm.kadmin("ktadd -k %s %s" % (self.realm.path(keytab), kerberos.HOST))
        self.addCleanup(self.realm.write_krb5_conf)
        self.realm.write_krb5_conf("stale.keytab")
        for service in ("login", "krb5"):
            report = self.check("kgood", "secret", service, "pam-denied")
            self.assertIn("does not match the KDC's key", report["reason"])
            self.assertEqual(report["pam"]["decided_by"]["module"], "pam_krb5.so")
        self.realm.write_krb5_conf()
        self.check("kgood", "secret", "login", "ok")
        # as nobody the keytab cannot be read, and pam_unix's account step cannot check the entry
        report = self.check("kgood", "secret", "login", "pam-denied", as_user=harness.NOBODY)
        self.assertEqual((report["kerberos"]["answer"], report["kerberos"]["keytab"]), ("ok", None))
        self.realm.write_krb5_conf("missing.keytab")
        self.check("kgood", "secret", "login", "ok")

    def test_clock_skew(self):
        # the KDC's clock alone two hours ahead (faketime): the library follows it, unless told not to
        self.addCleanup(self.realm.write_krb5_conf)
        self.addCleanup(self.realm.start_kdc)
        self.realm.start_kdc("+2h")
        for extra, verdict, answer, said in [("", "ok", "ok", "7200 seconds apart"),
                                             ("    kdc_timesync = 0\n", "pam-denied", "KRB_AP_ERR_SKEW",
                                              "Clock skew too great")]:
            self.realm.write_krb5_conf(extra=extra)
            self.assertEqual(self.realm.kinit("kgood", "secret")[0] == 0, verdict == "ok")
            report = self.check("kgood", "secret", "login", verdict)
            self.assertEqual(report["kerberos"]["answer"], answer)
            self.assertIn(said, report["kerberos"]["text"])


class SssdKerberos(directory.Directory):
    """The directory world with SSSD's krb5 provider against realm: ids from slapd, passwords
    from the KDC, ticket caches written where the test sees them."""

    def __init__(self, realm, users):
        self.realm = realm
        super().__init__(users, {"dirusers": 5000})

    def sssd_conf(self, enumerate):
        return super().sssd_conf(enumerate).replace("auth_provider = ldap", (
            "auth_provider = krb5\nkrb5_realm = %s\nkrb5_server = 127.0.0.1:%d\nkrb5_ccachedir = %s"
            % (kerberos.REALM, self.realm.ports["kdc"], self.path("caches"))))

    def _hold_namespace(self):
        os.mkdir(self.path("caches"))
        os.chmod(self.path("caches"), 0o1777)
        with open(self.realm.path("krb5.conf")) as f:
            harness.write(self.path("etc/krb5.conf"), f.read())
        super()._hold_namespace()


class SssdKerberosTest(harness.WorldProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        kerberos.skip_unless_possible()
        directory.skip_unless_possible()
        cls.realm = kerberos.Realm({"alice": "-pw secret", "kchg": "-pw secret -pwexpire 2020-01-01"})
        cls.addClassCleanup(cls.realm.close)
        cls.world = SssdKerberos(cls.realm, {"alice": {"uidNumber": 5001}, "kchg": {"uidNumber": 5002}})
        cls.addClassCleanup(cls.world.close)

    def test_login(self):
        caches = self.world.path("caches")
        for user, password, verdict, answer in [("alice", "secret", "ok", "ok"),
                                                ("alice", "wrong", "wrong-password", "KDC_ERR_PREAUTH_FAILED"),
                                                ("kchg", "secret", "expired", "KDC_ERR_KEY_EXPIRED")]:
            with self.subTest(user=user, password=password):
                before = self.realm.getprinc(user)
                report = self.report(self.world, [user, password], verdict, {
                    "hash.from": "kerberos", "kerberos.answer": answer, "password.checked_by": "pam_sss.so"})
                if password == "wrong":
                    before = [line.replace("attempts: 0", "attempts: 1") for line in before]
                self.assertEqual((self.realm.getprinc(user), os.listdir(caches)), (before, []))
                if report["pam"]["authenticate"]["ok"] is not None:
                    self.assert_pamtester_agrees(self.world, report["pam"], user, password.encode() + b"\n")
                for name in os.listdir(caches):  # pamtester's own
                    os.unlink(os.path.join(caches, name))


if __name__ == "__main__":
    unittest.main()
