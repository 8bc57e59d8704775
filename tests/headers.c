/* Every public header must compile as C99 with C linkage; run, the calls
 * that take a record or a name fail on a null one with errno EINVAL. */
#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>

#include "account/account.h"
#include "cred/cred.h"
#include "lineedit/lineedit.h"
#include "verify/md5.h"
#include "verify/verify.h"

static int failures;

/* errno is cleared before each call, so that EINVAL is the call's own. */
#define EXPECT_EINVAL(call, want)                                            \
    do {                                                                     \
        errno = 0;                                                           \
        if ((long)(call) != (long)(want) || errno != EINVAL)                 \
            failures += fprintf(stderr, "%s: errno %d\n", #call, errno) > 0; \
    } while (0)

int main(void) {
    static CredAccount a;
    struct passwd pw;
    int32_t gids[4];
    const long none = CRED_VERDICT_NO_SUCH_USER;
    (void)sizeof(Cred);
    (void)sizeof(MD5_CTX);
    (void)GL_BUF_SIZE;
    InitCredLibrary(0, NULL);
    CredDebugStream = fopen("/dev/null", "w");
    memset(&pw, 0, sizeof pw);

    EXPECT_EINVAL((CredAnalyzeAccount(NULL, NULL, NULL, &a), a.verdict + a.user[0]), none);
    EXPECT_EINVAL(CredAnalyzeAccount("root", NULL, NULL, NULL), none);
    EXPECT_EINVAL(CredAnalyzeLogin(NULL, "pw", NULL, &a), none);
    EXPECT_EINVAL(CredAnalyzeLogin("root", NULL, NULL, NULL), none);
    EXPECT_EINVAL(CredAnalyzeEntry(NULL, "files", NULL, NULL, 0, NULL, NULL, -1, &a), none);
    EXPECT_EINVAL(CredAnalyzeEntry(&pw, "files", NULL, NULL, 0, NULL, NULL, -1, &a), none);
    pw.pw_name = (char *)"root";
    EXPECT_EINVAL(CredAnalyzeEntry(&pw, "files", NULL, NULL, 0, NULL, NULL, -1, NULL), none);
    EXPECT_EINVAL(GetUserGroups(gids, 4, NULL), -1);
    EXPECT_EINVAL(GetUserGroups(NULL, 4, "root"), -1);
    EXPECT_EINVAL(CredAuditHost(NULL, NULL, NULL), (unsigned long)-1);
    EXPECT_EINVAL(CredReadPolicy("/nonexistent/policy", NULL, NULL, NULL, 0), -1);
    CredJudgePolicy(NULL, NULL);
    /* an error buffer of no size is never written */
    static CredPolicy policy;
    char untouched = 'x';
    if (CredReadPolicy("/nonexistent/policy", NULL, &policy, &untouched, 0) != -1 || untouched != 'x')
        failures += fprintf(stderr, "CredReadPolicy wrote an error buffer of no size\n") > 0;
    return failures != 0;
}
