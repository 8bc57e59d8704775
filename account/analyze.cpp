// analyze.cpp - one account's report: the entry and its sources, where the
// credential lives and whether it can be read, the state, the hash, the
// password, the gates, PAM and sshd, and the verdict, which is the first
// that applies of the verdicts in order (Decide).
#include <pwd.h>
#include <security/pam_appl.h>
#include <shadow.h>
#include <string.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "account/internal.h"

namespace credaccount {
namespace {

constexpr const char *kNsswitch = "/etc/nsswitch.conf";
constexpr const char *kShells = "/etc/shells";
constexpr const char *kShadowFile = "/etc/shadow";
constexpr long kSecondsPerDay = 24 * 60 * 60;

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

const char *Field(const struct passwd *pw) {
    return pw->pw_passwd != nullptr ? pw->pw_passwd : "";
}

// The passwd field points at the shadow entry: "x", or "##" and the name.
bool Shadowed(const struct passwd *pw) {
    const char *p = Field(pw);
    return std::strcmp(p, "x") == 0 ||
           (p[0] == '#' && p[1] == '#' && std::strcmp(p + 2, pw->pw_name) == 0);
}

bool LocalSource(const char *source) {
    return source == nullptr || source[0] == '\0' || std::strcmp(source, "files") == 0 ||
           std::strcmp(source, "compat") == 0 || std::strcmp(source, "unknown") == 0;
}

// A directory's entry may hold its credential elsewhere: its password
// field is a placeholder ("*", "x", "!"...), never a hash.
bool DirectoryPlaceholder(const struct passwd *pw, const char *source) {
    if (LocalSource(source)) return false;
    const char *p = Field(pw);
    return Shadowed(pw) || (p[0] != '\0' && p[std::strspn(p, "!")] == '\0') || p[0] == '*';
}

// Empty, disabled ("*...", "!", "!!", "!*..."), locked ("!" before a hash),
// or a hash; the hash, or the one under the lock, is described.  A given
// password is checked whole against it: that one computation of the host's
// crypt also shows whether the method is supported.
void ReadState(const char *field, const char *password, bool costly, CredAccount *out) {
    if (password != nullptr) out->passwordChecked = 1;
    if (password != nullptr) CopyText(out->checkedBy, sizeof out->checkedBy, "hash");
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
    DecodeHash(rest, &out->hash);
    if (password != nullptr && out->hash.costly && !costly) {
        // One computation would outlast any login: the password is not
        // checked, and the verdict says so.
        out->passwordChecked = 0;
        out->checkedBy[0] = '\0';
        MarkUnchecked(out, std::string("the password: the hash's cost is far beyond ") +
                               out->hash.method + "'s usual range (checked only with --costly)");
        password = nullptr;
    }
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
    out->warnDays = sp->sp_warn;
    out->minDays = sp->sp_min;
    Aging a = DecideAging(out->today, sp->sp_lstchg, sp->sp_max, sp->sp_inact, sp->sp_expire,
                          sp->sp_warn);
    out->expired = a.expired;
    out->passwordExpired = a.passwordExpired;
    out->mustChange = a.mustChange;
    out->inactive = a.inactive;
    if (a.accountExpiresIn >= 0) {
        out->accountNotes |= CRED_ANOTE_ACCOUNT_EXPIRES;
        out->accountExpiresIn = a.accountExpiresIn;
    }
    if (a.passwordExpiresIn >= 0) {
        out->accountNotes |= CRED_ANOTE_PASSWORD_EXPIRES;
        out->passwordExpiresIn = a.passwordExpiresIn;
    }
}

// The one place that orders the verdicts.  With a holder, the local
// entry's placeholder, its readability and its hash decide nothing; the
// KDC's answer takes the rank of the verdict it gives.
CredVerdict Decide(const CredAccount &a) {
    CredPamDeciderKind by = a.pamRun ? a.decidedBy.kind : CRED_PAM_DECIDER_NONE;
    CredVerdict kdc = a.kerberos.asked ? a.kerberos.verdict : CRED_VERDICT_OK;
    bool local = a.holder[0] == '\0';
    if (!a.exists) return a.offline[0] != '\0' ? CRED_VERDICT_OFFLINE : CRED_VERDICT_NO_SUCH_USER;
    if (kdc == CRED_VERDICT_NO_SUCH_USER) return CRED_VERDICT_NO_SUCH_USER;
    if (a.offline[0] != '\0' || kdc == CRED_VERDICT_OFFLINE) return CRED_VERDICT_OFFLINE;
    if (!a.readable && local) return CRED_VERDICT_UNREADABLE;
    if ((a.locked || a.disabled) && local) return CRED_VERDICT_LOCKED;
    if (a.empty) return CRED_VERDICT_EMPTY_PASSWORD;
    if (a.hasHash && local && (!a.hash.valid || !a.hash.supported))
        return CRED_VERDICT_INVALID_HASH;
    if (a.expired || a.passwordExpired || a.mustChange || a.inactive ||
        by == CRED_PAM_DECIDER_EXPIRED || kdc == CRED_VERDICT_EXPIRED ||
        (a.pamAccountRun && PamSaysExpired(a.pamAccount.status)))
        return CRED_VERDICT_EXPIRED;
    if (a.faillock.locked || by == CRED_PAM_DECIDER_FAILLOCK || kdc == CRED_VERDICT_LOCKED_OUT)
        return CRED_VERDICT_LOCKED_OUT;
    if ((a.nologin.exists && !(a.accountNotes & CRED_ANOTE_NOLOGIN_ROOT)) ||
        by == CRED_PAM_DECIDER_NOLOGIN)
        return CRED_VERDICT_NO_LOGIN;
    if (by == CRED_PAM_DECIDER_ACCESS) return CRED_VERDICT_ACCESS_DENIED;
    if (a.ssh.checked && a.ssh.unavailable == nullptr &&
        (!a.ssh.allowed || (!a.ssh.password && a.ssh.keys == 0)))
        return CRED_VERDICT_SSH_DENIED;
    if ((a.passwordChecked && !a.authenticates) || by == CRED_PAM_DECIDER_CREDENTIAL ||
        kdc == CRED_VERDICT_WRONG_PASSWORD)
        return CRED_VERDICT_WRONG_PASSWORD;
    if (!a.shellGate.usable) return CRED_VERDICT_NO_SHELL;
    if (kdc == CRED_VERDICT_PAM_DENIED ||
        (a.pamRun && ((a.pamAuthenticateRun && a.pamAuthenticate.status != 0) ||
                      (a.pamAccountRun && a.pamAccount.status != 0))))
        return CRED_VERDICT_PAM_DENIED;
    if (a.unchecked[0] != '\0') return CRED_VERDICT_UNCHECKED;
    return CRED_VERDICT_OK;
}

// Clears the record but the arrays past their counts (the policy's gaps,
// the PAM messages and lines), which a walk would otherwise clear for
// every user.
void Start(const char *user, CredAccount *out) {
    std::memset(out, 0, offsetof(CredAccount, policy.gaps));
    std::memset(&out->nmessages, 0,
                offsetof(CredAccount, messages) - offsetof(CredAccount, nmessages));
    CopyText(out->user, sizeof out->user, user);
    out->lastChange = out->maxDays = out->inactiveDays = out->expireDay = out->warnDays = -1;
    out->minDays = -1;
    out->faillock.lastFailure = out->faillock.unlockAt = -1;
    out->kerberos.passwordExpires = out->sssd.lastOnlineLogin = -1;
    out->sssd.online = out->sssd.cacheAllowed = out->sssd.cachedCredentials = -1;
}

// The service the PAM run and the gates use: the one named, else sshd
// for a report on sshd, else login.
const char *Service(const CredLoginOptions &o) {
    return o.pamService != nullptr ? o.pamService : o.ssh ? "sshd" : "login";
}

// The module that holds a credential from source: pam_unix for the local
// files; a directory's own module is named after its source (pam_sss for
// sss, pam_ldap, pam_winbind).  A source without such a module names one
// that no stack holds, so no module's answer is taken for the credential's.
std::string CredentialModule(const char *source, bool directory) {
    return directory ? "pam_" + std::string(source) + ".so" : "pam_unix.so";
}

void RunLoginPam(const CredAccount &a, const struct passwd *pw, const char *password,
                 const CredLoginOptions &o, bool localMatch, const Holder &holder,
                 const ServiceAuth *stack, CredAccount *out) {
    bool held = a.holder[0] != '\0';
    std::string module = held ? a.holder : CredentialModule(a.passwdSource, a.directory);
    // The local hash already shows a wrong password: PAM is not asked, so
    // that no failure is counted against the user.
    bool wrong = a.passwordChecked && !a.directory && !a.authenticates &&
                 !(a.notes & CRED_NOTE_MATCHES_LOCKED) && !held;
    const char *skip = wrong ? "the password does not match the local hash" : nullptr;
    // Nor when the KDC has just refused it: a second try would count a
    // second failure there.  Where the local hash matches, pam_unix takes
    // it, and the stack succeeds through it: a second way in.
    bool kdcRefused = a.kerberos.withPassword && a.kerberos.verdict == CRED_VERDICT_WRONG_PASSWORD;
    bool unixTakes = kdcRefused && localMatch && holder.unixReachable;
    if (kdcRefused)
        skip = unixTakes
                   ? "the KDC refused the password, and pam_unix takes it (the local hash matches)"
                   : "the KDC refused the password (a second try would count a second failure "
                     "there)";
    if (password != nullptr && !a.directory && !held && a.hasHash && a.hash.costly && !o.costly)
        skip = "the local hash is too costly to check without --costly";
    PamRequest request{Service(o),     pw->pw_name, password,
                       module.c_str(), skip,        stack != nullptr ? &stack->stack : nullptr};
    // A ticket cache that SSSD writes for the check goes with it.
    std::vector<std::string> caches = TicketCaches(holder.ccacheDir, pw->pw_uid);
    RunPam(request, out);
    RemoveNewTicketCaches(holder.ccacheDir, pw->pw_uid, caches);
    if ((!a.directory && !held) || password == nullptr) return;
    // The holder's credential is checked by its module in the PAM run.
    CredKerberos &k = out->kerberos;
    if ((out->pamAuthenticateRun && out->pamAuthenticate.status == 0) || unixTakes) {
        out->passwordChecked = out->authenticates = 1;
        // PAM got in past what the KDC refused (and its account step
        // agrees): PAM decides, through the local hash where it matches.
        bool admitted = !out->pamAccountRun || out->pamAccount.status == 0;
        if (unixTakes || (k.verdict != CRED_VERDICT_OK && admitted)) {
            if (localMatch) module = "pam_unix.so";
            k.verdict = CRED_VERDICT_OK;
        }
    } else if (k.keytab[0] != '\0' || (k.asked && k.verdict != CRED_VERDICT_OK && !kdcRefused)) {
        // The KDC took the password and the module refused its ticket, or
        // the KDC refused before any password was checked (expired, locked
        // out, clock skew): the module's failure is that, not the password.
        if (k.keytab[0] != '\0') out->passwordChecked = out->authenticates = 1;
        if (out->decidedBy.kind == CRED_PAM_DECIDER_CREDENTIAL)
            out->decidedBy.kind = CRED_PAM_DECIDER_OTHER;
    } else if (out->decidedBy.kind == CRED_PAM_DECIDER_CREDENTIAL || kdcRefused) {
        out->passwordChecked = 1;
        out->authenticates = 0;
    }
    if (out->passwordChecked) CopyText(out->checkedBy, sizeof out->checkedBy, module.c_str());
}

// Another module of the stack holds the credential: what the local entry
// says is a note, and the password is the holder's to check.
void TakeHolder(const Holder &holder, const char *password, bool *localMatch, CredAccount *out) {
    CopyText(out->holder, sizeof out->holder, holder.module.c_str());
    *localMatch = password != nullptr && out->passwordChecked && out->authenticates;
    // (A directory's entry has no local credential to speak of.)
    if (!out->directory &&
        (out->locked || out->disabled || !out->readable || (password != nullptr && !*localMatch)))
        out->accountNotes |= CRED_ANOTE_LOCAL_PLACEHOLDER;
    if (*localMatch) out->accountNotes |= CRED_ANOTE_STALE_HASH_MATCHES;
    out->passwordChecked = out->authenticates = 0;
    out->checkedBy[0] = '\0';
    if (holder.kerberos) out->from = "kerberos";
}

// The KDC's answer, asked outside a walk: an unreachable KDC is offline
// (unless the PAM run got in, through a cached credential or the local
// hash, which took the KDC's say away).
void KdcOffline(CredAccount *out) {
    CredKerberos &k = out->kerberos;
    if (!k.asked || k.verdict != CRED_VERDICT_OFFLINE) return;
    MarkOffline(out, std::string("no KDC of ") + k.realm + " answered for " + k.principal + " (" +
                         k.text + ")");
}

CredVerdict AnalyzeEntry(const struct passwd *pw, const char *passwdSource, const struct spwd *sp,
                         const char *shadowSource, int shadowErrno, const char *password,
                         const CredLoginOptions &o, long today, CredAccount *out) {
    Start(pw->pw_name, out);
    out->exists = 1;
    long long now = std::time(nullptr);
    out->today = today >= 0 ? today : static_cast<long>(now / kSecondsPerDay);
    CopyText(out->passwdSource, sizeof out->passwdSource, passwdSource);
    CopyText(out->shell, sizeof out->shell, pw->pw_shell);
    out->shellMissing = out->shell[0] == '\0';
    bool listed = false;
    CheckShell(pw->pw_shell, kShells, &out->shellGate, &listed);
    out->shellListed = listed;

    const char *field = Field(pw);
    bool permission = shadowErrno == EACCES || shadowErrno == EPERM;
    if (sp == nullptr && DirectoryPlaceholder(pw, passwdSource)) {
        out->directory = 1;
        out->from = "directory";
        if (permission) out->accountNotes |= CRED_ANOTE_SHADOW_NOT_RULED_OUT;
    } else if (!Shadowed(pw)) {
        out->from = "passwd";
    } else if (sp != nullptr) {
        out->from = "shadow";
        CopyText(out->shadowSource, sizeof out->shadowSource, shadowSource);
        field = sp->sp_pwdp != nullptr ? sp->sp_pwdp : "";
        ReadAging(sp, out);
    } else if (permission) {
        out->unreadable = "permission";
    } else {
        out->unreadable = "no-shadow-entry";
        out->shadowLineBroken = FileHasUserLine(kShadowFile, out->user);
    }
    out->readable = out->from != nullptr;
    if (out->readable && !out->directory) ReadState(field, password, o.costly != 0, out);

    // The service's stack, read once for the gates, the holder and the run.
    ServiceAuth ownStack;
    const ServiceAuth *stack = ServiceStack(Service(o), &ownStack);

    // The gates, whatever the password.
    bool root = pw->pw_uid == 0;
    ReadNologin(&out->nologin);
    if (out->nologin.exists && root) out->accountNotes |= CRED_ANOTE_NOLOGIN_ROOT;
    ReadFaillock(Service(o), stack != nullptr ? &stack->stack : nullptr, pw->pw_name, root, now,
                 &out->faillock);
    if (!out->faillock.readable) out->accountNotes |= CRED_ANOTE_FAILLOCK_UNREADABLE;
    if (!out->shellMissing && !out->shellListed) out->accountNotes |= CRED_ANOTE_SHELL_NOT_LISTED;
    out->accountNotes |= HomeAndGroupNotes(pw);

    // Who holds the credential: another module of the service's stack may.
    Holder holder = stack != nullptr ? FindHolder(*stack, pw, passwdSource) : Holder{};
    bool localMatch = false;
    if (!holder.module.empty()) TakeHolder(holder, password, &localMatch, out);
    if (holder.kerberos && !InWalk()) {
        AskKdc(holder.target, password, out);
        if (password != nullptr) out->accountNotes |= CRED_ANOTE_FAILURE_COUNTS;
    }

    bool pam = o.pamService != nullptr ||
               (password != nullptr && (out->directory || o.ssh || !holder.module.empty()));
    if (pam) RunLoginPam(*out, pw, password, o, localMatch, holder, stack, out);
    KdcOffline(out);
    if (o.ssh) CheckSsh(pw, o.sshAddress != nullptr ? o.sshAddress : "127.0.0.1", out);
    if (o.ssh && out->ssh.unavailable != nullptr)
        MarkUnchecked(out, std::string("sshd's rules: ") + out->ssh.unavailable);
    if (std::strcmp(passwdSource, "sss") == 0 || std::strcmp(out->shadowSource, "sss") == 0)
        CheckSssd(pw->pw_name, out);
    out->verdict = Decide(*out);
    return out->verdict;
}

}  // namespace

void CopyText(char *dst, std::size_t size, const char *src) {
    if (src == nullptr) src = "";
    CopyText(dst, size, std::string_view(src, strnlen(src, size - 1)));
}

void CopyText(char *dst, std::size_t size, std::string_view src) {
    std::size_t n = std::min(src.size(), size - 1);
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

void CopyPrintable(char *dst, std::size_t size, std::string_view src, std::size_t limit) {
    CopyText(dst, size, src.substr(0, limit));
    for (char *c = dst; *c != '\0'; ++c)
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) *c = '?';
}

std::string_view Trim(std::string_view text) {
    std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return {};
    std::size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

void MarkOffline(CredAccount *out, std::string_view why) {
    if (out->offline[0] == '\0')
        CopyPrintable(out->offline, sizeof out->offline, why, sizeof out->offline - 1);
}

void MarkUnchecked(CredAccount *out, std::string_view why) {
    if (out->unchecked[0] == '\0')
        CopyPrintable(out->unchecked, sizeof out->unchecked, why, sizeof out->unchecked - 1);
}

bool NeedsShadowLookup(const struct passwd *pw, const char *passwdSource) {
    return Shadowed(pw) || DirectoryPlaceholder(pw, passwdSource);
}

}  // namespace credaccount

using namespace credaccount;

namespace {

// A call without a record or a name: errno EINVAL, and a record, when
// there is one, that names no user.
CredVerdict Refuse(CredAccount *out) {
    if (out != nullptr) {
        Start("", out);
        out->badName = "no name was given";
        out->verdict = CRED_VERDICT_NO_SUCH_USER;
    }
    errno = EINVAL;
    return CRED_VERDICT_NO_SUCH_USER;
}

}  // namespace

extern "C" CredVerdict CredAnalyzeEntry(const struct passwd *pw, const char *passwdSource,
                                        const struct spwd *sp, const char *shadowSource,
                                        int shadowErrno, const char *password,
                                        const char *pamService, long today,
                                        CredAccount *out) noexcept {
    if (out == nullptr || pw == nullptr || pw->pw_name == nullptr) return Refuse(out);
    CredLoginOptions o{};
    o.pamService = pamService;
    return AnalyzeEntry(pw, passwdSource, sp, shadowSource, shadowErrno, password, o, today, out);
}

extern "C" CredVerdict CredAnalyzeLogin(const char *user, const char *password,
                                        const CredLoginOptions *options,
                                        CredAccount *out) noexcept {
    if (out == nullptr || user == nullptr) return Refuse(out);
    CredLoginOptions o = options != nullptr ? *options : CredLoginOptions{};
    Start(user, out);
    out->badName = BadName(user);
    if (out->badName != nullptr) return out->verdict = CRED_VERDICT_NO_SUCH_USER;

    LookupBuffer pwBuffer, spBuffer;
    struct passwd pwEntry, *pw = nullptr;
    int err = ERANGE;
    while (err == ERANGE && pwBuffer.Grow())
        err = getpwnam_r(user, &pwEntry, pwBuffer.data.get(), pwBuffer.size, &pw);
    if (pw == nullptr) {
        if (o.pamService != nullptr) {
            PamRequest request{o.pamService, user, password, "pam_unix.so", nullptr};
            RunPam(request, out);
        }
        if (SssdListed()) CheckSssd(user, out);  // no entry may mean SSSD cannot answer
        return out->verdict = Decide(*out);
    }
    char passwdSource[CRED_SOURCE_SIZE], shadowSource[CRED_SOURCE_SIZE] = "";
    NameSource(kNsswitch, "passwd", user, passwdSource, sizeof passwdSource);
    if (passwdSource[0] == '\0') CopyText(passwdSource, sizeof passwdSource, "unknown");

    struct spwd spEntry, *sp = nullptr;
    int shadowErrno = 0;
    if (NeedsShadowLookup(pw, passwdSource)) {
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
            CopyText(shadowSource, sizeof shadowSource, "unknown");
        if (sp == nullptr) shadowSource[0] = '\0';
    }
    AnalyzeEntry(pw, passwdSource, sp, shadowSource, shadowErrno, password, o, -1, out);
    return out->verdict;
}

extern "C" CredVerdict CredAnalyzeAccount(const char *user, const char *password,
                                          const char *pamService, CredAccount *out) noexcept {
    CredLoginOptions o{};
    o.pamService = pamService;
    return CredAnalyzeLogin(user, password, &o, out);
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
        case CRED_VERDICT_LOCKED_OUT:
            return "locked-out";
        case CRED_VERDICT_NO_LOGIN:
            return "no-login";
        case CRED_VERDICT_ACCESS_DENIED:
            return "access-denied";
        case CRED_VERDICT_NO_SHELL:
            return "no-shell";
        case CRED_VERDICT_SSH_DENIED:
            return "ssh-denied";
        case CRED_VERDICT_UNCHECKED:
            return "unchecked";
        case CRED_VERDICT_OFFLINE:
            return "offline";
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

extern "C" const char *CredAccountNoteText(unsigned note) noexcept {
    // One sentence per bit, from CRED_ANOTE_HOME_MISSING (1) up.
    static const char *const kTexts[] = {
        "the home folder is missing: a session would start in /",
        "the home is not a folder: a session would start in /",
        "the primary group has no entry",
        "the password expires within its warning period",
        "the account expires within the warning period",
        "the shell is not listed in /etc/shells",
        "this process may not read the shadow file: a local shadow entry was not ruled out",
        "the service has no file of its own: the \"other\" service answered",
        "success came only from pam_rootok or pam_permit: no password was asked",
        "pam_unix cannot check another user's password unless run as root (unix_chkpwd refuses)",
        "this process may not read the pam_faillock tally: a lock was not ruled out",
        "a nologin file exists; root may still log in",
        "lines of the stack were not run (they act outside this process, or their module's "
        "file is not root's alone): the verdict assumes that they succeed",
        "a wrong password counts as a failed login where the credential is held, as for any "
        "login",
        "the local entry does not decide: another module of the stack holds the credential",
        "the local hash matches too: a second way in, beside the module that holds the "
        "credential",
        "SSSD is offline: its cached credential let the user in",
    };
    static_assert(1u << (std::size(kTexts) - 1) == CRED_ANOTE_LAST);
    for (std::size_t i = 0; i < std::size(kTexts); ++i)
        if (note == 1u << i) return kTexts[i];
    return nullptr;
}
