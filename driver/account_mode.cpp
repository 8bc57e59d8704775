// account_mode.cpp - "-a" mode: why can (or can't) a user log in?  The
// account layer of the library makes the record; this file reads the
// command line and the password and shows the record as text or as JSON.
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

// The name as it may be shown: control and non-ASCII bytes as \xNN.
std::string Printable(const char *text) {
    std::string out;
    for (const char *p = text; *p != '\0'; ++p) {
        auto c = static_cast<unsigned char>(*p);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += c < 0x20 || c >= 0x7f || c == '\\' ? hex : std::string(1, *p);
    }
    return out;
}

std::string Params(const CredHashInfo &h) {
    std::string out;
    for (int i = 0; i < h.nparams; ++i)
        out += (i ? " " : "") + std::string(h.params[i].name) + "=" +
               std::to_string(h.params[i].value);
    return out;
}

// The sentence that names the cause behind the verdict.
std::string Reason(const CredAccount &a) {
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
            return a.expired      ? "the account expired"
                   : a.inactive   ? "the password expired and the inactive period is over"
                   : a.mustChange ? "a password change is forced (last change 0)"
                                  : "the password expired";
        case CRED_VERDICT_WRONG_PASSWORD:
            return "the password does not authenticate";
        case CRED_VERDICT_PAM_DENIED:
            return std::string("PAM service ") + a.pamService + " refused: " +
                   (a.pamAuthenticate.status != 0 ? a.pamAuthenticate.text : a.pamAccount.text);
    }
    return "";
}

void Line(const char *label, const std::string &text) {
    std::printf("%-10s %s\n", label, text.c_str());
}

std::string Day(long day) {
    return day == -1 ? std::string("unset") : "day " + std::to_string(day);
}

void PrintState(const CredAccount &a) {
    const char *label = "State:";
    auto say = [&label](const std::string &text) {
        Line(label, text);
        label = "";
    };
    if (a.locked) say("locked (\"!\" before the hash; the hash under the lock is described)");
    if (a.disabled) say("disabled or never set");
    if (a.empty) say("empty password");
    if (a.expired) say("account expired (expiry " + Day(a.expireDay) + ")");
    if (a.mustChange) say("change forced (last change 0)");
    if (a.passwordExpired)
        say("password expired (last change " + Day(a.lastChange) + ", maximum age " +
            std::to_string(a.maxDays) + " days)");
    if (a.inactive) say("inactive period over (" + std::to_string(a.inactiveDays) + " days)");
    if (*label != '\0') say("no finding");
}

void PrintText(const CredAccount &a) {
    std::printf("Account report for \"%s\"\n", Printable(a.user).c_str());
    if (a.badName != nullptr)
        Line("Entry:", std::string("not looked up: ") + a.badName);
    else if (!a.exists)
        Line("Entry:", "no source has this user");
    else
        Line("Entry:", std::string("user entry from ") + a.passwdSource + ", shadow entry " +
                           (a.shadowSource[0] ? std::string("from ") + a.shadowSource : "none"));
    if (a.exists) {
        if (a.readable)
            Line("Hash:", std::string("readable, from the ") + a.from + " entry");
        else
            Line("Hash:",
                 std::string("not readable: ") + (std::string_view(a.unreadable) == "permission"
                                                      ? "permission denied"
                                                      : "no shadow entry behind \"x\""));
        if (a.shadowLineBroken)
            Line("", "the shadow file has a line for this user that cannot be read");
        if (a.readable) PrintState(a);
        Line("Shell:",
             a.shellMissing ? "missing (a note; the verdict does not change)"
             : a.shellListed
                 ? std::string(Printable(a.shell)) + ", listed in /etc/shells"
                 : Printable(a.shell) +
                       ", not listed in /etc/shells (a note; the verdict does not change)");
    }
    if (a.hasHash) {
        const CredHashInfo &h = a.hash;
        std::string params = Params(h);
        Line("Method:", std::string(h.method) + (params.empty() ? "" : ", " + params) + "; " +
                            (h.valid ? "syntax valid" : std::string("malformed: ") + h.problem) +
                            "; " + (h.supported ? "supported" : "not supported") +
                            " by this host's crypt; strength " + CredStrengthName(h.strength));
    }
    if (a.passwordChecked) {
        Line("Password:", a.authenticates ? "authenticates" : "does not authenticate");
        for (unsigned bit = 1; bit <= CRED_NOTE_TOO_LONG; bit <<= 1)
            if (a.notes & bit) Line("", std::string("note: ") + CredNoteText(bit));
    }
    if (a.pamRun)
        Line("PAM:", std::string("service ") + Printable(a.pamService) + ": authenticate: " +
                         a.pamAuthenticate.text + "; account: " + a.pamAccount.text);
    Line("Verdict:", std::string(CredVerdictName(a.verdict)) + " (exit " +
                         std::to_string(static_cast<int>(a.verdict)) + "): " + Reason(a));
}

nlohmann::json TextOrNull(const char *text) {
    return text != nullptr && *text != '\0' ? nlohmann::json(text) : nlohmann::json(nullptr);
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
                        {"under_lock", a.locked != 0}};
    if (a.hasHash) {
        j["method"] = h.method;
        j["valid"] = h.valid != 0;
        j["problem"] = TextOrNull(h.problem);
        j["supported"] = h.supported != 0;
        j["strength"] = CredStrengthName(h.strength);
    }
    return j;
}

nlohmann::json Json(const CredAccount &a) {
    nlohmann::json notes = nlohmann::json::array();
    for (unsigned bit = 1; bit <= CRED_NOTE_TOO_LONG; bit <<= 1)
        if (a.notes & bit) notes.push_back(CredNoteText(bit));
    nlohmann::json j = {
        {"user", a.user},
        {"verdict", CredVerdictName(a.verdict)},
        {"exit", static_cast<int>(a.verdict)},
        {"reason", Reason(a)},
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
          {"max_days", a.maxDays},
          {"inactive_days", a.inactiveDays},
          {"expire_day", a.expireDay}}},
        {"password",
         {{"checked", a.passwordChecked != 0},
          {"authenticates", a.authenticates != 0},
          {"notes", notes}}},
    };
    if (a.pamRun) {
        auto step = [](const CredPamStep &s) {
            return nlohmann::json{{"ok", s.status == 0}, {"text", s.text}};
        };
        j["pam"] = {{"service", a.pamService},
                    {"authenticate", step(a.pamAuthenticate)},
                    {"account", step(a.pamAccount)}};
    }
    return j;
}

}  // namespace

nlohmann::json AccountJson(const CredAccount &account) {
    return Json(account);
}
std::string PrintableName(const char *text) {
    return Printable(text);
}

void RunAccountMode(int argc, char **argv) {
    AccountOptions o = ReadAccountOptions(argc, argv);
    if (o.all) RunAuditMode(o);
    if (o.passwordIndex != 0) WipeArgumentAtExit(argc, argv, o.passwordIndex);
    const char *password = o.password;
    if (password != nullptr && std::string_view(password) == "-") password = ReadPassword();

    static CredAccount account;
    CredAnalyzeAccount(o.user, password, o.pamService, &account);
    try {
        if (o.json)
            std::printf("%s\n", Json(account)
                                    .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                                    .c_str());
        else
            PrintText(account);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "credcheck: %s\n", e.what());
        Finish(1);
    }
    Finish(static_cast<int>(account.verdict));
}

}  // namespace credcheck
