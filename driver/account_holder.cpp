// account_holder.cpp - the credential's holder in the "-a" report: what the
// KDC answered, and SSSD's own state.
#include <nlohmann/json.hpp>
#include <string>

#include "driver/account_report.h"

namespace credcheck {
namespace {

nlohmann::json Tristate(int value) {
    return value < 0 ? nlohmann::json(nullptr) : nlohmann::json(value != 0);
}

}  // namespace

std::string KerberosReason(const CredAccount &a) {
    const CredKerberos &k = a.kerberos;
    if (!k.asked || k.verdict != a.verdict) return "";
    std::string principal = PrintableName(k.principal), answer(k.answer);
    std::string name = principal.substr(0, principal.find('@'));
    switch (a.verdict) {
        case CRED_VERDICT_EXPIRED:
            if (answer == "KDC_ERR_NAME_EXP")
                return "the Kerberos principal " + principal + " has expired";
            return "the Kerberos password of " + principal + " expired" +
                   (k.passwordExpires >= 0 ? " on " + Time(k.passwordExpires).substr(0, 10)
                                           : std::string()) +
                   " (the report never changes it)";
        case CRED_VERDICT_LOCKED_OUT:
            return "the KDC locked " + name + " out (`kadmin -q \"modprinc -unlock " + name +
                   "\"`)";
        case CRED_VERDICT_NO_SUCH_USER:
            return "the KDC has no principal " + principal;
        case CRED_VERDICT_WRONG_PASSWORD:
            return "the password does not authenticate at the KDC for " + principal;
        case CRED_VERDICT_PAM_DENIED:
            if (k.keytab[0]) return PrintableName(k.keytab);
            return "the KDC refused " + principal + ": " + PrintableName(k.text) + " (" + answer +
                   ")";
        default:
            return "";
    }
}

nlohmann::json KerberosJson(const CredAccount &a) {
    const CredKerberos &k = a.kerberos;
    if (!k.asked) return nullptr;
    return {{"principal", k.principal},
            {"realm", k.realm},
            {"kdc", TextOrNull(k.kdc)},
            {"answer", k.answer},
            {"text", k.text},
            {"with_password", k.withPassword != 0},
            {"password_expires", TimeJson(k.passwordExpires)},
            {"keytab", TextOrNull(k.keytab)}};
}

nlohmann::json SssdJson(const CredAccount &a) {
    const CredSssd &s = a.sssd;
    if (!s.involved) return nullptr;
    return {{"running", s.running != 0},
            {"domain", TextOrNull(s.domain)},
            {"online", Tristate(s.online)},
            {"server", TextOrNull(s.server)},
            {"cache_allowed", Tristate(s.cacheAllowed)},
            {"cached_credentials", Tristate(s.cachedCredentials)},
            {"last_online_login", TimeJson(s.lastOnlineLogin)},
            {"unknown", TextOrNull(s.unknown)}};
}

void PrintHolder(const CredAccount &a) {
    const CredKerberos &k = a.kerberos;
    if (k.asked)
        ReportLine("Kerberos:", PrintableName(k.principal) + ": " +
                                    (k.kdc[0] ? "the KDC " + PrintableName(k.kdc) : "no KDC") +
                                    " answered " + PrintableName(k.answer) +
                                    (k.text[0] ? " (" + PrintableName(k.text) + ")" : ""));
    if (k.asked && k.keytab[0]) ReportLine("", PrintableName(k.keytab));
    const CredSssd &s = a.sssd;
    if (!s.involved) return;
    if (!s.running) {
        ReportLine("SSSD:", "not running");
    } else {
        std::string state = s.online < 0 ? "online or offline: cannot tell"
                            : s.online   ? "online"
                                         : "offline";
        ReportLine("SSSD:", "domain " + (s.domain[0] ? PrintableName(s.domain) : "?") + ", " +
                                state + (s.server[0] ? ", server " + PrintableName(s.server) : ""));
        ReportLine("",
                   std::string("cached credentials: ") +
                       (s.cacheAllowed < 0         ? "unknown"
                        : !s.cacheAllowed          ? "not allowed"
                        : s.cachedCredentials > 0  ? "allowed, the user has one"
                        : s.cachedCredentials == 0 ? "allowed, the user has none"
                                                   : "allowed") +
                       (s.lastOnlineLogin >= 0 ? "; last online login " + Time(s.lastOnlineLogin)
                                               : std::string()));
    }
    if (s.unknown[0]) ReportLine("", PrintableName(s.unknown));
}

}  // namespace credcheck
