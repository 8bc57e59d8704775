"""The tool and the libraries as others get them, through the README's own
lines: every code line of "Across many hosts", "Building, installing,
packaging" and "Using the libraries from C and C++" runs, in order, in a
private mount namespace where /opt and /srv are empty and /usr, /etc and
/var are throwaway overlays, and a fixture world (harness.World) holds
nsswitch.conf, /etc/security, /etc/pam.d, /etc/ssh and /run in place of the
host's (its users stay: apt-get and dpkg need them).  The fleet playbook runs
from a clean copy of the sources with only build/credcheck, on this host
without credcheck installed; then the default (static) build is installed
under /opt/credcheck, a shared build under /opt/credcheck-shared, the Debian
packages are built, checked by lintian and installed with apt-get, and C and
C++ programs build against each install through pkg-config and the CMake
package and run without help.
Checks of the test's own run after some of the README's lines."""

import glob
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

PROGRAM = r"""
#include <stdio.h>
#include "account/account.h"
#include "cred/cred.h"
#include "lineedit/lineedit.h"
#include "verify/md5.h"
#include "verify/verify.h"
int main(void) {
    char hex[33];
    CredDebugStream = fopen("/dev/null", "w");
    gl_add_history("a line");
    gl_dispose();
    return !MD5HexDigest("abc", 3, hex, sizeof hex) || CheckGuess("x", "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/")
           || !CredVerdictName(CRED_VERDICT_OK) || printf("app: %s\n", hex) < 0;
}
"""
DIGEST = "app: 900150983cd24fb0d6963f7d28e17f72\n"
CMAKE_HEAD = "cmake_minimum_required(VERSION 3.22)\nproject(app C)\nadd_executable(app app.c)\n"
PACKAGES = {"credcheck", "libcred1", "liblineedit1", "libcredcheck-dev",
            "credcheck-dbgsym", "libcred1-dbgsym", "liblineedit1-dbgsym"}
LOAD_COMPLETION = ("bash -c 'source /usr/share/bash-completion/bash_completion; __load_completion credcheck; "
                   "complete -p credcheck'")
# What the test checks after a README line (the line as the README has it).
CHECKS = {
    "ansible-playbook -i inventory examples/fleet-audit.yml -e audit_dir=/srv/audit":
        "cp -r /srv/audit $SCRATCH/srv-audit\ngit status --porcelain\n"
        "build/credcheck -a --all --json > $SCRATCH/direct.jsonl",
    "export XDG_DATA_DIRS=/opt/credcheck/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}":
        LOAD_COMPLETION + "\nPATH=/opt/credcheck/bin:$PATH man -w gl_getline credcheck"
        "\nPATH=/opt/credcheck/bin:$PATH man -P cat gl_getline | grep -c gl_getpass",
    "lintian build-deb/*.deb build-deb/*.ddeb":
        "ansible-playbook -i localhost, -c local examples/fleet-audit.yml -e audit_become=false"
        " -e credcheck_debs=$PWD/build-deb -e audit_dir=$SCRATCH/fleet | grep -o 'installed the packages [^\"]*'",
    "cc  app.c   $(pkg-config --static --cflags --libs cred lineedit) -o app && ./app":
        "readelf -d app | grep -c 'lib\\(cred\\|lineedit\\)\\.so' | grep -qx 0",
    "cc  app.c   $(pkg-config --cflags --libs cred lineedit) -Wl,-rpath,$(pkg-config --variable=libdir cred) -o app"
    " && ./app": "readelf -d app | grep -c 'NEEDED.*lib\\(cred\\|lineedit\\)\\.so\\.1' | grep -qx 2",
    "apt-get install ./build-deb/*.deb":
        "credcheck --version\nldconfig -p | grep -oE '(libcred|liblineedit)\\.so\\.1 ' | sort\n" + LOAD_COMPLETION,
}
with open(os.path.join(harness.SOURCE, "CMakeLists.txt")) as f:
    VERSION = re.search(r"project\(credcheck VERSION (\S+)", f.read()).group(1)
TOOLS = ["lintian", "apt-get", "ansible-playbook", "sudo", "git"]
# The fixture world's PAM services: root's become runs through sudo, the audit reads login.
PAMD = {"sudo": "auth sufficient pam_rootok.so\naccount required pam_permit.so\nsession required pam_permit.so\n",
        "login": "auth required pam_unix.so nodelay\naccount required pam_unix.so\n"}
PUBLIC_HEADERS = {"cred": ["cred/cred.h", "verify/verify.h", "verify/md5.h", "account/account.h"],
                  "lineedit": ["lineedit/lineedit.h"]}


def readme_steps():
    """[(folder, script)]: each sh block of the README's sections on the fleet, on
    building and on using the libraries, to run in a clean copy of the sources
    ("clone"), in the sources ("source") or in a program's folder ("app"), with
    the test's checks after the lines they follow; and the text of the cmake blocks."""
    with open(os.path.join(harness.SOURCE, "README.md")) as f:
        text = f.read()
    text = text[text.index("#### Across many hosts"):text.index("## The line editor")] + text[
        text.index("## Building, installing, packaging"):text.index("## Tests, fuzzing, benchmarks")]
    steps, cmake, folder = [], "", "clone"
    for heading, kind, body in re.findall(r"^(#+ [^\n]*)$|^```(\w+)\n(.*?)^```$", text, re.M | re.S):
        if heading:
            folder = "app" if "Using the libraries" in heading else "source" if "Building" in heading else folder
        elif kind == "cmake":
            cmake += body
        elif kind == "sh":
            steps.append((folder, "".join(line + "\n" + CHECKS.get(line, "") + "\n" for line in body.splitlines())))
    return steps, cmake


def sh(argv):
    return subprocess.check_output(argv, text=True)


def declared_names(header):
    """{name: "T" for a function, "V" for a variable} of what a public header declares."""
    with open(os.path.join(harness.SOURCE, header)) as f:
        text = re.sub(r"/\*.*?\*/|^#[^\n]*|\b[A-Z_]+(BEGIN_DECLS|END_DECLS|NOEXCEPT)\b", "", f.read(),
                      flags=re.S | re.M)
    names = {}
    for decl in re.sub(r"typedef[^;{]*\{[^}]*\}[^;]*;", "", text).split(";"):
        decl = decl.strip()
        if decl.startswith("extern"):
            pointer = re.search(r"\(\*(\w+)\)", decl)
            names.update(dict.fromkeys([pointer.group(1)] if pointer else re.findall(r"(\w+)\s*(?:,|$)", decl), "V"))
        elif "(" in decl and not decl.startswith("typedef"):
            names[re.search(r"(\w+)\s*\(", decl).group(1)] = "T"
    return names


@unittest.skipUnless(harness.can_use_namespaces() and all(map(shutil.which, TOOLS)),
                     "needs root, mount namespaces and " + ", ".join(TOOLS))
class ReadmeInstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        build = os.path.join(harness.SOURCE, "build")
        with open(os.path.join(harness.BUILD, "CMakeCache.txt")) as f:  # the README installs build/
            if re.search(r"-fsanitize|BUILD_SHARED_LIBS:BOOL=ON", f.read()) or not (
                    os.path.isdir(build) and os.path.samefile(build, harness.BUILD)):
                raise unittest.SkipTest("the README's lines are tested with the default build in build/")
        if shutil.which("credcheck"):
            raise unittest.SkipTest("the README's lines are tested on a host without credcheck installed")
        t = cls.tmp = tempfile.mkdtemp(prefix="credcheck-install-")
        cls.addClassCleanup(shutil.rmtree, t, ignore_errors=True)
        folders = {"source": harness.SOURCE, "app": os.path.join(t, "app"), "clone": os.path.join(t, "clone")}
        steps, cmake = readme_steps()
        for name, text in (("app.c", PROGRAM), ("app.cpp", PROGRAM), ("CMakeLists.txt", CMAKE_HEAD + cmake)):
            harness.write(os.path.join(folders["app"], name), text)
        # The sources and the scratch folder stay in view under the mounts (kept, then bound back).
        kept = list(enumerate((harness.SOURCE, t)))
        script = ["set -e"] + ["mkdir -p %s/keep%d\nmount --bind %s %s/keep%d" % (t, i, p, t, i) for i, p in kept]
        script += ["mount -t tmpfs tmpfs /opt", "mount -t tmpfs tmpfs /srv"]
        for d in ("usr", "etc", "var"):  # what apt-get and dpkg change is thrown away with the namespace
            script.append("mkdir -p {t}/{d}/u {t}/{d}/w\nmount -t overlay overlay "
                          "-o lowerdir=/{d},upperdir={t}/{d}/u,workdir={t}/{d}/w /{d}".format(t=t, d=d))
        script += ["mkdir -p %s\nmount --bind %s/keep%d %s" % (p, t, i, p) for i, p in kept]
        world = harness.World(nsswitch=harness.FILES_ONLY_NSSWITCH + "hosts: files\n", pamd=PAMD)
        cls.addClassCleanup(world.close)
        world.binds = [f for f in world.binds if f not in ("passwd", "shadow", "group")]
        script += world.mounts()
        script += ["cd " + harness.SOURCE, "mkdir -p {c}/build".format(c=folders["clone"]),  # a clean copy, and the tool
                   "git ls-files -z | xargs -0 cp -a --parents -t " + folders["clone"], "cd " + folders["clone"],
                   "git init -q", "git add -A", "git -c user.name=t -c user.email=t commit -qm copy",
                   "cp %s build/" % harness.program("credcheck"), "echo 'localhost ansible_connection=local' > inventory"]
        for i, (folder, body) in enumerate(steps):
            harness.write(os.path.join(t, "step%d.sh" % i), body)
            script += ["cd " + folders[folder], "echo '>>> step %d'" % i, "bash -ex %s/step%d.sh" % (t, i)]
        harness.write(os.path.join(t, "apt.conf"), 'APT::Get::Assume-Yes "true";\n')  # apt-get answers itself
        env = harness.clean_env({"SCRATCH": t, "HOME": t, "DEBIAN_FRONTEND": "noninteractive", "LC_ALL": "C.UTF-8",
                                 "APT_CONFIG": os.path.join(t, "apt.conf")})
        env.pop("PKG_CONFIG_PATH", None)
        r = subprocess.run(["unshare", "-m", "--propagation", "private", "bash", "-c", "\n".join(script)],
                           capture_output=True, text=True, env=env, timeout=1800)
        cls.status, cls.out, cls.err, cls.steps = r.returncode, r.stdout, r.stderr, steps

    def test_readme_lines_run(self):
        self.assertEqual(self.status, 0, self.out[-3000:] + self.err[-3000:])
        runs = sum(len(re.findall(r"&& (\./app|build[-\w]*/app)$", body, re.M)) for _, body in self.steps)
        self.assertEqual((self.out.count(DIGEST), runs > 6), (runs, True))
        self.assertNotRegex(self.out + self.err, r"(?m)^[EW]: ")  # lintian: no error, no warning
        pages = "/opt/credcheck/share/man/man3/lineedit.3.gz\n/opt/credcheck/share/man/man1/credcheck.1.gz\n"
        self.assertEqual(len([line for _, body in self.steps for line in body.splitlines() if line in CHECKS]),
                         len(CHECKS))  # each check follows its line
        for wanted in (pages, "credcheck %s\n" % VERSION, "libcred.so.1 \nliblineedit.so.1 \n"):
            self.assertIn(wanted, self.out)
        installed = re.search(r"installed the packages (.*)", self.out).group(1).split(", ")
        self.assertEqual(sorted(installed), ["%s_%s_amd64.deb" % (p, VERSION)
                                             for p in ("credcheck", "libcred1", "liblineedit1")])
        self.assertEqual(self.out.count("complete -F _credcheck credcheck\n"), 2)

    def test_fleet(self):
        self.assertEqual(self.status, 0)
        copies = re.findall(r"copied \S+/build/credcheck to (\S+), removed after the audit", self.out)
        self.assertEqual((len(copies), [c for c in copies if os.path.exists(c)]), (2, []))
        self.assertEqual(re.findall(r"(?m)^\?\? .*", self.out), ["?? inventory"])  # the reports are ignored
        with open(os.path.join(self.tmp, "direct.jsonl")) as f:
            direct = [json.loads(line) for line in f]
        summary = direct[-1]["summary"]
        self.assertEqual([summary["host"], summary["version"], summary.pop("time")[:11]],
                         [socket.gethostname(), VERSION, time.strftime("%Y-%m-%dT", time.gmtime())])
        for collected in ("clone/audit", "srv-audit"):  # the same, but for the time
            with open(os.path.join(self.tmp, collected, "localhost.jsonl")) as f:
                got = [json.loads(line) for line in f]
            got[-1]["summary"].pop("time")
            self.assertEqual(got, direct, collected)

    def test_packages(self):
        names = {sh(["dpkg-deb", "-f", d, "Package"]).strip(): d for d in glob.glob(harness.SOURCE + "/build-deb/*.*deb")}
        self.assertEqual(set(names), PACKAGES)
        for package in ("credcheck", "libcredcheck-dev"):  # with the libraries of the same build
            self.assertRegex(sh(["dpkg-deb", "-f", names[package], "Depends"]),
                             r"\Aliblineedit1 \(= %s\), libcred1 \(= %s\)" % ((re.escape(VERSION),) * 2))

    def test_exported_symbols_are_the_public_headers(self):
        shared = os.path.join(harness.SOURCE, "build-shared")
        man3 = os.listdir(shared + "/gz/share/man/man3")
        for lib, headers in PUBLIC_HEADERS.items():
            declared = {n: t for h in headers for n, t in declared_names(h).items()}
            so = os.path.join(shared, "lib%s.so.1" % lib)
            symbols = re.findall(r"^\S+ (\w) (\w+)@@", sh(["nm", "-D", "--defined-only", so]), re.M)
            self.assertEqual({n: "T" if t == "T" else "V" for t, n in symbols}, declared, lib)
            self.assertIn("Library soname: [lib%s.so.1]" % lib, sh(["readelf", "-d", so]))
            self.assertEqual({n + ".3.gz" for n, t in declared.items() if t == "T"} - set(man3), set())
        # lineedit needs nothing beyond libc, shared or static.
        self.assertEqual(re.findall(r"NEEDED.*\[(.*)\]", sh(["readelf", "-d", so])), ["libc.so.6"])
        self.assertNotRegex(sh(["nm", "-u", shared + "/liblineedit.a"]), r"\b(_Z|__gxx|__cxa)")


class ManualPageTest(unittest.TestCase):
    def test_manual_pages_are_clean(self):
        for page in glob.glob(harness.SOURCE + "/man/*.[0-9]"):
            r = subprocess.run(["groff", "-ww", "-man", "-Tutf8", page], capture_output=True, text=True)
            self.assertEqual((r.returncode, r.stderr), (0, ""), page)


if __name__ == "__main__":
    unittest.main()
