// User lookup: by name, by user id and by enumeration, each filling a
// Cred record from the host's user database entry.
#include <pwd.h>
#if __has_include(<shadow.h>)
#include <shadow.h>
#else
// A host without a shadow database: Getspnam never returns an entry there,
// but the fallback below still names the field an entry would hold.
struct spwd {
    char *sp_namp;
    char *sp_pwdp;
};
#endif

#include <cerrno>
#include <cstring>

#include "cred/internal.h"
#include "verify/verify.h"

namespace {

constexpr size_t kSuppMax = 32;

// Bounded copy into a fixed field, the rest zero-filled; a missing host
// field becomes "".
template <size_t N>
void CopyField(char (&field)[N], const char *text) {
    const size_t len = text != nullptr ? strnlen(text, N - 1) : 0;
    if (len > 0) memcpy(field, text, len);
    memset(field + len, 0, N - len);
}

const char *OrEmpty(const char *text) {
    return text != nullptr ? text : "";
}

// Ask the shadow database when the user entry gave no usable password.
void ShadowFallback(Cred *cp) {
    struct spwd *sp = Getspnam(cp->username, &cp->alg);
    if (sp == nullptr) {
        CredTrace("Getspnam returned NULL\n");
    } else if (sp->sp_pwdp == nullptr) {
        CredTrace("Getspnam's spwptr->sp_pwdp was NULL\n");
    } else {
        CredTrace("Getspnam's spwptr->sp_pwdp was [%s], alg=%d\n", sp->sp_pwdp, cp->alg);
        CopyField(cp->passwd, sp->sp_pwdp);
    }
}

void FetchPassword(const struct passwd *pw, Cred *cp) {
    if (pw->pw_passwd == nullptr) {
        CredTrace("struct passwd->pw_passwd was NULL\n");
        ShadowFallback(cp);
        return;
    }
    CopyField(cp->passwd, pw->pw_passwd);
    if (IsValidEncryptedPassword(cp->passwd) == 0) {
        CredTrace("Encrypted password was invalid.\n");
        CredTrace("Trying to use Getspnam to get encrypted password.\n");
        ShadowFallback(cp);
    }
}

void FetchGroups(Cred *cp, int wantSupp) {
    cp->ngid = 1;
    if (!wantSupp) return;
    int n = GetUserGroups(&cp->gid[1], kSuppMax, cp->username);
    if (n > 0) cp->ngid = static_cast<uint32_t>(n) + 1;
}

void DumpRecord(const Cred *cp) {
    CredTrace("\tPp->username = [%s]\n", cp->username);
    CredTrace("\tPp->passwd = [%s], alg = %d\n", cp->passwd, cp->alg);
    CredTrace("\tPp->uid = %d\n", cp->uid);
    for (uint32_t i = 0; i < cp->ngid; ++i) CredTrace("\tPp->gid #%u = %d\n", i, cp->gid[i]);
}

// The end of every lookup: fill the record from the entry, or report
// none; close the databases when asked, keeping the lookup's errno.
int FinishLookup(const struct passwd *pw, Cred *cp, int wantC, int wantSupp, int wantClose) {
    if (pw != nullptr) PwdToCred(pw, cp, wantC, wantSupp);
    if (wantClose) {
        int saved = errno;
        endpwent();
        Endspent();
        if (pw == nullptr) errno = saved;
    }
    return pw != nullptr ? 0 : -1;
}

}  // namespace

extern "C" void PwdToCred(const struct passwd *pw, Cred *cp, int wantC, int wantSupp) noexcept {
    EnsureCredInit();
    CredTrace("PwdToCred: pw->u=%s wantC=%d wantSupp=%d\n", OrEmpty(pw->pw_name), wantC, wantSupp);
    if (pw->pw_passwd != nullptr)
        CredTrace("struct passwd->pw_passwd = [%s] len=%lu\n", pw->pw_passwd,
                  static_cast<unsigned long>(strlen(pw->pw_passwd)));
    CopyField(cp->username, pw->pw_name);
    CopyField(cp->gecos, pw->pw_gecos);
    if (wantC) FetchPassword(pw, cp);
    cp->uid = static_cast<int32_t>(pw->pw_uid);
    cp->gid[0] = static_cast<int32_t>(pw->pw_gid);
    FetchGroups(cp, wantSupp);
    DumpRecord(cp);
    CopyField(cp->homedir, pw->pw_dir);
    CredTrace("\tPp->homedir = [%s]\n", cp->homedir);
    CopyField(cp->shell, pw->pw_shell);
    CredTrace("\tPp->shell = [%s]\n", cp->shell);
}

extern "C" int GetCredName(const char *name, Cred *cp, int wantC, int wantSupp,
                           int wantClose) noexcept {
    EnsureCredInit();
    CredTrace("GetCredName name=%s wantC=%d wantSupp=%d wantClose=%d\n", OrEmpty(name), wantC,
              wantSupp, wantClose);
    InitCredStruct(cp);
    const struct passwd *pw = name != nullptr ? getpwnam(name) : nullptr;
    return FinishLookup(pw, cp, wantC, wantSupp, wantClose);
}

extern "C" int GetCredUID(uint32_t uid, Cred *cp, int wantC, int wantSupp, int wantClose) noexcept {
    EnsureCredInit();
    CredTrace("GetCredUID uid=%lu wantC=%d wantSupp=%d wantClose=%d\n",
              static_cast<unsigned long>(uid), wantC, wantSupp, wantClose);
    InitCredStruct(cp);
    return FinishLookup(getpwuid(static_cast<uid_t>(uid)), cp, wantC, wantSupp, wantClose);
}

extern "C" int GetCredEnt(int first, Cred *cp, int wantC, int wantSupp, int wantClose) noexcept {
    EnsureCredInit();
    CredTrace("GetCredEnt\n");
    InitCredStruct(cp);
    if (first == 1) setpwent();
    return FinishLookup(getpwent(), cp, wantC, wantSupp, wantClose);
}

extern "C" void EndCred(void) noexcept {
    EnsureCredInit();
    CredTrace("EndCred\n");
    endpwent();
    CredTrace("\tendpwent\n");
    Endspent();
}
