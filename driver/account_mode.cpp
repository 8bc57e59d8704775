// account_mode.cpp - "-a" mode: why can (or can't) a user log in?  The
// account layer of the library makes the record; this file reads the
// command line and the password, and shows the record through one of its
// two views (account_view.cpp).
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "account/account.h"
#include "driver/account_report.h"
#include "driver/driver.h"
#include "lineedit/lineedit.h"

namespace credcheck {
namespace {

constexpr int kUsageStatus = 2;
constexpr std::size_t kMaskedSize = GL_BUF_SIZE;

struct Options {
    const char *user = nullptr;
    const char *password = nullptr;  // null, "-", or the argument
    int passwordIndex = 0;
    const char *pamService = nullptr;
    bool json = false;
    bool ssh = false;
    const char *sshAddress = nullptr;  // null: the library's default
};

[[noreturn]] void UsageError(const char *program, const char *why) {
    std::fprintf(stderr,
                 "%s: %s\nusage: %s -a USER [PASSWORD | -] [--pam SERVICE] [--ssh [ADDRESS]] "
                 "[--json]\n",
                 program, why, program);
    Finish(kUsageStatus);
}

Options ParseOptions(int argc, char **argv) {
    Options o;
    if (argc < 3) UsageError(argv[0], "-a needs a user name");
    o.user = argv[2];
    for (int i = 3; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--json") {
            o.json = true;
        } else if (arg == "--pam") {
            if (++i == argc) UsageError(argv[0], "--pam needs a service name");
            o.pamService = argv[i];
        } else if (arg == "--ssh") {
            o.ssh = true;
            if (i + 1 < argc && argv[i + 1][0] != '-') o.sshAddress = argv[++i];
        } else if (o.password == nullptr) {
            o.password = argv[i];
            o.passwordIndex = i;
        } else {
            UsageError(argv[0], "more than one password");
        }
    }
    return o;
}

// One line of standard input, whatever its length, without its newline;
// read a byte at a time past the stdio buffer, which would keep a copy,
// and every buffer it outgrows is cleared before release.  Null: no memory.
char *ReadWholeLine(std::size_t *size) {
    std::size_t capacity = 256, length = 0;
    char *line = static_cast<char *>(std::calloc(capacity, 1));
    char c = 0;
    while (line != nullptr && read(STDIN_FILENO, &c, 1) == 1 && c != '\n') {
        if (length + 1 == capacity) {
            char *bigger = static_cast<char *>(std::calloc(capacity * 2, 1));
            if (bigger != nullptr) std::memcpy(bigger, line, length);
            explicit_bzero(line, capacity);
            std::free(line);
            line = bigger;
            capacity *= 2;
        }
        if (line != nullptr) line[length++] = c;
    }
    explicit_bzero(&c, sizeof c);
    *size = capacity;
    return line;
}

// Masked entry at the terminal on standard input.  The editor talks to
// standard output; when that is not the terminal (the report goes to a
// pipe or a file), the terminal stands in for it during the entry.
const char *ReadMasked(char *buf, int size) {
    int saved = -1;
    if (!isatty(STDOUT_FILENO)) {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        if (saved >= 0) dup2(STDIN_FILENO, STDOUT_FILENO);
    }
    gl_getpass("Password: ", buf, size);
    if (saved >= 0) {
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
    return buf;
}

// The password: masked entry at a terminal, else one line of input.  The
// buffer is cleared when the process ends.
const char *ReadPassword() {
    static char masked[kMaskedSize];
    if (isatty(STDIN_FILENO)) {
        WipeAtExit(masked, sizeof masked);
        return ReadMasked(masked, static_cast<int>(sizeof masked));
    }
    std::size_t size = 0;
    char *line = ReadWholeLine(&size);
    if (line == nullptr) {
        std::fputs("credcheck: no memory for the password\n", stderr);
        Finish(1);
    }
    WipeAtExit(line, size);
    return line;
}

}  // namespace

void RunAccountMode(int argc, char **argv) {
    if (argc >= 3 && std::string_view(argv[2]) == "--all") RunAuditMode(argc, argv);
    Options o = ParseOptions(argc, argv);
    if (o.passwordIndex != 0) WipeArgumentAtExit(argc, argv, o.passwordIndex);
    const char *password = o.password;
    if (password != nullptr && std::string_view(password) == "-") password = ReadPassword();

    static CredAccount account;
    CredLoginOptions login{};
    login.pamService = o.pamService;
    login.ssh = o.ssh;
    login.sshAddress = o.sshAddress;
    CredAnalyzeLogin(o.user, password, &login, &account);
    try {
        if (o.json)
            std::printf("%s\n", AccountJson(account)
                                    .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                                    .c_str());
        else
            PrintAccountText(account);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "credcheck: %s\n", e.what());
        Finish(1);
    }
    Finish(static_cast<int>(account.verdict));
}

}  // namespace credcheck
