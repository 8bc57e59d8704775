/* Every public header must compile as C99 with C linkage. */
#include "account/account.h"
#include "cred/cred.h"
#include "lineedit/lineedit.h"
#include "verify/md5.h"
#include "verify/verify.h"

int c_headers_check(void);
int c_headers_check(void) {
    Cred c;
    MD5_CTX m;
    CredAccount a;
    (void)c;
    (void)m;
    (void)a;
    return GL_BUF_SIZE;
}
