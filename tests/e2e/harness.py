"""Shared helpers for the end-to-end tests.

- `program(name)`: a built program (credcheck, linedemo, or a test program).
- `WorldProgramTest`: the base of tests that run credcheck -a in worlds, with the
  checks every report gets.
- `World`: a made-up host (user database, shadow and group files, a files-only
  nsswitch.conf, /etc/security, /etc/pam.d, /etc/ssh, /run) that `World.run` and
  `World.pty` put in place of the host's own in a private mount namespace, as
  root or as uid 65534.
- `run`: a run with standard input from bytes; `pty_session`: a run on a real
  pseudo-terminal, keys in, screen bytes out, terminal settings before and after.
"""

import collections
import contextlib
import fcntl
import json
import os
import pathlib
import pty
import select
import shutil
import socket
import struct
import subprocess
import tempfile
import termios
import time
import unittest
from unittest import mock

BUILD = os.environ.get("CREDCHECK_BUILD", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SOURCE = os.environ.get("CREDCHECK_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))
NOBODY = 65534
TIMEOUT = float(os.environ.get("CREDCHECK_E2E_TIMEOUT", "30"))
NOW = int(time.time())
FILES_ONLY_NSSWITCH = "passwd: files\ngroup: files\nshadow: files\ngshadow: files\n"
# A second name service source: account/tests/nss, found through LIBS.
CREDTEST_NSSWITCH = "passwd: files credtest\nshadow: files credtest\ngroup: files\n"
LIBS = {"LD_LIBRARY_PATH": os.path.join(BUILD, "test-programs")}
ANY = mock.ANY  # equal to any value, in an expected report
# pam_faillock around a password module (%s), as pam_faillock(8) shows it.
FAILLOCK_STACK = ("auth required pam_faillock.so preauth\nauth [success=1 default=bad] %s\n"
                  "auth [default=die] pam_faillock.so authfail\nauth sufficient pam_faillock.so authsucc\n"
                  "account required pam_faillock.so\naccount required pam_unix.so\n")
CODES = {"ok": 0, "no-such-user": 3, "unreadable": 4, "locked": 5, "empty-password": 6, "invalid-hash": 7,
         "expired": 8, "wrong-password": 9, "pam-denied": 10, "locked-out": 11, "no-login": 12,
         "access-denied": 13, "no-shell": 14, "ssh-denied": 15, "unchecked": 16,
         "offline": 17}


def program(name):
    for candidate in (os.path.join(BUILD, name), os.path.join(BUILD, "test-programs", name)):
        if os.path.exists(candidate):
            return candidate
    raise FileNotFoundError(name)


def mkpasswd(*args):
    return subprocess.run(["mkpasswd", *args], capture_output=True, text=True, check=True).stdout.strip()


def write(path, text, mode=0o644):
    """Writes text (str or bytes) to path, making its folders; returns path."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(text.encode() if isinstance(text, str) else text)
    os.chmod(path, mode)
    return path


def lookup(obj, path):
    """The value at a dotted path of a report: "ssh.strict_modes.0.path"."""
    for key in path.split("."):
        obj = obj[int(key)] if isinstance(obj, list) else obj[key]
    return obj


def tally(*ages):
    """A pam_faillock tally as pam_faillock writes it: one valid failure on tty1 per age in seconds."""
    return b"".join(struct.pack("<52sHHQ", b"tty1", 0, 1 | 4, NOW - age) for age in ages)


def tallies(folder):
    """Every tally in folder: its bytes, and what faillock(8) says of it."""
    return {user: (pathlib.Path(folder, user).read_bytes(),
                   subprocess.run(["faillock", "--dir", folder, "--user", user], capture_output=True).stdout)
            for user in sorted(os.listdir(folder))}


def scratch(prefix):
    """A new folder that every user may read (worlds are also read as nobody)."""
    folder = tempfile.mkdtemp(prefix="credcheck-%s-" % prefix)
    os.chmod(folder, 0o755)
    return folder


def build_preload(source, name, libs=()):
    """Compiles C source into a shared library in a new scratch folder; returns
    (folder, library). The caller removes the folder."""
    folder = scratch(name)
    library = os.path.join(folder, name + ".so")
    subprocess.run(["cc", "-shared", "-fPIC", "-o", library, "-x", "c", "-"] + list(libs), input=source.encode(),
                   check=True)
    return folder, library


def preload_env(library):
    """The environment that preloads library, also into a sanitizer build."""
    asan = os.environ.get("ASAN_OPTIONS", "")
    return {"LD_PRELOAD": library, "ASAN_OPTIONS": (asan + ":" if asan else "") + "verify_asan_link_order=0"}


def as_user(uid):
    """The argv prefix that runs a program as uid with no groups (none for None: as root)."""
    return [] if uid is None else ["setpriv", "--reuid=%d" % uid, "--regid=%d" % uid, "--clear-groups"]


def in_namespace(script, argv):
    """argv run in a private mount namespace after the shell lines of script."""
    return ["unshare", "-m", "--propagation", "private", "sh", "-c", script + '\nexec "$@"', "sh"] + list(argv)


def can_use_namespaces():
    """Mount namespaces need root (CI and developers run as root)."""
    if os.geteuid() != 0 or shutil.which("unshare") is None:
        return False
    return subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode == 0


class WorldProgramTest(unittest.TestCase):
    """Base of tests that run credcheck in fixture worlds (World, or directory.Directory)."""

    @classmethod
    def setUpClass(cls):
        if not can_use_namespaces():
            raise unittest.SkipTest("fixture worlds need root and mount namespaces")
        cls.program = program("credcheck")

    @classmethod
    def make_world(cls, *files, **named):
        """A World that goes when the class's tests end."""
        world = World(*files, **named)
        cls.addClassCleanup(world.close)
        return world

    def report(self, world, args, verdict=None, keys=None, stdin=b"", user=None, env=None):
        """credcheck -a ARGS --json in world, as root or as uid user: the report, whose exit is the
        run's status, with nothing on standard error; its verdict, and {JSON path: value}, as given."""
        r = world.run([self.program, "-a", *args, "--json"], stdin=stdin, user=user, env=env)
        report = json.loads(r.stdout)
        self.assertEqual((r.err, r.status), ("", report["exit"]), r)
        if verdict is not None:
            self.assertEqual((report["verdict"], r.status), (verdict, CODES[verdict]), r)
        for path, value in (keys or {}).items():
            self.assertEqual(lookup(report, path), value, path)
        return report

    def text(self, world, args, lines=(), stdin=b"", user=None, env=None):
        """The text of credcheck -a ARGS: printable, nothing on standard error, holding lines."""
        r = world.run([self.program, "-a", *args], stdin=stdin, user=user, env=env)
        self.assertEqual(r.err, "", r)
        self.assertTrue(all(0x20 <= b < 0x7f or b == 0x0a for b in r.stdout), r)
        for line in lines:
            self.assertIn(line, r.out)
        return r.out

    def assert_pamtester_agrees(self, world, pam, user, stdin, as_user=None, env=None):
        """A report's PAM run ("pam") gives pamtester's answers in world: authenticate, then
        acct_mgmt only after a successful authenticate; each ok, and the text of its failure."""
        t = world.run(["pamtester", pam["service"], user, "authenticate", "acct_mgmt"], stdin=stdin, user=as_user,
                      env=env)
        failed = [line.split("pamtester: ", 1)[1] for line in t.err.splitlines() if "pamtester: " in line]
        text = failed[-1] if failed else "Success"
        want = (True, "Success", t.status == 0, text) if "successfully authenticated" in t.out else \
            (False, text, None, None)
        account = pam["account"]
        self.assertEqual((pam["authenticate"]["ok"], pam["authenticate"]["text"], account["ok"],
                          None if account["ok"] is None else account["text"]), want, t)

    def walk(self, world, user=None, env=None, skip=()):
        """credcheck -a --all --json: (the run, its users, its summary); each user's record is what
        -a USER --json says, but for the findings and the users in skip."""
        r = world.run([self.program, "-a", "--all", "--json"], user=user, env=env)
        *users, summary = [json.loads(line) for line in r.out.splitlines()]
        for record in users:
            if record["user"] not in skip:
                single = json.loads(world.run([self.program, "-a", record["user"], "--json"], user=user,
                                              env=env).stdout)
                self.assertEqual(dict(record, findings=None), dict(single, findings=None), record["user"])
        return r, users, summary["summary"]


class World:
    """Its own /etc/pam.d (pamd: service name -> text, none by default), /etc/security and /etc/ssh
    (empty unless written to) and a tmpfs over /run (run_files: name -> text, none by default) stand
    in for the host's, so no run reads the host's PAM stacks, faillock.conf, tallies, nologin file or
    sshd settings. shells (text) also stands in for /etc/shells; write adds files, as to
    "security/faillock.conf"."""

    def __init__(self, passwd="", shadow="", group="", policy=None, nsswitch=FILES_ONLY_NSSWITCH,
                 shells=None, pamd=None, run=None):
        self.dir = scratch("world")
        self.binds = ["passwd", "shadow", "group", "nsswitch.conf", "security", "pam.d", "ssh"]
        self.prepare = []  # shell lines run in the namespace after the binds and /run (a tmpfs, say)
        for folder in ("security", "pam.d", "ssh"):
            os.mkdir(os.path.join(self.dir, folder), 0o755)
        for name, text, mode in (("passwd", passwd, 0o644), ("shadow", shadow, 0o640),
                                 ("group", group, 0o644), ("nsswitch.conf", nsswitch, 0o644)):
            self.write(name, text, mode)
        if policy is not None:
            self.write("security/policy.conf", policy, 0o644)
        if shells is not None:
            self.write("shells", shells, 0o644)
            self.binds.append("shells")
        for service, text in (pamd or {}).items():
            self.write("pam.d/" + service, text, 0o644)
        self.run_files = run  # may change between runs; None is none

    def write(self, name, text, mode=0o644):
        return write(os.path.join(self.dir, name), text, mode)

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def mounts(self):
        """The shell lines, for a private mount namespace, that put the world in place of the
        host's files; each exits 97 when it fails."""
        script = []
        for f in self.binds:
            line = 'mount --bind "%s/%s" "/etc/%s" || exit 97' % (self.dir, f, f)
            # A host without /etc/ssh has no settings of sshd to hide.
            script.append("[ ! -e /etc/ssh ] || " + line if f == "ssh" else line)
        shutil.rmtree(os.path.join(self.dir, "run"), ignore_errors=True)
        os.mkdir(os.path.join(self.dir, "run"), 0o755)
        for name, text in (self.run_files or {}).items():
            self.write("run/" + name, text, 0o644)
        prepare = ['mount -t tmpfs -o mode=755 tmpfs /run && cp -a "%s/run/." /run/' % self.dir] + self.prepare
        return script + ["{ %s; } || exit 97" % line for line in prepare]

    def wrap(self, argv, user=None):
        """argv run inside the world, as root (user None) or as NOBODY with no groups."""
        return in_namespace("\n".join(self.mounts()), as_user(user) + list(argv))

    def run(self, argv, stdin=b"", user=None, env=None):
        return run(self.wrap(argv, user=user), stdin=stdin, env=env)

    def pty(self, argv, steps, user=None, env=None, **kw):
        return pty_session(self.wrap(argv, user=user), steps, env=env, **kw)


class Result(collections.namedtuple("Result", "stdout stderr status")):
    out = property(lambda self: self.stdout.decode("latin-1"))
    err = property(lambda self: self.stderr.decode("latin-1"))


def wait_for(check, what, seconds=30):
    """Returns once check() is true; fails after seconds."""
    deadline = time.time() + seconds
    while not check():
        if time.time() > deadline:
            raise AssertionError("%s: nothing within %d s" % (what, seconds))
        time.sleep(0.1)


def free_port():
    """A loopback port free for both TCP and UDP."""
    while True:
        with socket.socket() as t, socket.socket(type=socket.SOCK_DGRAM) as u:
            t.bind(("127.0.0.1", 0))
            port = t.getsockname()[1]
            with contextlib.suppress(OSError):
                u.bind(("127.0.0.1", port))
                return port


def listening(port):
    """Whether something takes connections on the loopback port."""
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def start(argv, log, ready, name=None, env=None):
    """A server started with its output in the file log, once ready() says it answers; one that
    ends first fails with the end of its log."""
    name = name or argv[0]
    with open(log, "wb") as out:
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, env=env)

    def answers():
        if process.poll() is not None:
            with open(log, errors="replace") as f:
                raise AssertionError("%s ended: %s" % (name, f.read()[-3000:]))
        return ready()
    wait_for(answers, name)
    return process


def clean_env(extra=None):
    env = {k: v for k, v in os.environ.items() if k not in ("COLUMNS", "ROWS", "EDITOR", "LINES")}
    env["LC_ALL"] = "C"
    env.update(extra or {})
    return env


def run(argv, stdin=b"", env=None):
    """Runs argv with stdin bytes (not a terminal)."""
    p = subprocess.run(argv, input=stdin, capture_output=True, env=clean_env(env), timeout=TIMEOUT)
    return Result(p.stdout, p.stderr, p.returncode)


class PtyResult(collections.namedtuple("PtyResult", "screen stderr status signal before after")):
    """screen: every byte the terminal received; status None when killed by signal."""
    settings_restored = property(lambda self: self.before == self.after)


def _read_all(fd, wait=0.05):
    data = b""
    while select.select([fd], [], [], wait)[0]:
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            return data, False  # the other side is gone
        if not chunk:
            return data, False
        data += chunk
    return data, True


def pty_session(argv, steps, env=None, rows=24, cols=80, stdout_tty=True, hangup=False):
    """Runs argv on a pseudo-terminal (standard output a pipe unless stdout_tty;
    its bytes then come back as stderr's second element). steps: ("expect", text)
    waits until the screen holds text, ("send", keys), ("sleep", seconds). With
    hangup the master is closed after the steps, so every further read ends."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
    before = termios.tcgetattr(slave)
    out = None if stdout_tty else subprocess.PIPE
    proc = subprocess.Popen(argv, stdin=slave, stdout=slave if stdout_tty else out, stderr=subprocess.PIPE,
                            env=clean_env(env), start_new_session=True,
                            preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    screen, deadline = b"", time.time() + TIMEOUT
    try:
        for kind, arg in steps:
            if kind == "send":
                os.write(master, arg)
            elif kind == "sleep":
                time.sleep(arg)
            else:
                while arg not in screen:
                    if time.time() > deadline:
                        raise AssertionError("timed out waiting for %r; screen %r" % (arg, screen))
                    chunk, alive = _read_all(master, 0.1)
                    screen += chunk
                    if not alive:
                        raise AssertionError("terminal closed waiting for %r; screen %r" % (arg, screen))
        if hangup:
            time.sleep(0.2)
            screen += _read_all(master, 0.2)[0]
            os.close(master)
            master = None
        while proc.poll() is None:
            if time.time() > deadline:
                proc.kill()
                proc.wait()
                raise AssertionError("program did not end; screen %r" % screen)
            screen += _read_all(master)[0] if master is not None else time.sleep(0.05) or b""
        if master is not None:
            screen += _read_all(master)[0]
        try:
            after = termios.tcgetattr(slave)
        except termios.error:
            after = None  # a hung-up terminal has no settings to read
        stderr = proc.stderr.read()
        if not stdout_tty:
            stderr = (stderr, proc.stdout.read())
        code = proc.returncode
        return PtyResult(screen, stderr, code if code >= 0 else None, -code if code < 0 else None,
                         before, after)
    finally:
        for fd in (master, slave):
            if fd is not None:
                os.close(fd)
        for stream in (proc.stderr, proc.stdout):
            if stream:
                stream.close()
