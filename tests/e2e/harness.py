"""Shared helpers for the end-to-end tests.

- `program(name)`: path of a built program (credcheck, linedemo, or a test
  program under test-programs/).
- `World`: a fixture user database, shadow file, group file, nsswitch.conf
  and /etc/security folder.  `World.run` and `World.pty` run a command in a
  private mount namespace where those files stand in for the host's own,
  optionally as an unprivileged user (uid and gid 65534).
- `run`: run a command with standard input from bytes, capturing standard
  output and standard error apart.
- `pty_session`: run a command on a real pseudo-terminal, send keys, collect
  what the screen receives and compare the terminal settings afterwards.
"""

import os
import pty
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import termios
import time
import fcntl
import unittest

BUILD = os.environ.get("CREDCHECK_BUILD", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SOURCE = os.environ.get("CREDCHECK_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))
NOBODY = 65534
TIMEOUT = float(os.environ.get("CREDCHECK_E2E_TIMEOUT", "30"))


def program(name):
    for candidate in (os.path.join(BUILD, name), os.path.join(BUILD, "test-programs", name)):
        if os.path.exists(candidate):
            return candidate
    raise FileNotFoundError(name)


def build_preload(source, name, libs=()):
    """Compile C source text into a shared library for LD_PRELOAD, in a new
    world-readable scratch folder.  Returns (folder, library path); the
    caller removes the folder."""
    folder = tempfile.mkdtemp(prefix="credcheck-%s-" % name)
    os.chmod(folder, 0o755)
    path = os.path.join(folder, name + ".c")
    with open(path, "w") as f:
        f.write(source)
    library = os.path.join(folder, name + ".so")
    subprocess.run(["cc", "-shared", "-fPIC", "-o", library, path] + list(libs), check=True)
    os.chmod(library, 0o755)
    return folder, library


def can_use_namespaces():
    """Mount namespaces need root (CI and developers run as root)."""
    if os.geteuid() != 0 or shutil.which("unshare") is None:
        return False
    return subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode == 0


class WorldProgramTest(unittest.TestCase):
    """Base of tests that run one built program (class attribute PROGRAM)
    in fixture worlds; skipped where mount namespaces cannot be made."""

    PROGRAM = None

    @classmethod
    def setUpClass(cls):
        if not can_use_namespaces():
            raise unittest.SkipTest("fixture worlds need root and mount namespaces")
        cls.program = program(cls.PROGRAM)


FILES_ONLY_NSSWITCH = (
    "passwd: files\n"
    "group: files\n"
    "shadow: files\n"
    "gshadow: files\n"
)


class World:
    """A made-up host: passwd, shadow and group files, a files-only
    nsswitch.conf and an /etc/security folder (policy.conf optional);
    optionally /etc/shells (text) and /etc/pam.d (service name -> text)."""

    def __init__(self, passwd="", shadow="", group="", policy=None, nsswitch=FILES_ONLY_NSSWITCH,
                 shells=None, pamd=None):
        self.dir = tempfile.mkdtemp(prefix="credcheck-world-")
        os.chmod(self.dir, 0o755)
        self.security = os.path.join(self.dir, "security")
        os.mkdir(self.security)
        os.chmod(self.security, 0o755)
        self.write("passwd", passwd, 0o644)
        self.write("shadow", shadow, 0o640)
        self.write("group", group, 0o644)
        self.write("nsswitch.conf", nsswitch, 0o644)
        if policy is not None:
            self.write(os.path.join("security", "policy.conf"), policy, 0o644)
        self.extra_binds = []
        if shells is not None:
            self.write("shells", shells, 0o644)
            self.extra_binds.append(("shells", "/etc/shells"))
        if pamd is not None:
            os.mkdir(os.path.join(self.dir, "pam.d"), 0o755)
            for service, text in pamd.items():
                self.write(os.path.join("pam.d", service), text, 0o644)
            self.extra_binds.append(("pam.d", "/etc/pam.d"))

    def write(self, name, text, mode):
        path = os.path.join(self.dir, name)
        data = text.encode() if isinstance(text, str) else text
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)
        return path

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def wrap(self, argv, user=None, home_files=None):
        """The argv that runs argv inside the world.  user: None for root,
        or NOBODY to drop to uid and gid 65534 with no groups."""
        binds = [
            ("passwd", "/etc/passwd"),
            ("shadow", "/etc/shadow"),
            ("group", "/etc/group"),
            ("nsswitch.conf", "/etc/nsswitch.conf"),
            ("security", "/etc/security"),
        ] + self.extra_binds
        script = []
        for src, dst in binds:
            script.append('mount --bind "%s" "%s" || exit 97' % (os.path.join(self.dir, src), dst))
        prefix = ""
        if user is not None:
            prefix = "setpriv --reuid=%d --regid=%d --clear-groups " % (user, user)
        script.append('exec ' + prefix + '"$@"')
        return ["unshare", "-m", "--propagation", "private", "sh", "-c", "\n".join(script), "sh"] + list(argv)

    def run(self, argv, stdin=b"", user=None, env=None):
        return run(self.wrap(argv, user=user), stdin=stdin, env=env)

    def pty(self, argv, steps, user=None, env=None, **kw):
        return pty_session(self.wrap(argv, user=user), steps, env=env, **kw)


class Result:
    def __init__(self, stdout, stderr, status):
        self.stdout = stdout
        self.stderr = stderr
        self.status = status

    @property
    def out(self):
        return self.stdout.decode("latin-1")

    @property
    def err(self):
        return self.stderr.decode("latin-1")

    def __repr__(self):
        return "Result(status=%r, stdout=%r, stderr=%r)" % (self.status, self.stdout, self.stderr)


def clean_env(extra=None):
    env = {k: v for k, v in os.environ.items() if k not in ("COLUMNS", "ROWS", "EDITOR", "LINES")}
    env["LC_ALL"] = "C"
    if extra:
        env.update(extra)
    return env


def run(argv, stdin=b"", env=None):
    """Run argv with stdin bytes (not a terminal); returns a Result."""
    p = subprocess.run(argv, input=stdin, capture_output=True, env=clean_env(env), timeout=TIMEOUT)
    return Result(p.stdout, p.stderr, p.returncode)


class PtyResult:
    def __init__(self, screen, stderr, status, settings_before, settings_after, signal_no=None):
        self.screen = screen          # every byte the terminal received
        self.stderr = stderr          # standard error, kept apart
        self.status = status          # exit status, or None when killed
        self.signal = signal_no
        self.settings_before = settings_before
        self.settings_after = settings_after

    @property
    def settings_restored(self):
        return self.settings_before == self.settings_after

    def __repr__(self):
        return "PtyResult(status=%r, signal=%r, screen=%r, stderr=%r)" % (
            self.status, self.signal, self.screen, self.stderr)


def _read_some(fd, wait):
    r, _, _ = select.select([fd], [], [], wait)
    if not r:
        return b""
    try:
        return os.read(fd, 65536)
    except OSError:
        return None


def pty_session(argv, steps, env=None, rows=24, cols=80, stdout_tty=True, hangup=False):
    """Run argv with a pseudo-terminal as standard input (and output, unless
    stdout_tty is False: then standard output is a pipe and its bytes are
    appended to stderr's result apart).  steps is a list of
      ("expect", b"text")  wait until the screen so far ends with or contains text
      ("send", b"keys")    write keys to the terminal
      ("sleep", seconds)
    With hangup, the terminal's master side is closed after the steps, so
    that every further read of the program returns end of input.
    Returns a PtyResult."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
    before = termios.tcgetattr(slave)
    err_r, err_w = os.pipe()
    out_r = out_w = None
    if not stdout_tty:
        out_r, out_w = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.close(master)
            os.close(err_r)
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
            os.dup2(slave, 0)
            os.dup2(out_w if out_w is not None else slave, 1)
            os.dup2(err_w, 2)
            os.execvpe(argv[0], argv, clean_env(env))
        finally:
            os._exit(127)
    os.close(err_w)
    if out_w is not None:
        os.close(out_w)
    screen = b""
    deadline = time.time() + TIMEOUT
    try:
        for kind, arg in steps:
            if kind == "send":
                os.write(master, arg)
            elif kind == "sleep":
                time.sleep(arg)
            elif kind == "expect":
                while arg not in screen:
                    if time.time() > deadline:
                        raise AssertionError("timed out waiting for %r; screen so far %r" % (arg, screen))
                    chunk = _read_some(master, 0.1)
                    if chunk is None:
                        raise AssertionError("terminal closed waiting for %r; screen %r" % (arg, screen))
                    screen += chunk
            else:
                raise ValueError(kind)
        if hangup:
            time.sleep(0.2)
            while True:
                chunk = _read_some(master, 0.2)
                if not chunk:
                    break
                screen += chunk
            os.close(master)
            master = None
        status = None
        while True:
            if master is not None:
                chunk = _read_some(master, 0.05)
                if chunk:
                    screen += chunk
            done, st = os.waitpid(pid, os.WNOHANG)
            if done:
                break
            if time.time() > deadline:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                raise AssertionError("program did not end; screen %r" % screen)
        if master is not None:
            while True:
                chunk = _read_some(master, 0.05)
                if not chunk:
                    break
                screen += chunk
        try:
            after = termios.tcgetattr(slave)
        except termios.error:
            after = None  # a hung-up terminal has no settings to read
        stderr = b""
        while True:
            chunk = os.read(err_r, 65536)
            if not chunk:
                break
            stderr += chunk
        if out_r is not None:
            out = b""
            while True:
                chunk = os.read(out_r, 65536)
                if not chunk:
                    break
                out += chunk
            stderr = (stderr, out)
        sig = os.WTERMSIG(st) if os.WIFSIGNALED(st) else None
        status = os.WEXITSTATUS(st) if os.WIFEXITED(st) else None
        return PtyResult(screen, stderr, status, before, after, sig)
    finally:
        for fd in (master, slave, err_r, out_r):
            if fd is not None:
                try:
                    os.close(fd)
                except OSError:
                    pass
