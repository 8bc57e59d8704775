// aging.cpp - the account state from the shadow entry's aging fields,
// decided as the host's PAM unix module decides it.
#include <string.h>

#include <cstdio>
#include <cstring>

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
