// aging.cpp - the account state from the shadow entry's aging fields,
// decided as the host's PAM unix module decides it, and the login shell.
#include <string.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>

#include "account/internal.h"

namespace credaccount {

// The fields are days; -1 is an unset field.  The module's rules:
// the expiry day itself is expired; a last change of 0 forces a change and
// ends the aging checks; a last change in the future ends them as well;
// an empty last change (-1) is a day before 1970.  Sums are made in a
// wider type so that no field value overflows them.
Aging DecideAging(long today, long lastChange, long maxDays, long inactiveDays, long expireDay) {
    using Wide = __int128;
    Aging a{};
    a.expired = expireDay != -1 && today >= expireDay;
    if (lastChange == 0) {
        a.mustChange = true;
        return a;
    }
    if (today < lastChange) return a;
    Wide age = Wide(today) - lastChange;
    a.passwordExpired = maxDays != -1 && age > maxDays;
    a.inactive = a.passwordExpired && inactiveDays != -1 && age > inactiveDays &&
                 age > Wide(maxDays) + inactiveDays;
    return a;
}

namespace {

// While a walk keeps them, the answers per shell: the file is read once
// per distinct shell rather than once per user.
std::unordered_map<std::string, bool> *g_shellAnswers = nullptr;

bool ReadShellListed(const char *path, const char *shell);

}  // namespace

void KeepShellAnswers(bool keep) {
    delete g_shellAnswers;
    g_shellAnswers = keep ? new (std::nothrow) std::unordered_map<std::string, bool> : nullptr;
}

bool ShellListed(const char *path, const char *shell) {
    if (g_shellAnswers == nullptr) return ReadShellListed(path, shell);
    try {
        auto found = g_shellAnswers->find(shell);
        if (found != g_shellAnswers->end()) return found->second;
        return g_shellAnswers->emplace(shell, ReadShellListed(path, shell)).first->second;
    } catch (...) {
        return ReadShellListed(path, shell);  // no memory to keep the answer
    }
}

namespace {

bool ReadShellListed(const char *path, const char *shell) {
    FILE *fp = std::fopen(path, "re");
    if (fp == nullptr) return false;
    char line[4096];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, fp) != nullptr) {
        std::string_view text = line;
        text = text.substr(0, text.find_first_of("#\n"));
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
        std::size_t start = text.find_first_not_of(" \t");
        found = start != std::string_view::npos && text.substr(start) == shell;
    }
    std::fclose(fp);
    return found;
}

}  // namespace

bool FileHasUserLine(const char *path, const char *user) {
    FILE *fp = std::fopen(path, "re");
    if (fp == nullptr) return false;
    std::size_t n = std::strlen(user);
    char line[4096];
    if (n + 1 >= sizeof line) {
        std::fclose(fp);
        return false;
    }
    bool found = false, lineStart = true;
    while (!found && std::fgets(line, sizeof line, fp) != nullptr) {
        found = lineStart && std::strncmp(line, user, n) == 0 && line[n] == ':';
        lineStart = std::strchr(line, '\n') != nullptr;
    }
    explicit_bzero(line, sizeof line);  // the lines hold hashes
    std::fclose(fp);
    return found;
}

}  // namespace credaccount
