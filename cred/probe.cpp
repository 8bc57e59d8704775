// The availability probe: can this process read any encrypted password?
#include <ctime>

#include "cred/internal.h"
#include "verify/verify.h"

namespace {

struct ProbeState {
    Cred rec;
    unsigned n = 1;
    unsigned tx = 0;
    int rc = 0;
};

// Walk the user database until a valid encrypted password turns up, the
// entries run out or, with a limit, the deadline has passed.
void WalkUsers(ProbeState &st, unsigned limit) {
    const time_t deadline = time(nullptr) + static_cast<time_t>(limit);
    for (int first = 1; st.rc == 0; first = 0) {
        if (GetCredEnt(first, &st.rec, 1, 0, 0) == -1) return;
        ++st.n;
        st.rc = IsValidEncryptedPassword(st.rec.passwd);
        if (limit != 0 && time(nullptr) > deadline) {
            st.tx = 1;
            CredTrace("CanGetEncryptedPasswords2: time up\n");
            return;
        }
    }
}

}  // namespace

extern "C" int CanGetEncryptedPasswords2(unsigned limit, unsigned *n, unsigned *tx) noexcept {
    EnsureCredInit();
    ProbeState st;
    ShadowWalkBegin();
    GetCredUID(0, &st.rec, 1, 0, 1);
    st.rc = IsValidEncryptedPassword(st.rec.passwd);
    WalkUsers(st, limit);
    if (n != nullptr) *n = st.n;
    if (tx != nullptr) *tx = st.tx;
    CredTrace("CanGetEncryptedPasswords2: %s (rc = %d, n = %u, tx = %u, u = \"%s\")\n",
              st.rc != 0 ? "yes" : "no", st.rc, st.n, st.tx, st.rec.username);
    InitCredStruct(&st.rec);
    ShadowWalkEnd();
    return st.rc;
}

extern "C" int CanGetEncryptedPasswords(void) noexcept {
    return CanGetEncryptedPasswords2(0, nullptr, nullptr);
}
