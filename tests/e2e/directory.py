"""A throwaway directory for the end-to-end tests: slapd (back_mdb, a free
loopback port, a generated cn=config) and SSSD with its LDAP provider, in a
private mount and PID namespace held by one long-lived process.  There /etc
is an overlay whose upper layer holds the world's passwd, shadow, group,
nsswitch.conf and sssd.conf; its pam.d (the world's PAM services), security
and ssh (empty) are the world's folders alone; /run, /var/lib/sss and
/var/log/sssd are tmpfs.  The host's files never change; when the holder
ends, the kernel ends every process of the world before its parent sees it."""

import base64
import contextlib
import glob
import os
import shutil
import signal
import subprocess
import sys
import unittest

import harness

SUFFIX = "dc=example,dc=test"
SCHEMA = "/etc/ldap/schema"
FILES = {  # under /etc: (text, mode)
    "passwd": ("root:x:0:0::/root:/bin/sh\nnobody:x:65534:65534::/nonexistent:/usr/sbin/nologin\n", 0o644),
    "shadow": ("root:*:19000:0:99999:7:::\nnobody:*:19000:0:99999:7:::\n", 0o640),
    "group": ("root:x:0:\nnogroup:x:65534:\n", 0o644),
    "nsswitch.conf": ("passwd: files sss\ngroup: files sss\nshadow: files sss\nhosts: files\n", 0o644),
    # The auth and account stacks pam-auth-update writes with pam_unix and pam_sss.
    "pam.d/common-auth": ("auth [success=2 default=ignore] pam_unix.so nullok\n"
                          "auth [success=1 default=ignore] pam_sss.so use_first_pass\n"
                          "auth requisite pam_deny.so\nauth required pam_permit.so\n", 0o644),
    "pam.d/common-account": ("account [success=1 new_authtok_reqd=done default=ignore] pam_unix.so\n"
                             "account requisite pam_deny.so\naccount required pam_permit.so\n"
                             "account sufficient pam_localuser.so\n"
                             "account [default=bad success=ok user_unknown=ignore] pam_sss.so\n", 0o644),
    "pam.d/login": ("auth requisite pam_nologin.so\n@include common-auth\n@include common-account\n", 0o644),
}
SLAPD_CONFIG = """dn: cn=config
objectClass: olcGlobal
cn: config

dn: cn=module,cn=config
objectClass: olcModuleList
cn: module
olcModuleLoad: back_mdb

dn: cn=schema,cn=config
objectClass: olcSchemaConfig
cn: schema

include: file://{schema}/core.ldif

include: file://{schema}/cosine.ldif

include: file://{schema}/nis.ldif

dn: olcDatabase=mdb,cn=config
objectClass: olcDatabaseConfig
objectClass: olcMdbConfig
olcDatabase: mdb
olcSuffix: {suffix}
olcRootDN: cn=admin,{suffix}
olcDbDirectory: {dir}/db
olcAccess: to attrs=userPassword by anonymous auth by * none
olcAccess: to * by * read
"""
SSSD_CONF = """[sssd]
services = nss, pam{ifp}
domains = test
[nss]
enum_cache_timeout = 1
entry_negative_timeout = 0
[domain/test]
id_provider = ldap
auth_provider = ldap
access_provider = ldap
ldap_uri = ldap://127.0.0.1:{port}
ldap_search_base = {suffix}
ldap_schema = rfc2307
ldap_auth_disable_tls_never_use_in_production = true
cache_credentials = {cache}
enumerate = {enumerate}
ldap_enumeration_refresh_offset = 0
ldap_account_expire_policy = shadow
ldap_access_order = filter, expire
ldap_access_filter = (gidNumber=5000)
"""
# The world's system bus: the policies of the packages' system.d, which let root own
# InfoPipe's name and anyone call it; no user of its own to run as.
BUS_CONF = """<busconfig>
<type>system</type>
<listen>unix:path=/run/dbus/system_bus_socket</listen>
<auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*" eavesdrop="false"/>
<allow receive_sender="*"/></policy>
<include>/usr/share/dbus-1/system.d/org.freedesktop.sssd.infopipe.conf</include>
</busconfig>
"""
# Folders of /etc that hold only what the world puts there (no file of the host's).
OWN_FOLDERS = ("pam.d", "security", "ssh")
SSS_FOLDERS = {"db": 0o700, "pipes": 0o755, "pipes/private": 0o700, "mc": 0o775, "pubconf": 0o755,
               "gpo_cache": 0o755}


def skip_unless_possible():
    if not harness.can_use_namespaces():
        raise unittest.SkipTest("a directory world needs root and mount namespaces")
    needed = ["/usr/sbin/slapd", "/usr/sbin/sssd", SCHEMA, "/usr/lib/*/libnss_sss.so.2",
              "/usr/lib/*/security/pam_sss.so", "/usr/bin/pamtester", "/usr/bin/nsenter"]
    gone = [path for path in needed if not glob.glob(path)]
    if gone:
        raise unittest.SkipTest("a directory world needs slapd, sssd-ldap, libnss-sss, libpam-sss and "
                                "pamtester; missing: " + ", ".join(gone))


def ldif(dn, attrs):
    """One entry; a value that LDIF cannot hold plainly is written in base64."""
    lines = []
    for attr, values in [("dn", dn)] + list(attrs.items()):
        for value in values if isinstance(values, list) else [values]:
            text = str(value)
            if text.isascii() and text.isprintable() and text[:1] not in (" ", ":", "<"):
                lines.append("%s: %s\n" % (attr, text))
            else:
                lines.append("%s:: %s\n" % (attr, base64.b64encode(text.encode()).decode()))
    return "".join(lines) + "\n"


def directory_data(users, groups):
    """users: name -> attributes that override a posixAccount's defaults (uidNumber
    required: it names the entry, as a name may be longer than a DN can be)."""
    data = ldif(SUFFIX, {"objectClass": ["dcObject", "organization"], "dc": "example", "o": "example"})
    for ou in ("people", "groups"):
        data += ldif("ou=%s,%s" % (ou, SUFFIX), {"objectClass": "organizationalUnit", "ou": ou})
    for name, gid in groups.items():
        data += ldif("cn=%s,ou=groups,%s" % (name, SUFFIX), {"objectClass": "posixGroup", "cn": name,
                                                              "gidNumber": gid})
    for name, attrs in users.items():
        cn = "u%d" % attrs["uidNumber"]
        entry = {"objectClass": ["account", "posixAccount", "shadowAccount"], "uid": name, "cn": cn,
                 "gidNumber": 5000, "homeDirectory": "/", "loginShell": "/bin/sh"}
        data += ldif("cn=%s,ou=people,%s" % (cn, SUFFIX), dict(entry, **attrs))
    return data


class Directory:
    """The world of users (see directory_data) and groups (name -> gidNumber);
    SSSD answers once a lookup of probe does."""

    def __init__(self, users, groups, probe="alice", cache_credentials=False, ifp=False):
        """cache_credentials: the domain's; ifp: SSSD's InfoPipe too, on a system bus of the world's."""
        self.dir, self.probe, self.users = harness.scratch("directory"), probe, set(users)
        self.cache, self.ifp = cache_credentials, ifp
        self.port = harness.free_port()
        self.unshare = self.holder = self.slapd = self.sssd = self.bus = None
        try:
            for name, (text, mode) in FILES.items():
                harness.write(self.path("etc/" + name), text, mode)
            for folder in OWN_FOLDERS:
                os.makedirs(self.path("etc/" + folder), 0o755, exist_ok=True)
            harness.write(self.path("etc/sssd/sssd.conf"), self.sssd_conf(False), 0o600)
            harness.write(self.path("config.ldif"), SLAPD_CONFIG.format(dir=self.dir, schema=SCHEMA, suffix=SUFFIX))
            harness.write(self.path("data.ldif"), directory_data(users, groups))
            for folder in ("work", "db", "slapd.d"):
                os.mkdir(self.path(folder))
            self._hold_namespace()
            self._start_slapd()
            if ifp:
                harness.write(self.path("bus.conf"), BUS_CONF)
                self.bus = self.spawn(["dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + self.path("bus.conf")],
                                      "bus.log", lambda: os.path.exists(self.path("ready")) and
                                      self.run(["test", "-S", "/run/dbus/system_bus_socket"]).status == 0)
            self._start_sssd()
        except BaseException:
            self.close()
            raise

    def path(self, name):
        return os.path.join(self.dir, name)

    def sssd_conf(self, enumerate):
        return SSSD_CONF.format(port=self.port, suffix=SUFFIX, enumerate=str(enumerate).lower(),
                                cache=str(self.cache).lower(), ifp=", ifp" if self.ifp else "")

    def _hold_namespace(self):
        """The holder: PID 1 of a new PID namespace, with the world's mounts.
        It traps SIGTERM: a namespace's init ignores signals it does not handle."""
        mounts = ["mount -t overlay overlay -o lowerdir=/etc,upperdir={d}/etc,workdir={d}/work /etc"]
        mounts += ["mount --bind {d}/etc/%s /etc/%s" % (folder, folder) for folder in OWN_FOLDERS]
        mounts += ["mount -t tmpfs tmpfs /run", "mount -t tmpfs tmpfs /var/lib/sss",
                   "mount -t tmpfs -o mode=0750 tmpfs /var/log/sssd"]
        mounts += ["mkdir -m %o /var/lib/sss/%s" % (mode, name) for name, mode in SSS_FOLDERS.items()]
        mounts += ["mkdir -m 755 /run/dbus"]
        script = " && ".join(mounts + ["touch {d}/ready"]).format(d=self.dir) + \
            " || exit 97\ntrap 'exit 0' TERM\nwhile :; do sleep 3600 & wait $!; done"
        self.unshare = subprocess.Popen(["unshare", "-m", "-p", "-f", "--mount-proc", "--propagation",
                                         "private", "sh", "-c", script], stdin=subprocess.DEVNULL)

        def held():
            if self.unshare.poll() is not None:
                raise AssertionError("the namespace's holder ended: %s" % self.unshare.returncode)
            self.holder = (self.children(self.unshare.pid) or [None])[0]
            return self.holder is not None and os.path.exists(self.path("ready"))
        harness.wait_for(held, "the namespace")

    @staticmethod
    def children(pid):
        with contextlib.suppress(OSError), open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(child) for child in f.read().split()]
        return []

    def enter(self, argv, user=None):
        """argv in the namespace, as root (user None) or as that uid with no groups."""
        return ["nsenter", "-t", str(self.holder), "-m", "-p", "--"] + harness.as_user(user) + list(argv)

    def run(self, argv, stdin=b"", user=None, env=None):
        """argv in the world: a harness.Result."""
        return harness.run(self.enter(argv, user), stdin=stdin, env=env)

    def spawn(self, argv, log, ready):
        return harness.start(self.enter(argv), self.path(log), ready, name=argv[0])

    def _start_slapd(self):
        for n, data in ((0, "config.ldif"), (1, "data.ldif")):
            r = harness.run(["slapadd", "-q", "-n%d" % n, "-F", self.path("slapd.d"), "-l", self.path(data)])
            if r.status != 0:
                raise AssertionError("slapadd %s: %s" % (data, r.err))
        self.slapd = self.spawn(["slapd", "-d", "0", "-F", self.path("slapd.d"), "-h",
                                 "ldap://127.0.0.1:%d/" % self.port], "slapd.log",
                                lambda: harness.listening(self.port))

    def _start_sssd(self):
        self.sssd = self.spawn(["sssd", "-i", "--logger=stderr"], "sssd.log",
                               lambda: self.run(["getent", "passwd", self.probe]).status == 0)

    def restart_sssd(self, enumerate):
        """SSSD again, with an empty cache, enumerating or not."""
        self.stop(self.sssd)
        self.run(["sh", "-c", "cat > /etc/sssd/sssd.conf && rm -f /var/lib/sss/db/* /var/lib/sss/mc/*"],
                 stdin=self.sssd_conf(enumerate).encode())
        self._start_sssd()
        # A looked-up entry is listed at once, the others after the enumeration
        # (getent would stop at an entry it cannot print).
        walk = [sys.executable, "-c", "import pwd; print('\\n'.join(p.pw_name for p in pwd.getpwall()))"]
        if enumerate:
            harness.wait_for(lambda: self.users <= set(self.run(walk).out.splitlines()), "the enumeration")

    def stop(self, process):
        """Ends process through its child, if it has one: nsenter passes no signal on, and
        unshare's child is the holder."""
        for sig in (signal.SIGTERM, signal.SIGKILL) if process is not None else ():
            for pid in self.children(process.pid) or [process.pid]:
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, sig)
            with contextlib.suppress(subprocess.TimeoutExpired):
                process.wait(10)
                return

    def close(self):
        """Ends the world; no process of it may outlive it."""
        pids = subprocess.run(["pgrep", "--ns", str(self.holder), "--nslist", "pid"], capture_output=True,
                              text=True).stdout.split() if self.holder else []
        for process in (self.sssd, self.bus, self.slapd, self.unshare):
            self.stop(process)
        shutil.rmtree(self.dir, ignore_errors=True)
        left = [pid for pid in pids if os.path.exists("/proc/" + pid)]
        assert not left, "processes of the directory world still run: %s" % left
