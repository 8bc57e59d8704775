// query_mode.cpp - "-l" mode (can this process read a user's encrypted
// password, and does a password authenticate against it?) and "-g" mode
// (the library's timed probe for any readable encrypted password).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "cred/cred.h"
#include "driver/driver.h"
#include "driver/input.h"
#include "verify/verify.h"

namespace credcheck {
namespace {

constexpr char kPolicyPath[] = "/etc/security/policy.conf";
constexpr std::size_t kLineSize = 256;
// An encrypted password this short was not looked up correctly.
constexpr std::size_t kShortEncrypted = 11;
constexpr std::size_t kDesKeyLength = 8;

struct FileCloser {
    void operator()(FILE *fp) const { std::fclose(fp); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Echo every line of the host's crypt policy that begins with CRYPT.
void EchoPolicy() {
    File policy(std::fopen(kPolicyPath, "r"));
    if (!policy) return;
    FILE *out = Report();
    std::fprintf(out, "Found %s:\n", kPolicyPath);
    char line[kLineSize];
    while (std::fgets(line, sizeof line, policy.get()) != nullptr) {
        if (std::strncmp(line, "CRYPT", 5) == 0) std::fprintf(out, "    %s", line);
    }
}

// The user name from the command line, or asked for (default root).  With
// a name given, "-g METHOD" after the password sets the group-list method.
void GetUserName(int argc, char **argv, char *user) {
    if (!HasArgument(argc, argv, 2)) {
        std::fputs("\nUsername to query [root]: ", Report());
        if (ReadLine(user) == 0) CopyArgument(user, "root");
        return;
    }
    CopyArgument(user, argv[2]);
    if (argc >= 6 && std::string_view(argv[4]) == "-g") CredGroupListMethod = ParseNumber(argv[5]);
}

void GetPassword(int argc, char **argv, const char *user, char *password) {
    if (argc >= 4) {
        CopyArgument(password, argv[3]);
        return;
    }
    char prompt[256];
    std::snprintf(prompt, sizeof prompt, "Password for %s: ", user);
    ReadSecret(prompt, password);
}

// Report the format of the user's encrypted password; returns the verdict.
int ClassifyAndReport(const char *encrypted) {
    const char *alg = nullptr;
    int valid = ClassifyEncryptedPassword(encrypted, &alg);
    FILE *out = Report();
    if (valid == 1)
        std::fprintf(out, "%s encrypted password is valid.\n", alg);
    else if (std::string_view(alg) == "unknown")
        std::fputs("Encrypted password is INVALID.\n", out);
    else
        std::fprintf(out, "%s encrypted password is INVALID.\n", alg);
    std::fputs("\n", out);
    return valid;
}

// The password matched; returns the exit status.
int ReportSuccess(int valid, const char *user, const Cred &cred) {
    FILE *out = Report();
    if (valid == 1) {
        std::fputs("Password was authenticated successfully.\n", out);
        return 0;
    }
    std::fprintf(out,
                 "\nEncrypted password for user \"%s\" returned by the system was:\n\n\t%s\n\n",
                 user, cred.passwd);
    std::fprintf(out,
                 "Password was authenticated successfully, however, the encrypted password for\n"
                 "user %s appears to not follow the standardized format.  Often, programs\n"
                 "require that the encrypted passwords to be in standard format as a security\n"
                 "precaution.\n",
                 user);
    return 1;
}

// The password did not match: say why, and retry with its first 8
// characters when that could help.
void ReportFailure(int valid, char *password, std::size_t length, const Cred &cred) {
    FILE *out = Report();
    if (std::strlen(cred.passwd) <= kShortEncrypted) {
        std::fputs("Password was NOT authenticated.\n", out);
        std::fputs(
            "This is not surprising since it appears that the encrypted password was not\n"
            "looked up correctly.\n",
            out);
    } else if (valid == 0) {
        std::fputs("Password was NOT authenticated.\n", out);
        std::fputs("This is not surprising since the encrypted password appears to be invalid.\n",
                   out);
    } else if (length <= kDesKeyLength) {
        std::fputs("Password was NOT authenticated.\n", out);
    } else {
        std::fputs("Checking to see if a truncated version of the password works...\n", out);
        TruncationRetry(password, length, cred.passwd);
    }
}

}  // namespace

void RunQueryMode(int argc, char **argv) {
    char user[kInputSize] = {};
    char password[kInputSize] = {};
    Cred cred = {};
    WipeAtExit(password, sizeof password);
    WipeAtExit(&cred, sizeof cred);
    WipeArgumentAtExit(argc, argv, 3);

    PrintBanner(Mode::Query);
    KnownAnswerTest();
    EchoPolicy();
    WarnIfNotSuperuser(Mode::Query);

    GetUserName(argc, argv, user);
    int rc = GetCredName(user, &cred, 1, 1, 1);
    std::fprintf(Report(), "GetCredByName rc=%d\n", rc);
    if (rc != 0) Finish(1);

    int valid = ClassifyAndReport(cred.passwd);
    GetPassword(argc, argv, user, password);
    std::size_t length = std::strlen(password);
    std::fprintf(Report(), "Number of characters received for password for %s: %u.\n", user,
                 static_cast<unsigned>(length));
    if (CheckGuess(password, cred.passwd) == 0) Finish(ReportSuccess(valid, user, cred));
    ReportFailure(valid, password, length, cred);
    Finish(1);
}

void RunProbeMode(int argc, char **argv) {
    // The walk writes about a dozen trace lines per user: into a file or a
    // pipe, larger blocks mean far fewer writes.  Nothing has gone to
    // standard output yet, so its buffer may still be chosen.
    static char traceBuffer[1 << 16];
    if (!isatty(fileno(stdout))) std::setvbuf(stdout, traceBuffer, _IOFBF, sizeof traceBuffer);
    int limit = HasArgument(argc, argv, 2) ? ParseNumber(argv[2]) : 0;
    if (limit < 0) limit = 0;
    unsigned n = 0;
    unsigned tx = 0;
    CanGetEncryptedPasswords2(static_cast<unsigned>(limit), &n, &tx);
    Finish(1);
}

}  // namespace credcheck
