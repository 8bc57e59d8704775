"""credcheck: usage, start-up and "-c" mode, compared byte for byte."""

import os
import unittest

import harness

# Fixture hashes, made with:
#   openssl passwd -1 -salt abcdefgh pancakes     -> MD5_PANCAKES
#   openssl passwd -1 -salt abcdefgh pancakes1    -> MD5_PANCAKES1
#   openssl passwd -1 -salt abcdefgh wrong        -> MD5_WRONG
#   openssl passwd -1 -salt abcdefgh wrongwrong1  -> MD5_WRONGWRONG1
#   openssl passwd -1 -salt abcdefgh wrongwro     -> MD5_WRONGWRO
#   python3 -c 'import crypt; print(crypt.crypt("letmein1", "ab"))'  -> DES_LETMEIN1
#   python3 -c 'import crypt; print(crypt.crypt("pw", "aa"))'        -> DES_PW_AA
MD5_PANCAKES = "$1$abcdefgh$FXMjhOfMBzhxo5h9hPtN91"
MD5_PANCAKES1 = "$1$abcdefgh$cCdE6CSl8ZtXQb8RKHEu01"
MD5_WRONG = "$1$abcdefgh$Bxnz5zCx2ozj/GApQPgz71"
MD5_WRONGWRONG1 = "$1$abcdefgh$m3fLjPiOroP/cARRK1Q1s1"
MD5_WRONGWRO = "$1$abcdefgh$Qo3z8JAalYXU0IGb.TRLn0"
DES_LETMEIN1 = "ab3ERPFNQpczI"
DES_PW_AA = "aa5V9MSdgw5ec"

STARTUP = "Cred Library initialized.\n"
BANNER = "-" * 79 + "\nThis test is used to verify that:\n(a) Passwords can be authenticated.\n\n"
KNOWN_ANSWER = "crypt = [kvKPc33T3JzmE]\nencrypted guess == encrypted answer\nDES crypt works.\n"
WARNING = ("\n*** You do not have superuser privileges ***\n"
           "*** This may be required for validating encrypted password ***\n\n")
HEAD = BANNER + KNOWN_ANSWER
MD5_VALID = "BSD MD5 password detected.\n"
DES_VALID = "DES crypt password detected.\nEncrypted password was valid.\n"
MATCH = "encrypted guess == encrypted answer\nPassword was authenticated successfully.\n"
MISMATCH = "encrypted guess did not equal encrypted answer\n"
NOT_AUTHENTICATED = "Password was NOT authenticated.\n"
RETRY = "Checking to see if a truncated version of the password works...\n"


def usage(program):
    return ("Usages:\n"
            "    %s -l <user>\n"
            "    %s -c \"<encrypted password>\"\n"
            "\n"
            "Use \"-l\" mode to verify that a system user's password can be queried.\n"
            "Use \"-c\" mode with a given encrypted password to verify that password\n"
            "validation works.\n" % (program, program))


def received(encrypted, guess):
    return ("Number of characters received for encrypted password: %d.\n" % len(encrypted),
            "Number of characters received for password guess: %d.\n" % len(guess))


@unittest.skipUnless(harness.can_use_namespaces(), "needs root and mount namespaces")
class CheckModeTest(unittest.TestCase):
    POLICY = "CRYPT_DEFAULT=1\n# the host's default\n CRYPT_DEFAULT=2a\nCRYPT_ALGORITHMS_ALLOW=1,2a\n"

    @classmethod
    def setUpClass(cls):
        cls.program = harness.program("credcheck")
        cls.world = harness.World(passwd="root:x:0:0:root:/root:/bin/sh\n")
        cls.policy_world = harness.World(passwd="root:x:0:0:root:/root:/bin/sh\n", policy=cls.POLICY)

    @classmethod
    def tearDownClass(cls):
        cls.world.close()
        cls.policy_world.close()

    def run_check(self, *args, stdin=b"", user=None, world=None):
        return (world or self.world).run([self.program, "-c"] + list(args), stdin=stdin, user=user)

    def assertResult(self, result, out, status, err=STARTUP):
        self.assertEqual(result.out, out)
        self.assertEqual(result.err, err)
        self.assertEqual(result.status, status)

    # ---- command line and start-up ------------------------------------------------

    def test_no_arguments_prints_usage_before_the_library_starts(self):
        result = harness.run([self.program])
        self.assertResult(result, "", 2, err=usage(self.program))

    def test_unknown_modes_print_usage_after_start_up(self):
        for mode in ("-x", "l", "-L", ""):
            with self.subTest(mode=mode):
                result = self.world.run([self.program, mode, "root"])
                self.assertResult(result, "", 2, err=STARTUP + usage(self.program))

    def test_start_up_reports_only_crypt_default_lines_of_the_policy(self):
        result = self.policy_world.run([self.program, "-x"])
        startup = (STARTUP + "Opened /etc/security/policy.conf:\n"
                   "CRYPT_DEFAULT from policy.conf is 1\n")
        self.assertResult(result, "", 2, err=startup + usage(self.program))

    # ---- checks ---------------------------------------------------------------------

    def test_checks_given_on_the_command_line(self):
        md5 = "Cred_md5_crypt = [%s]\n"
        truncated_works = ("The full-length password (9 chars) was NOT authenticated, BUT using the\n"
                           "first 8 characters of the password succeeds.\n")
        invalid = ("DES crypt password detected.\n"
                   "Non base-64 character ('!', hex $21) detected in in DES crypt password.\n"
                   "It appears that the encrypted password you entered is invalid!")
        cases = [  # encrypted, guess, classifier's lines, outcome, status
            (MD5_PANCAKES, "pancakes", MD5_VALID, md5 % MD5_PANCAKES + MATCH, 0),
            (DES_LETMEIN1, "letmein1", DES_VALID, "crypt = [%s]\n" % DES_LETMEIN1 + MATCH, 0),
            # DES uses 8 characters: the first check succeeds.
            (DES_LETMEIN1, "letmein1extra", DES_VALID,
             "crypt = [%s]\n" % DES_LETMEIN1 + MATCH, 0),
            # 8 characters or fewer: no retry.
            (MD5_PANCAKES, "wrong", MD5_VALID, md5 % MD5_WRONG + MISMATCH + NOT_AUTHENTICATED, 1),
            (MD5_PANCAKES, "pancakes1", MD5_VALID,
             md5 % MD5_PANCAKES1 + MISMATCH + RETRY + md5 % MD5_PANCAKES
             + "encrypted guess == encrypted answer\n" + truncated_works, 1),
            (MD5_PANCAKES, "wrongwrong1", MD5_VALID,
             md5 % MD5_WRONGWRONG1 + MISMATCH + RETRY + md5 % MD5_WRONGWRO + MISMATCH
             + NOT_AUTHENTICATED, 1),
            # The warning has no line end: the next line runs on from it.
            ("abc!defghijkl", "pw", invalid, "crypt = [*0]\n" + MISMATCH + NOT_AUTHENTICATED, 1),
        ]
        for encrypted, guess, classified, outcome, status in cases:
            with self.subTest(encrypted=encrypted, guess=guess):
                enc, got = received(encrypted, guess)
                expected = HEAD + enc + classified + got + outcome
                self.assertResult(self.run_check(encrypted, guess), expected, status)

    def test_encrypted_password_from_standard_input(self):
        for stdin in (MD5_PANCAKES.encode() + b"\n", MD5_PANCAKES.encode()):
            with self.subTest(stdin=stdin):
                enc, guess = received(MD5_PANCAKES, "pancakes")
                expected = (HEAD + "\nEncrypted password: Number of characters input: 34.\n"
                            + enc + MD5_VALID + guess
                            + "Cred_md5_crypt = [%s]\n" % MD5_PANCAKES + MATCH)
                self.assertResult(self.run_check("", "pancakes", stdin=stdin), expected, 0)

    def test_long_input_line_is_cut_to_126_characters(self):
        cut = "a" * 126
        enc, guess = received(cut, "pw")
        expected = (HEAD + "\nEncrypted password: Number of characters input: 126.\n"
                    + enc + DES_VALID + guess
                    + "crypt = [%s]\n" % DES_PW_AA + MISMATCH + NOT_AUTHENTICATED)
        result = self.run_check("", "pw", stdin=b"a" * 200 + b"\n")
        self.assertResult(result, expected, 1)

    def test_end_of_input_gives_an_empty_encrypted_password(self):
        enc, guess = received("", "pw")
        expected = (HEAD + "\nEncrypted password: Number of characters input: 0.\n" + enc
                    + 'Not long enough ("", only 0 chars) to be a DES crypt password.\n'
                    "It appears that the encrypted password you entered is invalid!" + guess
                    + "crypt = [*0]\n" + MISMATCH + NOT_AUTHENTICATED)
        self.assertResult(self.run_check("", "pw"), expected, 1)

    def test_non_root_run_prints_the_superuser_warning(self):
        enc, guess = received(MD5_PANCAKES, "pancakes")
        expected = (HEAD + WARNING + enc + MD5_VALID + guess
                    + "Cred_md5_crypt = [%s]\n" % MD5_PANCAKES + MATCH)
        result = self.run_check(MD5_PANCAKES, "pancakes", user=harness.NOBODY)
        self.assertResult(result, expected, 0)

    # ---- the guess read at the terminal ------------------------------------------------

    def test_guess_is_read_with_masked_entry(self):
        enc, guess = received(MD5_PANCAKES, "pancakes")
        before = HEAD + enc + MD5_VALID + "\nPassword guess: "
        after = guess + "Cred_md5_crypt = [%s]\n" % MD5_PANCAKES + MATCH
        for args in ([MD5_PANCAKES], [MD5_PANCAKES, ""]):
            with self.subTest(args=args):
                result = self.world.pty([self.program, "-c"] + args,
                                        [("expect", b"Password guess: "), ("send", b"pancakes\r")])
                screen = result.screen.decode("latin-1")
                self.assertEqual(screen, before.replace("\n", "\r\n") + "********\r\n\r"
                                 + after.replace("\n", "\r\n"))
                self.assertEqual(result.stderr, STARTUP.encode())
                self.assertEqual(result.status, 0)
                self.assertTrue(result.settings_restored)

    def test_guess_needed_without_a_terminal_ends_with_an_error(self):
        enc, _ = received(MD5_PANCAKES, "")
        expected = HEAD + enc + MD5_VALID + "\n"
        err = STARTUP + "\n*** Error: gl_getline(): not interactive, use stdio.\n"
        self.assertResult(self.run_check(MD5_PANCAKES), expected, 1, err=err)


if __name__ == "__main__":
    unittest.main()
