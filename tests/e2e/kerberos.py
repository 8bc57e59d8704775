"""A throwaway Kerberos realm for the end-to-end tests: an MIT KDC and kadmind
on free loopback ports, with their database, configuration and logs in a
scratch folder (KRB5_CONFIG and KRB5_KDC_PROFILE point at it: the host's
krb5.conf and kdc.conf are never read), started by the tests and stopped by
their process ids.  `krb5_conf` is the client configuration a world binds
over /etc/krb5.conf; the host keytab is the realm's file `keytab`."""

import contextlib
import glob
import os
import shutil
import signal
import subprocess
import unittest

import harness

REALM = "FIELD.TEST"
HOST = "host/login.field.test"
MASTER = "master-key-of-a-throwaway-realm"
FAKETIME = "/usr/lib/*/faketime/libfaketime.so.1"
KRB5_CONF = """[libdefaults]
    default_realm = {realm}
    dns_lookup_kdc = false
    dns_lookup_realm = false
    rdns = false
    default_keytab_name = FILE:{dir}/{keytab}
{extra}[realms]
    {realm} = {{
        kdc = 127.0.0.1:{kdc}
        admin_server = 127.0.0.1:{kadmin}
        kpasswd_server = 127.0.0.1:{kpasswd}
    }}
"""
KDC_CONF = """[kdcdefaults]
    kdc_ports = {kdc}
    kdc_tcp_ports = {kdc}
[realms]
    {realm} = {{
        database_name = {dir}/principal
        key_stash_file = {dir}/stash
        acl_file = {dir}/kadm5.acl
        kadmind_port = {kadmin}
        kpasswd_port = {kpasswd}
        default_principal_flags = +preauth
    }}
[logging]
    kdc = FILE:{dir}/kdc.log
    admin_server = FILE:{dir}/kadmind.log
"""


def skip_unless_possible():
    needed = ["/usr/sbin/krb5kdc", "/usr/sbin/kadmind", "/usr/sbin/kdb5_util", "/usr/bin/kinit",
              "/usr/lib/*/security/pam_krb5.so", "/usr/bin/pamtester", FAKETIME]
    gone = [path for path in needed if not glob.glob(path)]
    if gone:
        raise unittest.SkipTest("a realm needs krb5-kdc, krb5-admin-server, krb5-user, libpam-krb5, "
                                "pamtester and faketime; missing: " + ", ".join(gone))


class Realm:
    """principals: name -> kadmin addprinc options (a password with -pw); the
    policy "lockout" locks a principal after 3 failures, for good."""

    def __init__(self, principals):
        self.dir = harness.scratch("realm")
        self.ports = {"kdc": harness.free_port(), "kadmin": harness.free_port(), "kpasswd": harness.free_port()}
        self.kdc = self.kadmind = None
        self.keytab_name = "krb5.keytab"
        try:
            harness.write(self.path("kdc.conf"), KDC_CONF.format(realm=REALM, dir=self.dir, **self.ports))
            self.write_krb5_conf()
            harness.write(self.path("kadm5.acl"), "*/admin@%s *\n" % REALM)
            self.admin(["kdb5_util", "create", "-s", "-r", REALM, "-P", MASTER])
            self.kadmin("addpol -maxfailure 3 -failurecountinterval 0 -lockoutduration 0 lockout")
            for name, options in principals.items():
                self.kadmin("addprinc %s %s" % (options, name))
            self.kadmin("addprinc -randkey " + HOST)
            self.kadmin("ktadd -k %s %s" % (self.path("krb5.keytab"), HOST))
            self.start_kdc()
        except BaseException:
            self.close()
            raise

    def path(self, name):
        return os.path.join(self.dir, name)

    def write_krb5_conf(self, keytab="krb5.keytab", extra=""):
        """The client configuration; keytab: the host keytab's file in the realm's folder; extra:
        lines of libdefaults."""
        self.keytab_name = keytab
        harness.write(self.path("krb5.conf"), KRB5_CONF.format(realm=REALM, dir=self.dir, keytab=keytab,
                                                               extra=extra, **self.ports))

    def env(self):
        return {"KRB5_CONFIG": self.path("krb5.conf"), "KRB5_KDC_PROFILE": self.path("kdc.conf")}

    def admin(self, argv, stdin=b""):
        r = harness.run(argv, stdin=stdin, env=self.env())
        if r.status != 0:
            raise AssertionError("%s: %s" % (" ".join(argv), r.err))
        return r.out

    def kadmin(self, query):
        return self.admin(["kadmin.local", "-r", REALM, "-q", query])

    def getprinc(self, name):
        """What a diagnosis must never change: the key's version, the password's expiry and the
        failure count, as kadmin.local shows them."""
        lines = self.kadmin("getprinc " + name).splitlines()
        keep = ("Password expiration date:", "Key: vno", "Failed password attempts:", "Policy:")
        return sorted({line.split(",")[0].strip() for line in lines if line.strip().startswith(keep)})

    def kinit(self, name, password, env=None):
        """kinit's answer (status, last line of its error), into a cache that goes at once."""
        cache = self.path("kinit.cache")
        r = harness.run(["kinit", "-c", cache, name], stdin=password.encode() + b"\n",
                        env=dict(self.env(), **(env or {})))
        with contextlib.suppress(FileNotFoundError):
            os.unlink(cache)
        return r.status, (r.err.strip().splitlines() or [""])[-1]

    def start_kdc(self, faketime=None):
        """The KDC (with faketime: its clock alone moved, e.g. "+2h") and kadmind."""
        self.stop_kdc()
        # libfaketime itself, not its wrapper: the process id is the KDC's
        clock = {"LD_PRELOAD": glob.glob(FAKETIME)[0], "FAKETIME": faketime} if faketime else {}
        self.kdc = self._spawn(["krb5kdc", "-n", "-r", REALM], "kdc", self.ports["kdc"], clock)
        self.kadmind = self._spawn(["kadmind", "-nofork", "-r", REALM], "kadmind", self.ports["kadmin"])

    def _spawn(self, argv, name, port, env=None):
        return harness.start(argv, self.path(name + ".out"), lambda: harness.listening(port), name=name,
                             env=harness.clean_env(dict(self.env(), **(env or {}))))

    def stop_kdc(self):
        for process in (self.kdc, self.kadmind):
            if process is not None and process.poll() is None:
                os.kill(process.pid, signal.SIGTERM)
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    os.kill(process.pid, signal.SIGKILL)
                    process.wait()
        self.kdc = self.kadmind = None

    def close(self):
        self.stop_kdc()
        shutil.rmtree(self.dir, ignore_errors=True)
