"""credcheck clears what held a password, a guess or an encrypted password
before it ends, also when it ends because no terminal was there to ask on.

A stand-in for explicit_bzero(), preloaded, writes every region it is asked
to clear to standard error before it clears it; the tests look for the
driver's buffers among them."""

import os
import shutil
import unittest

import harness

MD5_PANCAKES = "$1$abcdefgh$FXMjhOfMBzhxo5h9hPtN91"  # openssl passwd -1 -salt abcdefgh pancakes

LOGGING_BZERO = r"""
#include <stdio.h>
#include <string.h>
#include <unistd.h>
void explicit_bzero(void *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    char line[32 + 2 * 4096];
    int len = snprintf(line, 32, "wipe %zu ", n);
    const unsigned char *bytes = p;
    for (size_t i = 0; i < n && i < 4096; ++i) {
        line[len++] = digits[bytes[i] >> 4];
        line[len++] = digits[bytes[i] & 15];
    }
    line[len++] = '\n';
    if (write(2, line, len) < 0) {}
    volatile unsigned char *v = p;
    for (size_t i = 0; i < n; ++i) v[i] = 0;
}
"""


def wiped(stderr):
    """The regions cleared, as bytes, in order."""
    regions = []
    for line in stderr.splitlines():
        if line.startswith(b"wipe "):
            _, _, data = line.split(b" ", 2)
            regions.append(bytes.fromhex(data.decode()))
    return regions


@unittest.skipUnless(harness.can_use_namespaces() and shutil.which("cc"),
                     "needs root, mount namespaces and a C compiler")
class SecretsClearedTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.program = harness.program("credcheck")
        cls.dir, cls.library = harness.build_preload(LOGGING_BZERO, "logging_bzero")
        cls.world = harness.World(
            passwd="root:x:0:0:root:/root:/bin/sh\nann:x:1002:1002::/home/ann:/bin/sh\n",
            shadow="ann:%s:19000:0:99999:7:::\n" % MD5_PANCAKES)

    @classmethod
    def tearDownClass(cls):
        cls.world.close()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def run_logged(self, *args):
        asan = os.environ.get("ASAN_OPTIONS", "")
        env = {"LD_PRELOAD": self.library,
               "ASAN_OPTIONS": (asan + ":" if asan else "") + "verify_asan_link_order=0"}
        return self.world.run([self.program] + list(args), env=env)

    def assertBufferWiped(self, regions, size, text):
        """A region of size bytes that held text (NUL-terminated) was cleared."""
        held = text.encode() + b"\0"
        self.assertTrue(any(len(r) == size and r.startswith(held) for r in regions),
                        "no %d-byte region holding %r among %r" % (size, text, regions))

    def test_check_mode_clears_guess_and_encrypted_password(self):
        result = self.run_logged("-c", MD5_PANCAKES, "pancakes1")
        self.assertEqual(result.status, 1)
        regions = wiped(result.stderr)
        self.assertBufferWiped(regions, 128, MD5_PANCAKES)
        self.assertBufferWiped(regions, 128, "pancakes")  # cut by the retry
        self.assertIn(b"pancakes1", regions)              # the argument itself

    def test_query_mode_clears_password_and_record(self):
        result = self.run_logged("-l", "ann", "pancakes")
        self.assertEqual(result.status, 0)
        regions = wiped(result.stderr)
        self.assertBufferWiped(regions, 128, "pancakes")
        records = [r for r in regions if r.startswith(b"ann\0") and MD5_PANCAKES.encode() in r]
        self.assertTrue(records, "the Cred record was not cleared: %r" % regions)

    def test_buffers_are_cleared_when_masked_entry_ends_the_process(self):
        result = self.run_logged("-c", MD5_PANCAKES)
        self.assertEqual(result.status, 1)
        self.assertIn(b"not interactive", result.stderr)
        self.assertBufferWiped(wiped(result.stderr), 128, MD5_PANCAKES)


if __name__ == "__main__":
    unittest.main()
