// check_mode.cpp - "-c" mode: does password checking work for an encrypted
// password the user supplies?  Also the known-answer test and the retry
// with the first 8 characters, which "-l" mode shares.
#include <cstdio>
#include <cstring>

#include "driver/driver.h"
#include "driver/known_answer.h"
#include "verify/verify.h"

namespace credcheck {
namespace {

// Traditional DES crypt uses only this many characters of a password.
constexpr std::size_t kDesKeyLength = 8;

void GetEncryptedPassword(int argc, char **argv, char *encrypted) {
    if (HasArgument(argc, argv, 2)) {
        CopyArgument(encrypted, argv[2]);
        return;
    }
    std::fputs("\nEncrypted password: ", Report());
    std::size_t length = ReadLine(encrypted);
    std::fprintf(Report(), "Number of characters input: %d.\n", static_cast<int>(length));
}

void GetGuess(int argc, char **argv, char *guess) {
    if (HasArgument(argc, argv, 3)) {
        CopyArgument(guess, argv[3]);
        return;
    }
    std::fputs("\n", Report());
    ReadSecret("Password guess: ", guess);
}

// Check guess against encrypted and report; returns the exit status.
int CheckAndReport(char *guess, const char *encrypted) {
    FILE *out = Report();
    std::size_t length = std::strlen(guess);
    if (CheckGuess(guess, encrypted) == 0) {
        std::fputs("Password was authenticated successfully.\n", out);
        return 0;
    }
    if (length <= kDesKeyLength) {
        std::fputs("Password was NOT authenticated.\n", out);
    } else {
        std::fputs("Checking to see if a truncated version of the password works...\n", out);
        TruncationRetry(guess, length, encrypted);
    }
    return 1;
}

}  // namespace

void KnownAnswerTest() {
    if (CheckGuess(kKnownPassword, kKnownCrypt) == 0) {
        std::fputs("DES crypt works.\n", Report());
    } else {
        std::fputs("Password crypt function is not traditional DES crypt (or does not work!).\n",
                   Report());
    }
}

void TruncationRetry(char *password, std::size_t fullLength, const char *encrypted) {
    std::memset(password + kDesKeyLength, 0, kInputSize - kDesKeyLength);
    if (CheckGuess(password, encrypted) == 0) {
        std::fprintf(Report(),
                     "The full-length password (%u chars) was NOT authenticated, BUT using the\n"
                     "first 8 characters of the password succeeds.\n",
                     static_cast<unsigned>(fullLength));
    } else {
        std::fputs("Password was NOT authenticated.\n", Report());
    }
}

void RunCheckMode(int argc, char **argv) {
    char encrypted[kInputSize] = {};
    char guess[kInputSize] = {};
    WipeAtExit(encrypted, sizeof encrypted);
    WipeAtExit(guess, sizeof guess);
    WipeArgumentAtExit(argc, argv, 2);
    WipeArgumentAtExit(argc, argv, 3);

    PrintBanner(Mode::Check);
    KnownAnswerTest();
    WarnIfNotSuperuser(Mode::Check);

    GetEncryptedPassword(argc, argv, encrypted);
    std::fprintf(Report(), "Number of characters received for encrypted password: %u.\n",
                 static_cast<unsigned>(std::strlen(encrypted)));
    if (IsValidEncryptedPassword(encrypted) == 0)
        std::fputs("It appears that the encrypted password you entered is invalid!", Report());

    GetGuess(argc, argv, guess);
    std::fprintf(Report(), "Number of characters received for password guess: %u.\n",
                 static_cast<unsigned>(std::strlen(guess)));
    Finish(CheckAndReport(guess, encrypted));
}

}  // namespace credcheck
