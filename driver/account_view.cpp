// account_view.cpp - the "-a" report's two views of the account record: the
// text, one labelled line per part, and the JSON object.  Neither decides
// anything: the record holds the facts and the verdict.
#include <security/pam_appl.h>

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "account/account.h"
#include "driver/account_report.h"

namespace credcheck {
namespace {

constexpr long kSecondsPerDay = 24 * 60 * 60;

std::string Format(long long seconds, const char *format) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char text[64] = "";
    if (gmtime_r(&t, &tm) != nullptr) std::strftime(text, sizeof text, format, &tm);
    return text;
}

// A day number as a date; "unset" for -1.
std::string Date(long day) {
    return day == -1 ? std::string("unset") : Format(day * kSecondsPerDay, "%Y-%m-%d");
}
nlohmann::json DateJson(long day) {
    return day == -1 ? nlohmann::json(nullptr) : nlohmann::json(Date(day));
}
}  // namespace

std::string Time(long long seconds) {
    return Format(seconds, "%Y-%m-%d %H:%M UTC");
}
nlohmann::json TimeJson(long long seconds) {
    return seconds < 0 ? nlohmann::json(nullptr)
                       : nlohmann::json(Format(seconds, "%Y-%m-%dT%H:%M:%SZ"));
}

namespace {

std::string Params(const CredHashInfo &h) {
    std::string out;
    for (int i = 0; i < h.nparams; ++i)
        out += (i ? " " : "") + std::string(h.params[i].name) + "=" +
               std::to_string(h.params[i].value);
    return out;
}

// "1 day", "2 days".
std::string Count(long n, const char *noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}
std::string Days(long n) {
    return Count(n, "day");
}

// An account note's sentence, with its number of days where it has one.
std::string NoteText(const CredAccount &a, unsigned bit) {
    if (bit == CRED_ANOTE_PASSWORD_EXPIRES)
        return "the password expires in " + Days(a.passwordExpiresIn);
    if (bit == CRED_ANOTE_ACCOUNT_EXPIRES)
        return "the account expires in " + Days(a.accountExpiresIn);
    return CredAccountNoteText(bit);
}

std::string ClearCommand(const CredAccount &a) {
    return "faillock --user " + PrintableName(a.user) + " --reset";
}

std::string Decider(const CredAccount &a) {
    const CredPamDecider &d = a.decidedBy;
    return PrintableName(d.module) + " (" + d.type + ", " + PrintableName(d.control) +
           "): " + d.text;
}

// What the expiry looks like when PAM's account step said so.
std::string ExpiredReason(const CredAccount &a) {
    if (a.expired) return "the account expired on " + Date(a.expireDay);
    if (a.inactive) return "the password expired and the inactive period is over";
    if (a.mustChange) return "a password change is forced (last change 0)";
    if (a.passwordExpired) return "the password expired on " + Date(a.lastChange + a.maxDays + 1);
    for (int i = 0; i < a.nmessages; ++i)
        if (a.messages[i].style == PAM_PROMPT_ECHO_OFF)
            return "a module asked for a new password (\"" + PrintableName(a.messages[i].text) +
                   "\"), which the report never gives: " + Decider(a);
    return "PAM's account step says so: " + (a.decidedBy.kind == CRED_PAM_DECIDER_EXPIRED
                                                 ? Decider(a)
                                                 : std::string(a.pamAccount.text));
}

}  // namespace

std::string NologinSentence(const CredNologinGate &n) {
    return std::string(n.file) + " refuses every user but root" +
           (n.message[0] ? ": \"" + PrintableName(n.message) + "\"" : std::string());
}

nlohmann::json NologinJson(const CredNologinGate &n) {
    if (!n.exists) return nullptr;
    return {{"file", n.file}, {"message", n.message}};
}

nlohmann::json TextOrNull(const char *text) {
    return text != nullptr && *text != '\0' ? nlohmann::json(text) : nlohmann::json(nullptr);
}

std::string PrintableName(const char *text) {
    std::string out;
    for (const char *p = text; *p != '\0'; ++p) {
        auto c = static_cast<unsigned char>(*p);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += c < 0x20 || c >= 0x7f || c == '\\' ? hex : std::string(1, *p);
    }
    return out;
}

void ReportLine(const char *label, const std::string &text) {
    std::printf("%-10s %s\n", label, text.c_str());
}

// The sentence that names the cause behind the verdict.
std::string Reason(const CredAccount &a) {
    bool byPam = a.pamRun && a.decidedBy.kind != CRED_PAM_DECIDER_NONE;
    if (std::string kdc = KerberosReason(a); !kdc.empty()) return kdc;
    switch (a.verdict) {
        case CRED_VERDICT_OK:
            return "the account can log in";
        case CRED_VERDICT_NO_SUCH_USER:
            return a.badName != nullptr ? std::string("no user can have this name: ") + a.badName
                                        : "no name service source has this user";
        case CRED_VERDICT_UNREADABLE:
            return std::string_view(a.unreadable) == "permission"
                       ? "this process may not read the shadow entry"
                       : "the user entry points at a shadow entry that cannot be found";
        case CRED_VERDICT_LOCKED:
            return a.locked ? "the account is locked (\"!\" before its hash)"
                            : "the account is disabled or its password was never set";
        case CRED_VERDICT_EMPTY_PASSWORD:
            return "the password field is empty";
        case CRED_VERDICT_INVALID_HASH:
            return !a.hash.valid
                       ? std::string("the hash is malformed: ") + a.hash.problem
                       : std::string("this host's crypt does not support ") + a.hash.method;
        case CRED_VERDICT_EXPIRED:
            return ExpiredReason(a);
        case CRED_VERDICT_LOCKED_OUT:
            if (a.faillock.locked)
                return "pam_faillock locks the user after " +
                       Count(a.faillock.failures, "failed login") + ", " +
                       (a.faillock.unlockAt < 0 ? std::string("until reset")
                                                : "until " + Time(a.faillock.unlockAt)) +
                       " (" + ClearCommand(a) + " clears it)";
            return "pam_faillock refused: " + Decider(a);
        case CRED_VERDICT_NO_LOGIN:
            if (a.nologin.exists) return NologinSentence(a.nologin);
            return "pam_nologin refused: " + Decider(a);
        case CRED_VERDICT_ACCESS_DENIED:
            return "an access rule refused: " + Decider(a);
        case CRED_VERDICT_SSH_DENIED:
            return "sshd refuses the user: " + PrintableName(a.ssh.reason);
        case CRED_VERDICT_WRONG_PASSWORD:
            return a.directory && a.checkedBy[0]
                       ? "the password does not authenticate in " + PrintableName(a.checkedBy)
                       : "the password does not authenticate";
        case CRED_VERDICT_NO_SHELL:
            return "the login shell " + PrintableName(a.shellGate.path) + " " +
                   a.shellGate.problem + ": authentication would pass, but no session starts";
        case CRED_VERDICT_PAM_DENIED:
            if (byPam)
                return "PAM service " + PrintableName(a.pamService) + " refused: " + Decider(a);
            return "PAM service " + PrintableName(a.pamService) + " refused: " +
                   (a.pamAuthenticate.status != 0 ? a.pamAuthenticate.text : a.pamAccount.text);
        case CRED_VERDICT_UNCHECKED:
            return "not checked: " + PrintableName(a.unchecked);
        case CRED_VERDICT_OFFLINE:
            return "cannot be reached: " + PrintableName(a.offline);
    }
    return "";
}

namespace {

void PrintState(const CredAccount &a) {
    const char *label = "State:";
    auto say = [&label](const std::string &text) {
        ReportLine(label, text);
        label = "";
    };
    if (a.directory) say("decided by the directory, through PAM");
    if (a.locked) say("locked (\"!\" before the hash; the hash under the lock is described)");
    if (a.disabled) say("disabled or never set");
    if (a.empty) say("empty password");
    if (a.expired) say("account expired on " + Date(a.expireDay));
    if (a.mustChange) say("change forced (last change 0)");
    if (a.passwordExpired)
        say("password expired on " + Date(a.lastChange + a.maxDays + 1) + " (last change " +
            Date(a.lastChange) + ", maximum age " + Days(a.maxDays) + ")");
    if (a.inactive) say("inactive period over (" + Days(a.inactiveDays) + ")");
    if (*label != '\0') say("no finding");
}

void PrintEntry(const CredAccount &a) {
    if (a.badName != nullptr)
        ReportLine("Entry:", std::string("not looked up: ") + a.badName);
    else if (!a.exists)
        ReportLine("Entry:", "no source has this user");
    else
        ReportLine("Entry:",
                   std::string("user entry from ") + a.passwdSource + ", shadow entry " +
                       (a.shadowSource[0] ? std::string("from ") + a.shadowSource : "none"));
    if (!a.exists) return;
    if (a.directory || a.holder[0])
        ReportLine("Hash:", (std::string_view(a.from) == "kerberos"
                                 ? std::string("held by the KDC")
                                 : std::string("in the directory (") + a.passwdSource + ")") +
                                ", checked through PAM by " + PrintableName(a.holder) +
                                (a.directory ? "" : "; the local entry does not decide"));
    else if (a.readable)
        ReportLine("Hash:", std::string("readable, from the ") + a.from + " entry");
    else
        ReportLine("Hash:",
                   std::string("not readable: ") + (std::string_view(a.unreadable) == "permission"
                                                        ? "permission denied"
                                                        : "no shadow entry behind \"x\""));
    if (a.shadowLineBroken)
        ReportLine("", "the shadow file has a line for this user that cannot be read");
    if (a.readable) PrintState(a);
}

void PrintGates(const CredAccount &a) {
    const CredShellGate &shell = a.shellGate;
    ReportLine("Shell:", PrintableName(shell.path) +
                             (shell.usable ? std::string(a.shellListed || a.shellMissing
                                                             ? ", starts sessions"
                                                             : ", starts sessions (not listed "
                                                               "in /etc/shells: a note)")
                                           : std::string(" ") + shell.problem));
    if (a.nologin.exists)
        ReportLine("Nologin:",
                   std::string(a.nologin.file) + " exists" +
                       (a.nologin.message[0] ? ": \"" + PrintableName(a.nologin.message) + "\""
                                             : std::string()));
    const CredFaillockGate &f = a.faillock;
    if (!f.readable)
        ReportLine("Faillock:",
                   "the tally in " + PrintableName(f.dir) + " cannot be read by this process");
    else if (f.tally)
        ReportLine("Faillock:", Count(f.failures, "failure") + " counted (deny " +
                                    std::to_string(f.deny) + "), the last at " +
                                    Time(f.lastFailure) +
                                    (f.locked ? "; locked " +
                                                    (f.unlockAt < 0 ? std::string("until reset")
                                                                    : "until " + Time(f.unlockAt)) +
                                                    "; " + ClearCommand(a) + " clears it"
                                              : std::string("; not locked")));
}

void PrintHashAndPassword(const CredAccount &a) {
    if (a.hasHash) {
        const CredHashInfo &h = a.hash;
        std::string params = Params(h);
        ReportLine("Method:",
                   std::string(h.method) + (params.empty() ? "" : ", " + params) + "; " +
                       (h.valid ? "syntax valid" : std::string("malformed: ") + h.problem) + "; " +
                       (h.supported ? "supported" : "not supported") +
                       " by this host's crypt; strength " + CredStrengthName(h.strength) +
                       (h.costly ? "; cost far beyond the method's usual range" : ""));
    }
    if (a.passwordChecked) {
        ReportLine(
            "Password:",
            std::string(a.authenticates ? "authenticates" : "does not authenticate") +
                (a.directory || a.holder[0] ? " (checked by " + PrintableName(a.checkedBy) + ")"
                                            : std::string()));
        for (unsigned bit = 1; bit <= CRED_NOTE_TOO_LONG; bit <<= 1)
            if (a.notes & bit) ReportLine("", std::string("note: ") + CredNoteText(bit));
    }
}

nlohmann::json HashJson(const CredAccount &a) {
    const CredHashInfo &h = a.hash;
    nlohmann::json params = nlohmann::json::object();
    for (int i = 0; i < h.nparams; ++i) params[h.params[i].name] = h.params[i].value;
    nlohmann::json j = {{"readable", a.readable != 0},
                        {"from", TextOrNull(a.from)},
                        {"unreadable", TextOrNull(a.unreadable)},
                        {"method", nullptr},
                        {"params", params},
                        {"valid", nullptr},
                        {"problem", nullptr},
                        {"supported", nullptr},
                        {"strength", nullptr},
                        {"costly", nullptr},
                        {"under_lock", a.locked != 0}};
    if (a.hasHash) {
        j["method"] = h.method;
        j["valid"] = h.valid != 0;
        j["problem"] = TextOrNull(h.problem);
        j["supported"] = h.supported != 0;
        j["strength"] = CredStrengthName(h.strength);
        j["costly"] = h.costly != 0;
    }
    return j;
}

nlohmann::json GatesJson(const CredAccount &a) {
    const CredFaillockGate &f = a.faillock;
    nlohmann::json faillock = nullptr;
    if (!f.readable)
        faillock = {{"readable", false}, {"dir", f.dir},      {"failures", nullptr},
                    {"deny", f.deny},    {"locked", nullptr}, {"unlock_at", nullptr}};
    else if (f.tally)
        faillock = {{"readable", true},
                    {"dir", f.dir},
                    {"failures", f.failures},
                    {"deny", f.deny},
                    {"fail_interval", f.failInterval},
                    {"unlock_time", f.unlockTime},
                    {"last_failure", TimeJson(f.lastFailure)},
                    {"locked", f.locked != 0},
                    {"unlock_at", TimeJson(f.locked ? f.unlockAt : -1)},
                    {"clear_with", f.locked ? nlohmann::json(ClearCommand(a)) : nullptr}};
    return {{"nologin", NologinJson(a.nologin)},
            {"faillock", faillock},
            {"shell",
             {{"path", a.shellGate.path},
              {"usable", a.shellGate.usable != 0},
              {"problem", TextOrNull(a.shellGate.problem)}}}};
}

}  // namespace

void PrintAccountText(const CredAccount &a) {
    std::printf("Account report for \"%s\"\n", PrintableName(a.user).c_str());
    PrintEntry(a);
    if (a.exists) PrintGates(a);
    PrintHashAndPassword(a);
    if (a.pamRun) PrintPam(a);
    if (a.ssh.checked) PrintSsh(a);
    PrintHolder(a);
    if (a.policy.judged) PrintPolicy(a, Params(a.hash));
    for (unsigned bit = 1; bit <= CRED_ANOTE_LAST; bit <<= 1)
        if (a.accountNotes & bit & ~kPamNotes) ReportLine("Note:", NoteText(a, bit));
    ReportLine("Verdict:", std::string(CredVerdictName(a.verdict)) + " (exit " +
                               std::to_string(static_cast<int>(a.verdict)) + "): " + Reason(a));
}

nlohmann::json AccountJson(const CredAccount &a) {
    nlohmann::json notes = nlohmann::json::array(), accountNotes = nlohmann::json::array();
    for (unsigned bit = 1; bit <= CRED_NOTE_TOO_LONG; bit <<= 1)
        if (a.notes & bit) notes.push_back(CredNoteText(bit));
    for (unsigned bit = 1; bit <= CRED_ANOTE_LAST; bit <<= 1)
        if (a.accountNotes & bit & ~kPamNotes) accountNotes.push_back(NoteText(a, bit));
    nlohmann::json j = {
        {"user", a.user},
        {"verdict", CredVerdictName(a.verdict)},
        {"exit", static_cast<int>(a.verdict)},
        {"reason", Reason(a)},
        {"unchecked", TextOrNull(a.unchecked)},
        {"offline", TextOrNull(a.offline)},
        {"bad_name", TextOrNull(a.badName)},
        {"source",
         {{"passwd", TextOrNull(a.passwdSource)}, {"shadow", TextOrNull(a.shadowSource)}}},
        {"hash", HashJson(a)},
        {"account",
         {{"locked", a.locked != 0},
          {"disabled", a.disabled != 0},
          {"empty", a.empty != 0},
          {"expired", a.expired != 0},
          {"password_expired", a.passwordExpired != 0},
          {"must_change", a.mustChange != 0},
          {"inactive", a.inactive != 0},
          {"shell", a.exists ? nlohmann::json(a.shell) : nlohmann::json(nullptr)},
          {"shell_listed", a.shellListed != 0},
          {"today", a.today},
          {"last_change", a.lastChange},
          {"last_change_date", DateJson(a.lastChange)},
          {"max_days", a.maxDays},
          {"inactive_days", a.inactiveDays},
          {"expire_day", a.expireDay},
          {"expire_date", DateJson(a.expireDay)}}},
        {"password",
         {{"checked", a.passwordChecked != 0},
          {"authenticates", a.authenticates != 0},
          {"checked_by", TextOrNull(a.checkedBy)},
          {"notes", notes}}},
        {"gates", a.exists ? GatesJson(a) : nlohmann::json(nullptr)},
        {"notes", accountNotes},
    };
    if (a.pamRun) j["pam"] = PamJson(a);
    if (a.ssh.checked) j["ssh"] = SshJson(a);
    if (a.policy.judged) j["policy"] = PolicyJson(a);
    j["kerberos"] = KerberosJson(a);
    j["sssd"] = SssdJson(a);
    return j;
}

}  // namespace credcheck
