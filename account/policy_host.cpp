// policy_host.cpp - the host's own policy, read from the files that make
// it: the pam_unix line of the passwd service's password stack (its method
// option and rounds=, or what pam_unix falls back to: login.defs'
// ENCRYPT_METHOD, else DES), /etc/login.defs and /etc/default/useradd.
// Each rule names the file and line it comes from; where pam_unix and the
// programs that hash without PAM disagree, a note says so.
#include <strings.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "account/internal.h"

namespace credaccount {
namespace {

struct Setting {
    std::string value, from;  // from: "FILE:LINE"
};
using Settings = std::map<std::string, Setting, std::less<>>;

// "KEY VALUE" (login.defs) or "KEY=VALUE" (useradd) lines; the last of a
// key wins, as the programs that read these files take it.  A file that is
// not a regular one, or larger than 1 MiB, sets nothing.
Settings ReadSettings(const char *path, char separator) {
    Settings out;
    std::string data;
    if (ReadRegularFile(path, 1 << 20, &data) != FileRead::kRead) return out;
    EachLine(data, [&](std::string_view text, int number) {
        text = text.substr(0, text.find_first_of("#\r"));
        std::size_t start = text.find_first_not_of(" \t");
        if (start == std::string_view::npos) return true;
        text.remove_prefix(start);
        std::size_t end = separator == '=' ? text.find('=') : text.find_first_of(" \t");
        if (end == std::string_view::npos) return true;
        std::string_view value = text.substr(end + 1);
        value.remove_prefix(std::min(value.size(), value.find_first_not_of(" \t\"")));
        value = value.substr(0, value.find_last_not_of(" \t\"") + 1);
        out[std::string(text.substr(0, end))] = {std::string(value),
                                                 std::string(path) + ":" + std::to_string(number)};
        return true;
    });
    return out;
}

// pam_unix's method options and the names of the methods they write.
struct PamMethod {
    std::string_view option, method;
};
constexpr PamMethod kPamMethods[] = {{"md5", "md5crypt"},       {"bigcrypt", "bigcrypt"},
                                     {"sha256", "sha256crypt"}, {"sha512", "sha512crypt"},
                                     {"blowfish", "bcrypt"},    {"gost_yescrypt", "gost-yescrypt"},
                                     {"yescrypt", "yescrypt"}};

// ENCRYPT_METHOD as pam_unix reads it: the first option that begins the
// value, in any case; "" when none does.
std::string_view PamReadsEncryptMethod(std::string_view value) {
    for (const PamMethod &m : kPamMethods)
        if (value.size() >= m.option.size() &&
            strncasecmp(value.data(), m.option.data(), m.option.size()) == 0)
            return m.method;
    return "";
}

// ENCRYPT_METHOD as the programs that hash without PAM read it.
std::string_view ShadowMethod(std::string_view value) {
    constexpr PamMethod kNames[] = {{"DES", "descrypt"},
                                    {"MD5", "md5crypt"},
                                    {"SHA256", "sha256crypt"},
                                    {"SHA512", "sha512crypt"},
                                    {"BCRYPT", "bcrypt"},
                                    {"YESCRYPT", "yescrypt"},
                                    {"GOST_YESCRYPT", "gost-yescrypt"}};
    for (const PamMethod &m : kNames)
        if (strcasecmp(std::string(value).c_str(), std::string(m.option).c_str()) == 0)
            return m.method;
    return "";
}

// The word of a method's cost rule; "" for a method without one.
std::string CostRuleOf(std::string_view method) {
    if (method == "sha256crypt" || method == "sha512crypt")
        return std::string(method) + ".rounds.min";
    if (method == "bcrypt" || method == "yescrypt" || method == "gost-yescrypt")
        return std::string(method) + ".cost.min";
    return "";
}

// A rule of the host: a value it cannot hold (a cost out of range) makes no
// rule, as the host's own programs would not write it either.
void Add(CredPolicy *p, std::string_view rule, std::string_view value, std::string_view from) {
    if (!rule.empty()) AddPolicyRule(p, rule, value, from);
}

// What pam_unix writes: method and cost, from its line or what it falls
// back to.  Returns the method ("" when the stack has no pam_unix line),
// and where it comes from in *methodFrom.
std::string PamUnixRules(const char *confdir, const Settings &defs, CredPolicy *p,
                         std::string *methodFrom) {
    PamStack stack;
    if (!ReadPamStack("passwd", &stack, confdir)) return "";
    const PamStackLine *line = nullptr;
    for (const PamStackLine &l : stack.lines)
        if (l.type == "password" && !l.mustFail && BaseName(l.module) == "pam_unix.so") {
            line = &l;
            break;
        }
    if (line == nullptr) return "";
    std::string from = line->file + ":" + std::to_string(line->number);
    std::string method, rounds, roundsFrom = from;
    *methodFrom = from;
    for (const std::string &word : Words(line->args)) {
        for (const PamMethod &m : kPamMethods)
            if (word == m.option) method = m.method;  // the last one wins
        if (word.starts_with("rounds=")) rounds = word.substr(7);
    }
    auto encrypt = defs.find("ENCRYPT_METHOD");
    if (method.empty() && encrypt != defs.end() &&
        !PamReadsEncryptMethod(encrypt->second.value).empty()) {
        method = PamReadsEncryptMethod(encrypt->second.value);
        *methodFrom = encrypt->second.from;
        // With the method from login.defs, pam_unix takes its cost from there too.
        const char *key = Yescrypt(method)            ? "YESCRYPT_COST_FACTOR"
                          : method.starts_with("sha") ? "SHA_CRYPT_MAX_ROUNDS"
                                                      : nullptr;
        auto cost = key != nullptr && rounds.empty() ? defs.find(key) : defs.end();
        if (cost != defs.end()) rounds = cost->second.value, roundsFrom = cost->second.from;
    }
    if (method.empty()) method = "descrypt";  // pam_unix's own default
    // pam_unix gives these methods a cost of 5 when nothing sets one.
    if (rounds.empty() && (method == "bcrypt" || Yescrypt(method))) rounds = "5";
    Add(p, "methods", method, *methodFrom);
    if (!rounds.empty()) Add(p, CostRuleOf(method), rounds, roundsFrom);
    return method;
}

}  // namespace

void ReadHostPolicy(CredPolicy *p, const char *pamd, const char *loginDefs, const char *useradd) {
    Settings defs = ReadSettings(loginDefs, ' ');
    std::string pamFrom, pamMethod = PamUnixRules(pamd, defs, p, &pamFrom);
    auto encrypt = defs.find("ENCRYPT_METHOD");
    std::string_view shadowMethod =
        encrypt == defs.end() ? std::string_view() : ShadowMethod(encrypt->second.value);
    if (pamMethod.empty() && !shadowMethod.empty())
        Add(p, "methods", shadowMethod, encrypt->second.from);
    if (!pamMethod.empty() && !shadowMethod.empty() && shadowMethod != pamMethod)
        AddPolicyNote(p, "pam_unix writes " + pamMethod + " (" + pamFrom +
                             "), ENCRYPT_METHOD says " + encrypt->second.value + " (" +
                             encrypt->second.from + "): programs that hash without PAM write " +
                             std::string(shadowMethod));
    // The cost of the programs that hash without PAM, where pam_unix set none.
    const char *minKey = shadowMethod.starts_with("sha") ? "SHA_CRYPT_MIN_ROUNDS"
                         : Yescrypt(shadowMethod)        ? "YESCRYPT_COST_FACTOR"
                         : shadowMethod == "bcrypt"      ? "BCRYPT_MIN_ROUNDS"
                                                         : nullptr;
    auto cost = minKey == nullptr ? defs.end() : defs.find(minKey);
    if (cost == defs.end() && shadowMethod.starts_with("sha"))
        cost = defs.find("SHA_CRYPT_MAX_ROUNDS");
    if (cost != defs.end()) Add(p, CostRuleOf(shadowMethod), cost->second.value, cost->second.from);
    constexpr std::string_view kAging[][2] = {{"PASS_MAX_DAYS", "max_days.max"},
                                              {"PASS_MIN_DAYS", "min_days.min"},
                                              {"PASS_WARN_AGE", "warn_days.min"}};
    for (const auto &[key, rule] : kAging) {
        auto found = defs.find(key);
        if (found != defs.end()) Add(p, rule, found->second.value, found->second.from);
    }
    Settings defaults = ReadSettings(useradd, '=');
    auto inactive = defaults.find("INACTIVE");
    // -1 (or anything but a number of days) turns the inactive period off.
    if (inactive != defaults.end())
        Add(p, "inactive.max", inactive->second.value, inactive->second.from);
}

}  // namespace credaccount
