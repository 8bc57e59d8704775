// report.cpp - what every mode of the driver shares: the usage text, the
// banner, the superuser warning and reading the answers to prompts.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cred/cred.h"
#include "driver/account_report.h"
#include "driver/driver.h"
#include "driver/input.h"
#include "lineedit/lineedit.h"

namespace credcheck {

FILE *Report() {
    return CredDebugStream != nullptr ? CredDebugStream : stdout;
}

void PrintUsage(const char *program) {
    std::fprintf(stderr, "Usages:\n");
    std::fprintf(stderr, "    %s -l <user>\n", program);
    std::fprintf(stderr, "    %s -c \"<encrypted password>\"\n", program);
    std::fprintf(stderr, "\n");
    std::fprintf(stderr,
                 "Use \"-l\" mode to verify that a system user's password can be queried.\n");
    std::fprintf(stderr,
                 "Use \"-c\" mode with a given encrypted password to verify that password\n"
                 "validation works.\n");
}

void UsageError(const char *program, const std::string &what, const char *usage) {
    std::fprintf(stderr, "%s: %s\n", program, what.c_str());
    if (usage != nullptr) std::fprintf(stderr, usage, program);
    std::fprintf(stderr, "See \"%s --help\".\n", program);
    Finish(kUsageStatus);
}

std::string Quoted(const char *word) {
    return "\"" + PrintableName(word) + "\"";
}

void PrintBanner(Mode mode) {
    FILE *out = Report();
    std::fprintf(out, "%s\n", std::string(79, '-').c_str());
    std::fputs("This test is used to verify that:\n", out);
    if (mode == Mode::Query) {
        std::fputs("(a) The encrypted passwords can be accessed; and\n", out);
        std::fputs("(b) Passwords can be authenticated.\n\n", out);
    } else {
        std::fputs("(a) Passwords can be authenticated.\n\n", out);
    }
}

void WarnIfNotSuperuser(Mode mode) {
    if (geteuid() == 0) return;
    FILE *out = Report();
    std::fputs("\n*** You do not have superuser privileges ***\n", out);
    if (mode == Mode::Query) {
        std::fputs("*** On many systems this is required for ***\n", out);
        std::fputs("*** querying encrypted passwords.        ***\n\n", out);
    } else {
        std::fputs("*** This may be required for validating encrypted password ***\n\n", out);
    }
}

bool HasArgument(int argc, char **argv, int index) {
    return argc > index && argv[index][0] != '\0';
}

void CopyArgument(char *buf, const char *arg) {
    std::memset(buf, 0, kInputSize);
    std::strncpy(buf, arg, kInputSize - 1);
}

std::size_t ReadLine(char *buf) {
    std::memset(buf, 0, kInputSize);
    std::fflush(Report());
    // A line of up to 126 characters and its newline.
    if (std::fgets(buf, static_cast<int>(kInputSize) - 1, stdin) == nullptr) {
        buf[0] = '\0';
        return 0;
    }
    return TrimNewline(buf);
}

void ReadSecret(const char *prompt, char *buf) {
    // The masked entry writes straight to the terminal: the report text
    // before it must be out first.
    std::fflush(Report());
    std::fflush(stdout);
    gl_getpass(prompt, buf, static_cast<int>(kInputSize));
}

}  // namespace credcheck
