/* Every public header must compile as C99 with C linkage. */
#include "cred/cred.h"
#include "lineedit/lineedit.h"
#include "verify/md5.h"
#include "verify/verify.h"

int c_headers_check(void);
int c_headers_check(void) {
    Cred c;
    MD5_CTX m;
    (void)c;
    (void)m;
    return GL_BUF_SIZE;
}
