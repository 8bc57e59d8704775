// analyze.cpp - one account's report: the entry and its sources, whether
// the hash can be read, the state, the hash, the password, PAM, and the
// verdict, which is the first that applies of the verdicts in order.
#include <pwd.h>
#include <shadow.h>
#include <string.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "account/internal.h"

namespace credaccount {
namespace {

constexpr const char *kNsswitch = "/etc/nsswitch.conf";
constexpr const char *kShells = "/etc/shells";
constexpr const char *kShadowFile = "/etc/shadow";
constexpr long kSecondsPerDay = 24 * 60 * 60;

void Copy(char *dst, std::size_t size, const char *src) {
    std::snprintf(dst, size, "%s", src != nullptr ? src : "");
}

// Why a name cannot be a user's, or null.
const char *BadName(const char *user) {
    std::size_t n = std::strlen(user);
    if (n == 0) return "the name is empty";
    if (n >= CRED_NAME_SIZE) return "the name is longer than any user name (255 bytes)";
    for (std::size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(user[i]);
        if (c < 0x20 || c == 0x7f) return "the name has a control character";
        if (c == ':') return "the name has a ':'";
    }
    return nullptr;
}

// The passwd field points at the shadow entry: "x", or "##" and the name.
bool Shadowed(const struct passwd *pw) {
    const char *p = pw->pw_passwd != nullptr ? pw->pw_passwd : "";
    return std::strcmp(p, "x") == 0 ||
           (p[0] == '#' && p[1] == '#' && std::strcmp(p + 2, pw->pw_name) == 0);
}

// Empty, disabled ("*...", "!", "!!", "!*..."), locked ("!" before a hash),
// or a hash; the hash, or the one under the lock, is described.  A given
// password is checked whole against it: that one computation of the host's
// crypt also shows whether the method is supported.
void ReadState(const char *field, const char *password, CredAccount *out) {
    if (password != nullptr) out->passwordChecked = 1;
    if (field[0] == '\0') {
        out->empty = 1;
        out->authenticates = password != nullptr && password[0] == '\0';
        return;
    }
    const char *rest = field + std::strspn(field, "!");
    if (rest[0] == '\0' || rest[0] == '*') {
        out->disabled = 1;
        return;
    }
    out->locked = rest != field;
    out->hasHash = 1;
    CryptAnswer answer;
    bool tooLong = false, match = false;
    if (password != nullptr) match = PasswordMatches(password, rest, &tooLong, &answer);
    InspectHash(rest, &answer, &out->hash);
    if (password == nullptr) return;
    if (tooLong) out->notes |= CRED_NOTE_TOO_LONG;
    if (std::strlen(password) > 8 && std::strcmp(out->hash.method, "descrypt") == 0)
        out->notes |= CRED_NOTE_DES_FIRST_8;
    if (match && out->locked) out->notes |= CRED_NOTE_MATCHES_LOCKED;
    out->authenticates = match && !out->locked;
}

void ReadAging(const struct spwd *sp, CredAccount *out) {
    out->lastChange = sp->sp_lstchg;
    out->maxDays = sp->sp_max;
    out->inactiveDays = sp->sp_inact;
    out->expireDay = sp->sp_expire;
    Aging a = DecideAging(out->today, sp->sp_lstchg, sp->sp_max, sp->sp_inact, sp->sp_expire);
    out->expired = a.expired;
    out->passwordExpired = a.passwordExpired;
    out->mustChange = a.mustChange;
    out->inactive = a.inactive;
}

CredVerdict Decide(const CredAccount &a) {
    if (!a.exists) return CRED_VERDICT_NO_SUCH_USER;
    if (!a.readable) return CRED_VERDICT_UNREADABLE;
    if (a.locked || a.disabled) return CRED_VERDICT_LOCKED;
    if (a.empty) return CRED_VERDICT_EMPTY_PASSWORD;
    if (!a.hash.valid || !a.hash.supported) return CRED_VERDICT_INVALID_HASH;
    if (a.expired || a.passwordExpired || a.mustChange || a.inactive) return CRED_VERDICT_EXPIRED;
    if (a.passwordChecked && !a.authenticates) return CRED_VERDICT_WRONG_PASSWORD;
    if (a.pamRun && (a.pamAuthenticate.status != 0 || a.pamAccount.status != 0))
        return CRED_VERDICT_PAM_DENIED;
    return CRED_VERDICT_OK;
}

void Start(const char *user, CredAccount *out) {
    std::memset(out, 0, sizeof *out);
    Copy(out->user, sizeof out->user, user);
    out->lastChange = out->maxDays = out->inactiveDays = out->expireDay = -1;
}

// A lookup with a buffer that grows while the C library asks for more.
// The buffer is cleared when released (a shadow entry holds the hash).
struct Buffer {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    bool Grow() {
        Clear();
        size = size == 0 ? 4096 : size * 4;
        if (size > (1u << 24)) return false;
        data.reset(new (std::nothrow) char[size]);
        return data != nullptr;
    }
    void Clear() {
        if (data) explicit_bzero(data.get(), size);
    }
    ~Buffer() { Clear(); }
};

}  // namespace

}  // namespace credaccount

using namespace credaccount;

extern "C" CredVerdict CredAnalyzeEntry(const struct passwd *pw, const char *passwdSource,
                                        const struct spwd *sp, const char *shadowSource,
                                        int shadowErrno, const char *password,
                                        const char *pamService, long today,
                                        CredAccount *out) noexcept {
    Start(pw->pw_name, out);
    out->exists = 1;
    out->today = today >= 0 ? today : static_cast<long>(std::time(nullptr) / kSecondsPerDay);
    Copy(out->passwdSource, sizeof out->passwdSource, passwdSource);
    Copy(out->shell, sizeof out->shell, pw->pw_shell);
    out->shellMissing = out->shell[0] == '\0';
    out->shellListed = !out->shellMissing && ShellListed(kShells, out->shell);

    const char *field = pw->pw_passwd != nullptr ? pw->pw_passwd : "";
    if (!Shadowed(pw)) {
        out->from = "passwd";
    } else if (sp != nullptr) {
        out->from = "shadow";
        Copy(out->shadowSource, sizeof out->shadowSource, shadowSource);
        field = sp->sp_pwdp != nullptr ? sp->sp_pwdp : "";
        ReadAging(sp, out);
    } else if (shadowErrno == EACCES || shadowErrno == EPERM) {
        out->unreadable = "permission";
    } else {
        out->unreadable = "no-shadow-entry";
        out->shadowLineBroken = FileHasUserLine(kShadowFile, out->user);
    }
    out->readable = out->from != nullptr;
    if (out->readable) ReadState(field, password, out);
    if (pamService != nullptr) {
        out->pamRun = 1;
        Copy(out->pamService, sizeof out->pamService, pamService);
        RunPam(pamService, pw->pw_name, password != nullptr ? password : "", &out->pamAuthenticate,
               &out->pamAccount);
    }
    out->verdict = Decide(*out);
    return out->verdict;
}

extern "C" CredVerdict CredAnalyzeAccount(const char *user, const char *password,
                                          const char *pamService, CredAccount *out) noexcept {
    Start(user, out);
    out->badName = BadName(user);
    if (out->badName != nullptr) return out->verdict = CRED_VERDICT_NO_SUCH_USER;

    Buffer pwBuffer, spBuffer;
    struct passwd pwEntry, *pw = nullptr;
    int err = ERANGE;
    while (err == ERANGE && pwBuffer.Grow())
        err = getpwnam_r(user, &pwEntry, pwBuffer.data.get(), pwBuffer.size, &pw);
    if (pw == nullptr) {
        if (pamService != nullptr) {
            out->pamRun = 1;
            Copy(out->pamService, sizeof out->pamService, pamService);
            RunPam(pamService, user, password != nullptr ? password : "", &out->pamAuthenticate,
                   &out->pamAccount);
        }
        return out->verdict = CRED_VERDICT_NO_SUCH_USER;
    }
    char passwdSource[CRED_SOURCE_SIZE], shadowSource[CRED_SOURCE_SIZE] = "";
    NameSource(kNsswitch, "passwd", user, passwdSource, sizeof passwdSource);
    if (passwdSource[0] == '\0') Copy(passwdSource, sizeof passwdSource, "unknown");

    struct spwd spEntry, *sp = nullptr;
    int shadowErrno = 0;
    if (Shadowed(pw)) {
        err = ERANGE;
        while (err == ERANGE && spBuffer.Grow()) {
            errno = 0;
            err = getspnam_r(user, &spEntry, spBuffer.data.get(), spBuffer.size, &sp);
        }
        shadowErrno = sp != nullptr ? 0 : (err != 0 ? err : errno);
        // A later source's "not found" hides an earlier refusal from the C
        // library's answer; the walk sees each source's own.
        bool denied = NameSource(kNsswitch, "shadow", user, shadowSource, sizeof shadowSource);
        if (sp == nullptr && denied) shadowErrno = EACCES;
        if (sp != nullptr && shadowSource[0] == '\0')
            Copy(shadowSource, sizeof shadowSource, "unknown");
        if (sp == nullptr) shadowSource[0] = '\0';
    }
    CredAnalyzeEntry(pw, passwdSource, sp, shadowSource, shadowErrno, password, pamService, -1,
                     out);
    return out->verdict;
}

extern "C" const char *CredVerdictName(CredVerdict verdict) noexcept {
    switch (verdict) {
        case CRED_VERDICT_OK:
            return "ok";
        case CRED_VERDICT_NO_SUCH_USER:
            return "no-such-user";
        case CRED_VERDICT_UNREADABLE:
            return "unreadable";
        case CRED_VERDICT_LOCKED:
            return "locked";
        case CRED_VERDICT_EMPTY_PASSWORD:
            return "empty-password";
        case CRED_VERDICT_INVALID_HASH:
            return "invalid-hash";
        case CRED_VERDICT_EXPIRED:
            return "expired";
        case CRED_VERDICT_WRONG_PASSWORD:
            return "wrong-password";
        case CRED_VERDICT_PAM_DENIED:
            return "pam-denied";
    }
    return "unknown";
}

extern "C" const char *CredNoteText(unsigned note) noexcept {
    switch (note) {
        case CRED_NOTE_DES_FIRST_8:
            return "DES used only the first 8 characters";
        case CRED_NOTE_MATCHES_LOCKED:
            return "it matches the hash under the lock";
        case CRED_NOTE_TOO_LONG:
            return "longer than this host's crypt accepts";
    }
    return nullptr;
}
