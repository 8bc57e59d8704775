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
#include <string.h>
#include "cred/cred.h"
#include "lineedit/lineedit.h"
#include "verify/md5.h"
#include "verify/verify.h"

int main(void) {
    char hex[33];
    const char *name = 0;
    CredDebugStream = fopen("/dev/null", "w");
    if (!MD5HexDigest("abc", 3, hex, sizeof hex)) return 3;
    if (strcmp(hex, "900150983cd24fb0d6963f7d28e17f72") != 0) return 4;
    if (!ClassifyEncryptedPassword("$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/", &name)) return 5;
    if (CheckGuess("x", "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/") != 0) return 6;
    gl_add_history("a line");
    gl_dispose();
    puts(name);
    return 0;
}
"""
LINEEDIT_PROGRAM = r"""
#include <stdio.h>
#include "lineedit/lineedit.h"
int main(void) { gl_add_history("a line"); gl_dispose(); puts("BSD MD5"); return 0; }
"""
CMAKE_PROJECT = """cmake_minimum_required(VERSION 3.25)
project(outside %s)
find_package(cred 1 REQUIRED)
add_executable(outside main.%s)
target_link_libraries(outside PRIVATE cred::cred cred::lineedit)
"""

# install, language, how it is built, libraries, linked shared?
CONSUMERS = [
    ("static", "c", "pkg-config --static", "cred lineedit", False),
    ("static", "c++", "pkg-config --static", "cred lineedit", False),
    ("static", "c", "pkg-config --static", "lineedit", False),  # only libc besides
    ("static", "c", "cmake", "", False),
    ("static", "c++", "cmake", "", False),
    ("shared", "c", "pkg-config", "cred lineedit", True),
    ("shared", "c++", "pkg-config", "cred lineedit", True),
    ("shared", "c", "cmake", "", True),
    ("shared", "c++", "cmake", "", True),
    ("shared", "c", "cmake -Dcred_SHARED_LIBS=OFF", "", False),
    ("deb", "c", "pkg-config", "cred lineedit", True),
    ("deb", "c++", "cmake", "", True),
]
with open(os.path.join(harness.SOURCE, "CMakeLists.txt")) as f:
    VERSION = re.search(r"project\(credcheck VERSION (\S+)", f.read()).group(1)
PUBLIC_HEADERS = {"cred": ["cred/cred.h", "verify/verify.h", "verify/md5.h"],
                  "lineedit": ["lineedit/lineedit.h"]}


def sh(argv, **kw):
    r = subprocess.run(argv, capture_output=True, text=True, **kw)
    if r.returncode != 0:
        raise AssertionError("%s: status %d\n%s%s" % (" ".join(argv), r.returncode, r.stdout, r.stderr))
    return r.stdout


def declared_names(header):
    """Functions and variables a public header declares: (functions, variables)."""
    with open(os.path.join(harness.SOURCE, header)) as f:
        text = re.sub(r"/\*.*?\*/|^#[^\n]*|\b[A-Z_]+(BEGIN_DECLS|END_DECLS|NOEXCEPT)\b", "", f.read(),
                      flags=re.S | re.M)
    text = re.sub(r"typedef[^;{]*\{[^}]*\}[^;]*;", "", text)
    functions, variables = set(), set()
    for decl in (d.strip() for d in text.split(";")):
        if not decl or decl.startswith("typedef") or re.fullmatch(r"struct \w+", decl):
            continue
        pointer = re.search(r"\(\*(\w+)\)", decl)
        if decl.startswith("extern"):
            variables.update([pointer.group(1)] if pointer else re.findall(r"(\w+)\s*(?:,|$)", decl))
        else:
            functions.add(re.search(r"(\w+)\s*\(", decl).group(1))
    return functions, variables


class InstalledTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(harness.BUILD, "CMakeCache.txt")) as f:
            if "-fsanitize" in f.read():
                raise unittest.SkipTest("the installed forms are tested with the default build")
        cls.tmp = tempfile.mkdtemp(prefix="credcheck-install-")
        try:
            cls.build_all()
        except BaseException:
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise

    @classmethod
    def build_all(cls):
        t = cls.tmp
        cls.prefix = {"static": t + "/opt/odd.prefix-1", "shared": t + "/srv/x+y/shared", "deb": t + "/root/usr"}
        sh(["cmake", "--install", harness.BUILD, "--prefix", cls.prefix["static"]])
        shared = t + "/build-shared"
        launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        sh(["cmake", "-S", harness.SOURCE, "-B", shared, "-DBUILD_SHARED_LIBS=ON", "-DCMAKE_INSTALL_PREFIX=/usr",
            "-DCREDCHECK_TESTS=OFF", "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON",
            "-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON"]
           + (launcher if shutil.which("ccache") else []))
        sh(["cmake", "--build", shared, "-j%d" % os.cpu_count(), "--target", "cred", "lineedit", "cred_static",
            "lineedit_static", "credcheck"])
        sh(["cmake", "--install", shared, "--prefix", cls.prefix["shared"]])
        sh(["cpack", "-G", "DEB", "-B", t + "/debs"], cwd=shared)
        cls.debs = sorted(glob.glob(t + "/debs/*.deb"))
        for deb in cls.debs:
            sh(["dpkg-deb", "-x", deb, t + "/root"])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def libdir(self, install):
        return os.path.dirname(glob.glob(self.prefix[install] + "/lib*/**/liblineedit.a", recursive=True)[0])

    def build_consumer(self, work, install, lang, method, libs):
        ext = "c" if lang == "c" else "cpp"
        with open(os.path.join(work, "main." + ext), "w") as f:
            f.write(PROGRAM if "cred" in libs or not libs else LINEEDIT_PROGRAM)
        if method.startswith("pkg-config"):
            env = dict(os.environ, PKG_CONFIG_PATH=self.libdir(install) + "/pkgconfig")
            flags = sh(method.split() + ["--cflags", "--libs"] + libs.split(), env=env).split()
            sh(["cc" if lang == "c" else "c++", "-Wall", "-Werror", "-o", work + "/outside", work + "/main." + ext]
               + flags)
            return work + "/outside"
        with open(os.path.join(work, "CMakeLists.txt"), "w") as f:
            f.write(CMAKE_PROJECT % ("C" if lang == "c" else "CXX", ext))
        sh(["cmake", "-S", work, "-B", work + "/b", "-DCMAKE_PREFIX_PATH=" + self.prefix[install]] + method.split()[1:])
        sh(["cmake", "--build", work + "/b"])
        return work + "/b/outside"

    def test_consumers(self):
        for row in CONSUMERS:
            with self.subTest(row=row):
                install, lang, method, libs, shared = row
                work = tempfile.mkdtemp(dir=self.tmp)
                exe = self.build_consumer(work, install, lang, method, libs)
                needed = re.findall(r"NEEDED.*\[(.*)\]", sh(["readelf", "-d", exe]))
                self.assertEqual("liblineedit.so.1" in needed, shared, needed)
                if not libs or "cred" in libs:
                    self.assertEqual("libcred.so.1" in needed, shared, needed)
                if install == "static" and libs == "lineedit":
                    self.assertFalse([n for n in needed if "stdc++" in n], needed)
                out = sh([exe], env=dict(os.environ, LD_LIBRARY_PATH=self.libdir(install)))
                self.assertEqual(out, "BSD MD5\n")

    def test_exported_symbols_are_the_public_headers(self):
        for lib, headers in PUBLIC_HEADERS.items():
            functions, variables = set(), set()
            for h in headers:
                f, v = declared_names(h)
                functions |= f
                variables |= v
            so = os.path.join(self.libdir("shared"), "lib%s.so.1" % lib)
            symbols = re.findall(r"^\S+ ([A-Za-z]) (\w+)@@", sh(["nm", "-D", "--defined-only", so]), re.M)
            self.assertEqual({n for t, n in symbols if t == "T"}, functions, lib)
            self.assertEqual({n for t, n in symbols if t != "T"}, variables, lib)
            dynamic = sh(["readelf", "-d", so])
            self.assertIn("Library soname: [lib%s.so.1]" % lib, dynamic)
        self.assertEqual(re.findall(r"NEEDED.*\[(.*)\]", dynamic), ["libc.so.6"])  # the last: lineedit
        # Every function has its manual page name.
        man3 = os.listdir(self.prefix["shared"] + "/share/man/man3")
        for h in sum(PUBLIC_HEADERS.values(), []):
            for name in declared_names(h)[0]:
                self.assertIn(name + ".3", man3)

    def test_manual_pages_are_clean(self):
        for page in glob.glob(harness.SOURCE + "/man/*.[0-9]"):
            r = subprocess.run(["groff", "-ww", "-man", "-Tutf8", page], capture_output=True, text=True)
            self.assertEqual((r.returncode, r.stderr), (0, ""), page)

    def test_packages(self):
        fields = [sh(["dpkg-deb", "-f", d, "Package", "Depends"]) for d in self.debs]
        self.assertEqual([re.search(r"Package: (\S+)", f).group(1) for f in fields],
                         ["credcheck", "libcredcheck-dev", "libcredcheck1"])
        for field, wanted in zip(fields, (("libcredcheck1 (= %s)" % VERSION, "libc6"),
                                          ("libcredcheck1 (= %s)" % VERSION,),
                                          ("libc6", "libcrypt1", "libstdc++6"))):
            for w in wanted:
                self.assertIn(w, field)
        root = self.prefix["deb"]
        out = sh([root + "/bin/credcheck", "--version"], env=dict(os.environ, LD_LIBRARY_PATH=self.libdir("deb")))
        self.assertEqual(out, "credcheck %s\n" % VERSION)
        where = subprocess.run(["pkg-config", "--variable=completionsdir", "bash-completion"],
                               capture_output=True, text=True).stdout.strip() or "/usr/share/bash-completion/completions"
        self.assertTrue(os.path.isfile(self.tmp + "/root" + where + "/credcheck"), where)


if __name__ == "__main__":
    unittest.main()
