"""The Debian package: built with cpack, unpacked with dpkg-deb into a
scratch root, and used from there: the packaged tool runs, and an outside
C program and an outside CMake project build against the packaged
libraries."""

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

MD5_ANSWER = "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/"

C_PROGRAM = r"""
#include <stdio.h>
#include <string.h>
#include "cred/cred.h"
#include "verify/md5.h"
#include "verify/verify.h"
#include "lineedit/lineedit.h"

int main(void)
{
    char hex[33];
    const char *name = 0;
    CredDebugStream = fopen("/dev/null", "w");
    if (!MD5HexDigest("abc", 3, hex, sizeof hex)) return 3;
    if (strcmp(hex, "900150983cd24fb0d6963f7d28e17f72") != 0) return 4;
    if (!ClassifyEncryptedPassword("$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/", &name)) return 5;
    if (strcmp(name, "BSD MD5") != 0) return 6;
    if (CheckGuess("x", "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/") != 0) return 7;
    gl_add_history("a line");
    gl_dispose();
    puts("outside program ok");
    return 0;
}
"""

CMAKE_PROJECT = """
cmake_minimum_required(VERSION 3.25)
project(outside C CXX)
find_package(cred REQUIRED)
add_executable(outside main.c)
target_link_libraries(outside PRIVATE cred::cred cred::lineedit)
"""


def sh(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, **kw)


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for tool in ("cpack", "dpkg-deb", "pkg-config", "cc"):
            if shutil.which(tool) is None:
                raise unittest.SkipTest("%s is not installed" % tool)
        cls.tmp = tempfile.mkdtemp(prefix="credcheck-package-")
        build = os.path.join(cls.tmp, "build")
        steps = [
            ["cmake", "-S", harness.SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
             "-DCMAKE_INSTALL_PREFIX=/usr", "-DCREDCHECK_TESTS=OFF",
             "-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON", "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON"],
            ["cmake", "--build", build, "-j2", "--target", "credcheck", "cred", "lineedit"],
            ["cpack", "-G", "DEB", "-B", os.path.join(cls.tmp, "out")],
        ]
        for argv in steps:
            r = sh(argv, cwd=build if argv[0] == "cpack" else None)
            if r.returncode != 0:
                shutil.rmtree(cls.tmp, ignore_errors=True)
                raise AssertionError("%s failed:\n%s\n%s" % (" ".join(argv), r.stdout, r.stderr))
        debs = glob.glob(os.path.join(cls.tmp, "out", "*.deb"))
        assert len(debs) == 1, debs
        cls.deb = debs[0]
        cls.root = os.path.join(cls.tmp, "root")
        r = sh(["dpkg-deb", "-x", cls.deb, cls.root])
        assert r.returncode == 0, r.stderr
        cls.libdir = os.path.dirname(glob.glob(os.path.join(cls.root, "usr", "lib*", "**", "libcred.a"),
                                               recursive=True)[0])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.root, "usr", *parts)

    def test_control_fields(self):
        r = sh(["dpkg-deb", "-f", self.deb, "Package", "Version", "Architecture", "Depends"])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("Package: credcheck", r.stdout)
        self.assertIn("Version: 1.6.1", r.stdout)
        self.assertIn("libcrypt1", r.stdout)

    def test_contents(self):
        for rel in ("bin/credcheck", "include/cred/cred.h", "include/verify/verify.h",
                    "include/verify/md5.h", "include/lineedit/lineedit.h",
                    "share/man/man1/credcheck.1", "share/man/man3/lineedit.3"):
            self.assertTrue(os.path.isfile(self.path(rel)), rel)
        for name in ("libcred.a", "liblineedit.a", "pkgconfig/cred.pc", "cmake/cred/credConfig.cmake",
                     "cmake/cred/credConfigVersion.cmake", "cmake/cred/credTargets.cmake"):
            self.assertTrue(os.path.isfile(os.path.join(self.libdir, name)), name)
        # Nothing of the build tree leaks into the package.
        r = sh(["dpkg-deb", "-c", self.deb])
        self.assertNotIn(self.tmp, r.stdout)
        self.assertNotIn("/tests", r.stdout)

    def test_manual_pages_render(self):
        if shutil.which("man") is None:
            self.skipTest("man is not installed")
        for page, words in (("man1/credcheck.1", ("EXIT STATUS", "-l", "-c", "-g")),
                            ("man3/lineedit.3", ("gl_getline", "gl_getpass", "gl_set_completer"))):
            r = sh(["man", "--warnings", "-l", self.path("share", "man", page)],
                   env=dict(os.environ, MANWIDTH="80"))
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stderr.strip(), "", page)
            text = re.sub(".\x08", "", r.stdout)  # overstrike bold and underline
            for w in words:
                self.assertIn(w, text, page)

    def test_packaged_tool(self):
        tool = self.path("bin", "credcheck")
        r = sh([tool])
        self.assertEqual(r.returncode, 2)
        self.assertTrue(r.stderr.startswith("Usages:\n"), r.stderr)
        self.assertEqual(r.stdout, "")
        r = sh([tool, "-c", MD5_ANSWER, "x"], stdin=subprocess.DEVNULL)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("Password was authenticated successfully.\n", r.stdout)
        r = sh([tool, "-c", MD5_ANSWER, "y"], stdin=subprocess.DEVNULL)
        self.assertEqual(r.returncode, 1)

    def pkg_config(self, *args):
        env = dict(os.environ, PKG_CONFIG_SYSROOT_DIR=self.root,
                   PKG_CONFIG_LIBDIR=os.path.join(self.libdir, "pkgconfig"))
        r = sh(["pkg-config"] + list(args) + ["cred"], env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.split()

    def test_outside_c_program_with_pkg_config(self):
        self.assertEqual(self.pkg_config("--modversion"), ["1.6.1"])
        work = tempfile.mkdtemp(dir=self.tmp)
        src = os.path.join(work, "main.c")
        with open(src, "w") as f:
            f.write(C_PROGRAM)
        exe = os.path.join(work, "outside")
        # A C99 program; the .pc file brings libcrypt and the C++ runtime
        # that the static libraries need.
        argv = (["cc", "-std=c99", "-Wall", "-Werror", "-o", exe, src]
                + self.pkg_config("--cflags", "--libs"))
        r = sh(argv)
        self.assertEqual(r.returncode, 0, " ".join(argv) + "\n" + r.stderr)
        r = sh([exe])
        self.assertEqual((r.returncode, r.stdout), (0, "outside program ok\n"), r.stderr)

    def test_outside_cmake_project(self):
        work = tempfile.mkdtemp(dir=self.tmp)
        with open(os.path.join(work, "CMakeLists.txt"), "w") as f:
            f.write(CMAKE_PROJECT)
        with open(os.path.join(work, "main.c"), "w") as f:
            f.write(C_PROGRAM)
        build = os.path.join(work, "build")
        r = sh(["cmake", "-S", work, "-B", build, "-DCMAKE_PREFIX_PATH=" + self.path()])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        r = sh(["cmake", "--build", build])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        r = sh([os.path.join(build, "outside")])
        self.assertEqual((r.returncode, r.stdout), (0, "outside program ok\n"), r.stderr)


if __name__ == "__main__":
    unittest.main()
