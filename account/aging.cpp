// aging.cpp - the account state from the shadow entry's aging fields,
// decided as the host's PAM unix module decides it.
#include <string.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>

#include "account/internal.h"

namespace credaccount {

// The fields are days; -1 is an unset field.  The module's rules:
// the expiry day itself is expired; a last change of 0 forces a change and
// ends the aging checks; a last change in the future ends them as well;
// an empty last change (-1) is a day before 1970.  Sums are made in a
// wider type so that no field value overflows them.
Aging DecideAging(long today, long lastChange, long maxDays, long inactiveDays, long expireDay,
                  long warnDays) {
    using Wide = __int128;
    Aging a;
    a.expired = expireDay != -1 && today >= expireDay;
    if (warnDays >= 0 && expireDay >= 0 && !a.expired && expireDay - today <= warnDays)
        a.accountExpiresIn = expireDay - today;
    if (lastChange == 0) {
        a.mustChange = true;
        return a;
    }
    if (today < lastChange) return a;
    Wide age = Wide(today) - lastChange;
    a.passwordExpired = maxDays != -1 && age > maxDays;
    a.inactive = a.passwordExpired && inactiveDays != -1 && age > inactiveDays &&
                 age > Wide(maxDays) + inactiveDays;
    Wide left = Wide(lastChange) + maxDays - today;
    if (warnDays >= 0 && lastChange > 0 && maxDays >= 0 && !a.passwordExpired && left <= warnDays)
        a.passwordExpiresIn = static_cast<long>(left);
    return a;
}

namespace {

// The names that start the lines of one file, kept through a walk so that
// the file is read once rather than once per user.
struct LineNames {
    std::string path;
    std::unordered_set<std::string> names;
};
LineNames *g_lineNames = nullptr;

// Calls take(name) for the name at the start of each line of fp, until it
// answers true; returns whether it did.
template <typename Take>
bool EachLineName(FILE *fp, Take take) {
    char line[4096];
    bool lineStart = true, done = false;
    while (!done && std::fgets(line, sizeof line, fp) != nullptr) {
        const char *colon = lineStart ? std::strchr(line, ':') : nullptr;
        if (colon != nullptr) done = take(std::string_view(line, colon - line));
        lineStart = std::strchr(line, '\n') != nullptr;
    }
    explicit_bzero(line, sizeof line);  // the lines hold hashes
    return done;
}

}  // namespace

void KeepLineNames(bool keep) {
    delete g_lineNames;
    g_lineNames = keep ? new (std::nothrow) LineNames : nullptr;
}

bool FileHasUserLine(const char *path, const char *user) {
    std::string_view name = user;
    if (g_lineNames != nullptr && g_lineNames->path != path) {
        g_lineNames->path = path;
        g_lineNames->names.clear();
        if (FILE *fp = std::fopen(path, "re")) {
            EachLineName(fp, [](std::string_view n) {
                g_lineNames->names.emplace(n);
                return false;
            });
            std::fclose(fp);
        }
    }
    if (g_lineNames != nullptr) return g_lineNames->names.count(std::string(name)) != 0;
    FILE *fp = std::fopen(path, "re");
    if (fp == nullptr) return false;
    bool found = EachLineName(fp, [name](std::string_view n) { return n == name; });
    std::fclose(fp);
    return found;
}

}  // namespace credaccount
