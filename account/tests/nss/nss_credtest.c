/* A second name service source for the account report's tests:
 * libnss_credtest.so.2 has the user "netuser" (passwd and shadow) and a
 * shadow entry for "split", whose user entry the files source holds.
 * The hash: mkpasswd -m sha256crypt -S saltsaltsalt netpass */
#include <errno.h>
#include <nss.h>
#include <pwd.h>
#include <shadow.h>
#include <string.h>

static const char kHash[] = "$5$saltsaltsalt$4exeYDydIkE/mPqW/PTpYG3/H9uijGKm0rz.uUzqgi2";

static char *Keep(const char *text, char **buf, size_t *left) {
    size_t n = strlen(text) + 1;
    char *at = *buf;
    if (n > *left) return NULL;
    memcpy(at, text, n);
    *buf += n;
    *left -= n;
    return at;
}

enum nss_status _nss_credtest_getpwnam_r(const char *name, struct passwd *pw, char *buf,
                                         size_t size, int *err) {
    if (strcmp(name, "netuser") != 0) return NSS_STATUS_NOTFOUND;
    pw->pw_name = Keep(name, &buf, &size);
    pw->pw_passwd = Keep("x", &buf, &size);
    pw->pw_gecos = Keep("", &buf, &size);
    pw->pw_dir = Keep("/", &buf, &size);
    pw->pw_shell = Keep("/bin/sh", &buf, &size);
    pw->pw_uid = pw->pw_gid = 4242;
    if (pw->pw_shell == NULL) return *err = ERANGE, NSS_STATUS_TRYAGAIN;
    return NSS_STATUS_SUCCESS;
}

enum nss_status _nss_credtest_getspnam_r(const char *name, struct spwd *sp, char *buf,
                                         size_t size, int *err) {
    if (strcmp(name, "netuser") != 0 && strcmp(name, "split") != 0) return NSS_STATUS_NOTFOUND;
    memset(sp, 0, sizeof *sp);
    sp->sp_namp = Keep(name, &buf, &size);
    sp->sp_pwdp = Keep(kHash, &buf, &size);
    sp->sp_lstchg = sp->sp_min = sp->sp_max = sp->sp_warn = -1;
    sp->sp_inact = sp->sp_expire = -1;
    sp->sp_flag = ~0ul;
    if (sp->sp_pwdp == NULL) return *err = ERANGE, NSS_STATUS_TRYAGAIN;
    return NSS_STATUS_SUCCESS;
}

/* The user database enumerates "netuser" too, so that a walk over every
 * user meets an entry only this source has; the shadow database does not
 * enumerate, so a walk must ask it by name. */
static int g_listed;

enum nss_status _nss_credtest_setpwent(int stayopen) {
    (void)stayopen;
    g_listed = 0;
    return NSS_STATUS_SUCCESS;
}

enum nss_status _nss_credtest_getpwent_r(struct passwd *pw, char *buf, size_t size, int *err) {
    if (g_listed) return NSS_STATUS_NOTFOUND;
    enum nss_status status = _nss_credtest_getpwnam_r("netuser", pw, buf, size, err);
    g_listed = status == NSS_STATUS_SUCCESS;
    return status;
}

enum nss_status _nss_credtest_endpwent(void) { return NSS_STATUS_SUCCESS; }
