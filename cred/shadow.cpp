// The traced shadow lookup.  With CRED_WITH_SHADOW the host's shadow
// database is asked; without it the lookup only says that there is none.
#include <cerrno>
#include <cstring>

#include "cred/internal.h"

#if CRED_WITH_SHADOW
#include <shadow.h>

extern "C" struct spwd *Getspnam(const char *name, int *alg) noexcept {
    EnsureCredInit();
    if (alg != nullptr) *alg = name != nullptr ? 0 : -1;
    if (name == nullptr) {
        CredTrace("Getspnam: %s\n", strerror(EINVAL));
        errno = EINVAL;
        return nullptr;
    }
    errno = 0;
    // Inside a walk the index answers where it can, as the host's lookup
    // would: an entry or none, with errno 0.
    struct spwd *sp = nullptr;
    if (ShadowWalkFind(name, &sp)) return sp;
    sp = getspnam(name);
    if (sp == nullptr && errno != 0 && errno != ENOENT) {
        int saved = errno;
        CredTrace("Getspnam: %s\n", strerror(saved));
        errno = saved;
    }
    return sp;
}

extern "C" void Endspent(void) noexcept {
    EnsureCredInit();
    endspent();
    CredTrace("\tEndspent\n");
}

#else

extern "C" struct spwd *Getspnam(const char *name, int *alg) noexcept {
    EnsureCredInit();
    CredTrace("Getspnam: no getspnam function\n");
    if (alg != nullptr) *alg = name != nullptr ? 0 : -1;
    return nullptr;
}

extern "C" void Endspent(void) noexcept {
    EnsureCredInit();
    CredTrace("\tEndspent\n");
}

#endif
