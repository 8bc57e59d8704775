"""The libraries and the tool as other programs get them: the default
(static) build and a shared build installed under unusual prefixes, and the
three Debian packages unpacked into a scratch root.  C and C++ programs
build against each through pkg-config and the CMake package, and run."""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

PROGRAM = r"""
#include <stdio.h>
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
           || puts(hex) < 0;
}
"""
CMAKE_PROJECT = """cmake_minimum_required(VERSION 3.25)
project(outside %s)
find_package(cred 1 REQUIRED)
add_executable(outside main.%s)
target_link_libraries(outside PRIVATE cred::cred cred::lineedit)
"""

# install, language, how it is built, linked shared?
CONSUMERS = [
    ("static", "c", "pkg-config --static", False), ("static", "c++", "pkg-config --static", False),
    ("static", "c", "cmake", False), ("static", "c++", "cmake", False),
    ("shared", "c", "pkg-config", True), ("shared", "c++", "pkg-config", True),
    ("shared", "c", "cmake", True), ("shared", "c++", "cmake", True),
    ("shared", "c", "cmake -Dcred_SHARED_LIBS=OFF", False),
    ("deb", "c", "pkg-config", True), ("deb", "c++", "cmake", True),
]
with open(os.path.join(harness.SOURCE, "CMakeLists.txt")) as f:
    VERSION = re.search(r"project\(credcheck VERSION (\S+)", f.read()).group(1)
PUBLIC_HEADERS = {"cred": ["cred/cred.h", "verify/verify.h", "verify/md5.h", "account/account.h"],
                  "lineedit": ["lineedit/lineedit.h"]}


def sh(argv, **kw):
    r = subprocess.run(argv, capture_output=True, text=True, **kw)
    if r.returncode != 0:
        raise AssertionError("%s: status %d\n%s%s" % (" ".join(argv), r.returncode, r.stdout, r.stderr))
    return r.stdout


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


class InstalledTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(harness.BUILD, "CMakeCache.txt")) as f:
            if re.search(r"-fsanitize|BUILD_SHARED_LIBS:BOOL=ON", f.read()):  # it builds its own shared form
                raise unittest.SkipTest("the installed forms are tested with the default build")
        t = cls.tmp = tempfile.mkdtemp(prefix="credcheck-install-")
        cls.addClassCleanup(shutil.rmtree, t, ignore_errors=True)
        cls.prefix = {"static": t + "/opt/odd.prefix-1", "shared": t + "/srv/x+y/shared", "deb": t + "/root/usr"}
        sh(["cmake", "--install", harness.BUILD, "--prefix", cls.prefix["static"]])
        launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        sh(["cmake", "-S", harness.SOURCE, "-B", t + "/build", "-DBUILD_SHARED_LIBS=ON", "-DCMAKE_INSTALL_PREFIX=/usr",
            "-DCREDCHECK_TESTS=OFF", "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON",
            "-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON"] + (launcher if shutil.which("ccache") else []))
        sh(["cmake", "--build", t + "/build", "-j%d" % os.cpu_count(), "--target", "cred", "lineedit", "cred_static",
            "lineedit_static", "credcheck"])
        sh(["cmake", "--install", t + "/build", "--prefix", cls.prefix["shared"]])
        sh(["cpack", "-G", "DEB", "-B", t + "/debs"], cwd=t + "/build")
        cls.debs = sorted(glob.glob(t + "/debs/*.deb"))
        for deb in cls.debs:
            sh(["dpkg-deb", "-x", deb, t + "/root"])

    def libdir(self, install):
        return os.path.dirname(glob.glob(self.prefix[install] + "/lib*/**/liblineedit.a", recursive=True)[0])

    def build_consumer(self, work, install, lang, method):
        ext, cmake_lang = ("c", "C") if lang == "c" else ("cpp", "CXX")
        with open(os.path.join(work, "main." + ext), "w") as f:
            f.write(PROGRAM)
        if method.startswith("pkg-config"):
            env = dict(os.environ, PKG_CONFIG_PATH=self.libdir(install) + "/pkgconfig")
            flags = sh(method.split() + ["--cflags", "--libs", "cred", "lineedit"], env=env).split()
            sh(["cc" if lang == "c" else "c++", "-Wall", "-Werror", "-o", work + "/outside", f.name] + flags)
            return work + "/outside"
        with open(os.path.join(work, "CMakeLists.txt"), "w") as f:
            f.write(CMAKE_PROJECT % (cmake_lang, ext))
        sh(["cmake", "-S", work, "-B", work + "/b", "-DCMAKE_PREFIX_PATH=" + self.prefix[install]] + method.split()[1:])
        sh(["cmake", "--build", work + "/b"])
        return work + "/b/outside"

    def test_consumers(self):
        for install, lang, method, shared in CONSUMERS:
            with self.subTest(install=install, lang=lang, method=method):
                exe = self.build_consumer(tempfile.mkdtemp(dir=self.tmp), install, lang, method)
                needed = re.findall(r"NEEDED.*\[(.*)\]", sh(["readelf", "-d", exe]))
                self.assertEqual(["libcred.so.1" in needed, "liblineedit.so.1" in needed], [shared] * 2, needed)
                out = sh([exe], env=dict(os.environ, LD_LIBRARY_PATH=self.libdir(install)))
                self.assertEqual(out, "900150983cd24fb0d6963f7d28e17f72\n")

    def test_exported_symbols_are_the_public_headers(self):
        man3 = os.listdir(self.prefix["shared"] + "/share/man/man3")
        for lib, headers in PUBLIC_HEADERS.items():
            declared = {n: t for h in headers for n, t in declared_names(h).items()}
            so = os.path.join(self.libdir("shared"), "lib%s.so.1" % lib)
            symbols = re.findall(r"^\S+ (\w) (\w+)@@", sh(["nm", "-D", "--defined-only", so]), re.M)
            self.assertEqual({n: "T" if t == "T" else "V" for t, n in symbols}, declared, lib)
            self.assertIn("Library soname: [lib%s.so.1]" % lib, sh(["readelf", "-d", so]))
            self.assertEqual({n + ".3" for n, t in declared.items() if t == "T"} - set(man3), set())
        # lineedit needs nothing beyond libc, shared or static.
        self.assertEqual(re.findall(r"NEEDED.*\[(.*)\]", sh(["readelf", "-d", so])), ["libc.so.6"])
        self.assertNotRegex(sh(["nm", "-u", self.libdir("static") + "/liblineedit.a"]), r"\b(_Z|__gxx|__cxa)")

    def test_manual_pages_are_clean(self):
        for page in glob.glob(harness.SOURCE + "/man/*.[0-9]"):
            r = subprocess.run(["groff", "-ww", "-man", "-Tutf8", page], capture_output=True, text=True)
            self.assertEqual((r.returncode, r.stderr), (0, ""), page)

    def test_packages(self):
        depends = {"credcheck": r"libcredcheck1 \(= V\).*libc6", "libcredcheck-dev": r"libcredcheck1 \(= V\)",
                   "libcredcheck1": r"libc6.*libcrypt1.*libstdc\+\+6"}
        fields = [sh(["dpkg-deb", "-f", d, "Package", "Depends"]) for d in self.debs]
        self.assertEqual([re.search(r"Package: (\S+)", f).group(1) for f in fields], sorted(depends))
        for field, pattern in zip(fields, [depends[p] for p in sorted(depends)]):
            self.assertRegex(field, pattern.replace("V", re.escape(VERSION)))
        out = sh([self.prefix["deb"] + "/bin/credcheck", "--version"],
                 env=dict(os.environ, LD_LIBRARY_PATH=self.libdir("deb")))
        self.assertEqual(out, "credcheck %s\n" % VERSION)
        where = subprocess.run(["pkg-config", "--variable=completionsdir", "bash-completion"],
                               capture_output=True, text=True).stdout.strip() or "/usr/share/bash-completion/completions"
        self.assertTrue(os.path.isfile(self.tmp + "/root" + where + "/credcheck"), where)


if __name__ == "__main__":
    unittest.main()
