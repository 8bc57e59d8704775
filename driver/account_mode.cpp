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
#include "driver/account_options.h"
#include "driver/account_report.h"
#include "driver/driver.h"
#include "lineedit/lineedit.h"

namespace credcheck {
namespace {

constexpr std::size_t kMaskedSize = GL_BUF_SIZE;

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
    AccountOptions o = ReadAccountOptions(argc, argv);
    const CredPolicy &policy = ReadPolicy(o, argv[0]);
    if (o.all) RunAuditMode(o, policy);
    if (o.passwordIndex != 0) WipeArgumentAtExit(argc, argv, o.passwordIndex);
    const char *password = o.password;
    if (password != nullptr && std::string_view(password) == "-") password = ReadPassword();

    static CredAccount account;
    CredLoginOptions login{o.pamService, o.ssh ? 1 : 0, o.sshAddress, o.costly ? 1 : 0};
    CredAnalyzeLogin(o.user, password, &login, &account);
    CredJudgePolicy(&policy, &account);
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
    FinishReport(static_cast<int>(account.verdict));
}

}  // namespace credcheck
