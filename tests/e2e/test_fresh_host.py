"""A host that lacks what the build needs, made in a private mount namespace
by mounting an empty folder over the PAM headers, the JSON headers or
GoogleTest: configure must either build the tool or stop and name the Debian
package to install.  And the README's first command, run where packages are
missing (the dpkg database says so) by a user who may not install them,
prints the one apt-get line that is needed and stops."""

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

PAM, JSON = ["/usr/include/security"], ["/usr/include/nlohmann"]
GTEST = ["/usr/include/gtest"] + glob.glob("/usr/lib/*/cmake/GTest") + glob.glob("/usr/lib/cmake/GTest")
# folders hidden, configure arguments, configure status, what its output holds
ROWS = [
    (PAM, [], 1, r"Linux-PAM's header security/pam_appl.h: Debian package libpam0g-dev\n"),
    (JSON, [], 1, r"\n +apt-get install nlohmann-json3-dev\n"),
    (GTEST, ["-DCREDCHECK_REQUIRE_TEST_DEPS=ON"], 1, r"\n +apt-get install libgtest-dev\n"),
    (GTEST, [], 0, r"-- Skipping the unit tests: not found: GoogleTest \(libgtest-dev\)\n"),
]


def hidden(folders, argv):
    return harness.in_namespace("".join('mount -t tmpfs -o ro tmpfs "%s" || exit 97\n' % f for f in folders), argv)


@unittest.skipUnless(harness.can_use_namespaces(), "needs root and mount namespaces")
class FreshHostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(harness.BUILD, "CMakeCache.txt")) as f:  # once is enough: not with the sanitizers
            if "-fsanitize" in f.read() or not all(map(os.path.isdir, PAM + JSON)) or len(GTEST) < 2:
                raise unittest.SkipTest("tried with the default build, where every dependency is installed")

    def test_configure_names_what_is_missing(self):
        for folders, args, status, wanted in ROWS:
            with self.subTest(hidden=folders, args=args):
                build = tempfile.mkdtemp(prefix="credcheck-fresh-")
                self.addCleanup(shutil.rmtree, build, True)
                r = subprocess.run(hidden(folders, ["cmake", "-S", harness.SOURCE, "-B", build] + args),
                                   capture_output=True, text=True, timeout=300)
                self.assertEqual(r.returncode, status, r.stdout + r.stderr)
                self.assertRegex(r.stdout + r.stderr, wanted)
        # the tool builds without the tests' packages
        subprocess.run(hidden(GTEST, ["cmake", "--build", build, "-j2", "--target", "credcheck"]), check=True,
                       capture_output=True, timeout=900)
        self.assertRegex(subprocess.run([build + "/credcheck", "--version"], capture_output=True, text=True).stdout,
                         r"\Acredcheck \d")

    def test_first_command_without_privileges(self):
        with open(os.path.join(harness.SOURCE, "README.md")) as f:
            first = re.search(r"```sh\n(.*)\n", f.read()).group(1)
        # as if two packages were not installed, for a user who may not install them
        script = ("mount -t tmpfs tmpfs /mnt && sed -E '/^Package: (libpam0g-dev|nlohmann-json3-dev)$/,/^$/d' "
                  "/var/lib/dpkg/status > /mnt/status && mount --bind /mnt/status /var/lib/dpkg/status || exit 97")
        r = subprocess.run(harness.in_namespace(script, harness.as_user(harness.NOBODY) + ["bash", "-c", first]),
                           cwd=harness.SOURCE, capture_output=True, text=True, stdin=subprocess.DEVNULL,
                           env=harness.clean_env(), timeout=60)
        self.assertEqual((r.returncode, r.stdout), (1, ""), r.stderr)
        self.assertRegex(r.stderr, r"\A.*\n  apt-get install libpam0g-dev nlohmann-json3-dev\n\Z")

if __name__ == "__main__":
    unittest.main()
