// ssh.cpp - sshd's own rules for a user and a client address: sshd's
// settings for them (ssh_sshd.cpp), the allow and deny rules in sshd's order
// with sshd's patterns (ssh_patterns.cpp), PermitRootLogin, and the ways in
// that are left: passwords, and the authorized keys StrictModes lets sshd
// use (ssh_keys.cpp).
#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "account/internal.h"

namespace credaccount {
namespace {

// What the report needs of sshd's settings, as "sshd -T" names them.
struct SshdSettings {
    std::vector<std::string> denyUsers, allowUsers, denyGroups, allowGroups;
    std::string permitRootLogin = "prohibit-password";
    bool passwordAuth = true, kbdInteractive = false, usePam = false, pubkey = true;
    bool strictModes = true;
    std::string keyFiles = ".ssh/authorized_keys";
    bool keysElsewhere = false;  // AuthorizedKeysCommand or TrustedUserCAKeys
    std::string methods = "any";
    std::string accepted, caAlgorithms;  // empty when sshd does not print them
};

// The lists print one entry a line, and add up; the rest one line each.
SshdSettings ReadSettings(const std::string &text) {
    SshdSettings s;
    for (const std::string &line : Words(text, '\n')) {
        std::size_t space = line.find(' ');
        std::string key = line.substr(0, space);
        std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        bool yes = value == "yes";
        std::vector<std::string> *list = key == "denyusers"     ? &s.denyUsers
                                         : key == "allowusers"  ? &s.allowUsers
                                         : key == "denygroups"  ? &s.denyGroups
                                         : key == "allowgroups" ? &s.allowGroups
                                                                : nullptr;
        if (list != nullptr) {
            for (std::string &w : Words(value)) list->push_back(std::move(w));
        } else if (key == "permitrootlogin") {
            s.permitRootLogin = value;
        } else if (key == "passwordauthentication") {
            s.passwordAuth = yes;
        } else if (key == "kbdinteractiveauthentication" ||
                   key == "challengeresponseauthentication") {
            s.kbdInteractive = yes;
        } else if (key == "usepam") {
            s.usePam = yes;
        } else if (key == "pubkeyauthentication") {
            s.pubkey = yes;
        } else if (key == "strictmodes") {
            s.strictModes = yes;
        } else if (key == "authorizedkeysfile") {
            s.keyFiles = value;
        } else if (key == "authorizedkeyscommand" || key == "trustedusercakeys") {
            s.keysElsewhere |= !value.empty() && value != "none";
        } else if (key == "authenticationmethods") {
            s.methods = value;
        } else if (key == "pubkeyacceptedalgorithms" || key == "pubkeyacceptedkeytypes") {
            s.accepted = value;
        } else if (key == "casignaturealgorithms") {
            s.caAlgorithms = value;
        }
    }
    return s;
}

std::string Joined(const std::vector<std::string> &words) {
    std::string out;
    for (const std::string &w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

std::vector<std::string> GroupNames(const struct passwd *pw) {
    std::vector<std::string> names;
    std::string name;
    for (gid_t gid : GroupsOf(pw))
        if (LookUpGroup(gid, &name) > 0) names.push_back(name);
    return names;
}

// What refuses: the directive with the pattern, and why in words.
struct Refusal {
    std::string rule, reason;
};

bool UsersRefuse(const SshdSettings &s, const struct passwd *pw, const char *address, Refusal *r) {
    std::string who = std::string(pw->pw_name) + " from " + address;
    for (const std::string &entry : s.denyUsers)
        if (MatchUserEntry(pw->pw_name, address, entry)) {
            r->rule = "DenyUsers " + entry;
            r->reason = r->rule + " matches " + who;
            return true;
        }
    bool listed = s.allowUsers.empty();
    for (const std::string &entry : s.allowUsers)
        listed |= MatchUserEntry(pw->pw_name, address, entry);
    if (listed) return false;
    r->rule = "AllowUsers " + Joined(s.allowUsers);
    r->reason = who + " matches no entry of AllowUsers";
    return true;
}

// The primary and supplementary groups that have a name; with none, sshd
// refuses whenever either group list is set.
bool GroupsRefuse(const SshdSettings &s, const struct passwd *pw, Refusal *r) {
    if (s.denyGroups.empty() && s.allowGroups.empty()) return false;
    std::string whose = std::string(pw->pw_name) + "'s group";
    std::vector<std::string> groups = GroupNames(pw);
    if (groups.empty()) {
        r->rule = s.denyGroups.empty() ? "AllowGroups" : "DenyGroups";
        r->reason = "no " + whose + " has a name, and " + r->rule + " is set";
        return true;
    }
    bool member = s.allowGroups.empty();
    for (const std::string &group : groups) {
        for (const std::string &entry : s.denyGroups)
            if (MatchPattern(group, entry)) {
                r->rule = "DenyGroups " + entry;
                r->reason = r->rule + " matches " + whose + " " + group;
                return true;
            }
        for (const std::string &entry : s.allowGroups) member |= MatchPattern(group, entry);
    }
    if (member) return false;
    r->rule = "AllowGroups " + Joined(s.allowGroups);
    r->reason = "no " + whose + " matches AllowGroups";
    return true;
}

// The first rule that refuses, in sshd's order: DenyUsers, AllowUsers,
// DenyGroups, AllowGroups, then PermitRootLogin.
bool Refuses(const SshdSettings &s, const struct passwd *pw, const char *address, Refusal *r) {
    if (UsersRefuse(s, pw, address, r) || GroupsRefuse(s, pw, r)) return true;
    if (pw->pw_uid != 0 || s.permitRootLogin != "no") return false;
    r->rule = "PermitRootLogin no";
    r->reason = "PermitRootLogin no refuses root";
    return true;
}

// Whether one comma list of AuthenticationMethods can be completed with
// the ways that are on.
bool Completes(std::string_view list, bool password, bool kbd, bool keys) {
    for (const std::string &method : Words(list, ',')) {
        std::string name = method.substr(0, method.find(':'));
        bool on = name == "password"               ? password
                  : name == "keyboard-interactive" ? kbd
                  : name == "publickey"            ? keys
                                                   : false;
        if (!on) return false;
    }
    return true;
}

bool AnyCompletes(const std::string &methods, bool password, bool kbd, bool keys) {
    if (methods == "any") return password || kbd || keys;
    for (const std::string &list : Words(methods))
        if (Completes(list, password, kbd, keys)) return true;
    return false;
}

// Passwords (PasswordAuthentication, or KbdInteractiveAuthentication with
// UsePAM) and keys, for root as PermitRootLogin leaves them.
KeyTally WaysIn(const SshdSettings &s, const struct passwd *pw, CredSsh *ssh) {
    bool root = pw->pw_uid == 0;
    const std::string &prl = s.permitRootLogin;
    bool keysOnly = root && prl != "yes";
    bool forcedOnly = root && prl == "forced-commands-only";
    bool password = s.passwordAuth && !keysOnly, kbd = s.kbdInteractive && s.usePam && !keysOnly;
    if (keysOnly)
        ssh->passwordOff = forcedOnly    ? "PermitRootLogin forced-commands-only"
                           : prl == "no" ? "PermitRootLogin no"
                                         : "PermitRootLogin prohibit-password";
    else if (!password && !kbd)
        ssh->passwordOff = s.kbdInteractive ? "PasswordAuthentication no, UsePAM no"
                                            : "PasswordAuthentication no, "
                                              "KbdInteractiveAuthentication no";
    KeyTally tally;
    if (!s.pubkey) {
        ssh->keysOff = "PubkeyAuthentication no";
    } else {
        KeyRules rules;
        rules.strictModes = s.strictModes;
        rules.forcedOnly = forcedOnly;
        rules.accepted = s.accepted;
        rules.caAlgorithms = s.caAlgorithms;
        rules.now = static_cast<long long>(std::time(nullptr));
        tally = CountAuthorizedKeys(pw, s.keyFiles, rules, ssh);
        ssh->keys = tally.usable;
        if (ssh->keys == 0 && s.keysElsewhere) ssh->keys = -1;
    }
    ssh->password = AnyCompletes(s.methods, password, kbd, false);
    if (!ssh->password && ssh->passwordOff == nullptr) ssh->passwordOff = "AuthenticationMethods";
    if (ssh->allowed && ssh->keys != 0 && !AnyCompletes(s.methods, password, kbd, true)) {
        ssh->allowed = 0;
        std::snprintf(ssh->rule, sizeof ssh->rule, "AuthenticationMethods %s", s.methods.c_str());
        std::snprintf(ssh->reason, sizeof ssh->reason,
                      "no list of AuthenticationMethods %s can be completed from %s",
                      s.methods.c_str(), ssh->address);
    }
    return tally;
}

// Whether every path refused is refused by StrictModes (owner and mode),
// not because the user cannot read it or it is not a regular file.
bool StrictOnly(const CredSsh &ssh) {
    for (int i = 0; i < ssh.nproblems; ++i)
        if (std::string_view(ssh.problems[i].problem).starts_with("not ")) return false;
    return true;
}

// Why no key is usable: the paths refused, else the keys sshd would not
// take and why the first of them.
void NoWayReason(CredSsh *ssh, const KeyTally &tally) {
    std::string keys =
        ssh->keysOff != nullptr ? std::string("key logins are off (") + ssh->keysOff + ")"
        : ssh->nproblems > 0
            ? "no authorized key is usable (" +
                  std::string(StrictOnly(*ssh) ? "StrictModes refuses " : "sshd cannot use ") +
                  std::to_string(ssh->nproblems) + " path" + (ssh->nproblems > 1 ? "s)" : ")")
        : tally.unusable > 0
            ? "no authorized key is usable (sshd would not use " + std::to_string(tally.unusable) +
                  " key" + (tally.unusable > 1 ? "s; the first: " : ": ") + tally.why + ")"
            : "no authorized key is usable";
    std::snprintf(ssh->reason, sizeof ssh->reason, "password logins are off from %s (%s), and %s",
                  ssh->address, ssh->passwordOff, keys.c_str());
}

}  // namespace

std::vector<std::string> Words(std::string_view text, char separator) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        bool space = separator == ' ';
        auto isSep = [&](char c) { return space ? (c == ' ' || c == '\t') : c == separator; };
        while (i < text.size() && isSep(text[i])) ++i;
        std::size_t end = i;
        while (end < text.size() && !isSep(text[end])) ++end;
        if (end > i) words.emplace_back(text.substr(i, end - i));
        i = end;
    }
    return words;
}

std::vector<gid_t> GroupsOf(const struct passwd *pw) {
    std::vector<gid_t> groups(64);
    while (true) {
        int n = static_cast<int>(groups.size());
        if (getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &n) >= 0) {
            groups.resize(static_cast<std::size_t>(n));
            return groups;
        }
        if (groups.size() >= 65536) return {pw->pw_gid};
        groups.resize(std::max(static_cast<std::size_t>(n), groups.size() * 2));
    }
}

bool InGroups(const struct passwd *pw, gid_t gid) {
    for (gid_t g : GroupsOf(pw))
        if (g == gid) return true;
    return false;
}

void CheckSsh(const struct passwd *pw, const char *address, CredAccount *out) {
    CredSsh *ssh = &out->ssh;
    ssh->checked = 1;
    if (std::strlen(address) >= sizeof ssh->address || !IsNumericAddress(address)) {
        ssh->unavailable = "the address is not a numeric IP address";
        return;
    }
    CopyText(ssh->address, sizeof ssh->address, address);
    if (std::strchr(pw->pw_name, ',') != nullptr) {
        ssh->unavailable = "the user name has a ',', which sshd's test mode cannot take";
        return;
    }
    std::string text;
    if (!AskSshd(pw->pw_name, address, &text, ssh)) return;
    SshdSettings settings = ReadSettings(text);
    Refusal refusal;
    ssh->allowed = !Refuses(settings, pw, address, &refusal);
    CopyText(ssh->rule, sizeof ssh->rule, refusal.rule);
    CopyText(ssh->reason, sizeof ssh->reason, refusal.reason);
    KeyTally tally = WaysIn(settings, pw, ssh);
    if (ssh->allowed && !ssh->password && ssh->keys == 0) NoWayReason(ssh, tally);
    // Patterns and group names come from files: no control character is shown.
    for (char *text : {ssh->rule, ssh->reason})
        for (char *c = text; *c != '\0'; ++c)
            if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) *c = '?';
}

}  // namespace credaccount
