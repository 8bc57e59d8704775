/* A second name service source for the tests, libnss_credtest.so.2, found
 * through LD_LIBRARY_PATH.  Its entries are the lines of the files named by
 * CREDTEST_PASSWD and CREDTEST_SHADOW; without them, the user "netuser"
 * (passwd and shadow) and a shadow entry for "split", whose user entry the
 * files source holds (mkpasswd -m sha256crypt -S saltsaltsalt netpass).
 * The built-in shadow entries can only be asked for by name, and a shadow
 * walk skips names that begin with "h", as directory services answer
 * lookups of names that they do not list. */
#include <errno.h>
#include <nss.h>
#include <pwd.h>
#include <shadow.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char kPasswd[] = "netuser:x:4242:4242::/:/bin/sh\n";
static const char kShadow[] =
    "netuser:$5$saltsaltsalt$4exeYDydIkE/mPqW/PTpYG3/H9uijGKm0rz.uUzqgi2:::::::\n"
    "split:$5$saltsaltsalt$4exeYDydIkE/mPqW/PTpYG3/H9uijGKm0rz.uUzqgi2:::::::\n";
static FILE *g_pw, *g_sp;

static FILE *Open(const char *var, const char *builtin) {
    const char *path = getenv(var);
    return path ? fopen(path, "r") : fmemopen((void *)builtin, strlen(builtin), "r");
}

/* The next entry of fp; for a lookup, the next one named name. */
static enum nss_status PwNext(FILE *fp, const char *name, struct passwd *pw, char *buf, size_t size,
                              int *err) {
    struct passwd *got;
    int rc = ENOENT;
    while (fp != NULL && (rc = fgetpwent_r(fp, pw, buf, size, &got)) == 0)
        if (name == NULL || strcmp(pw->pw_name, name) == 0) return NSS_STATUS_SUCCESS;
    *err = rc == ERANGE ? ERANGE : ENOENT;
    return rc == ERANGE ? NSS_STATUS_TRYAGAIN : NSS_STATUS_NOTFOUND;
}

static enum nss_status SpNext(FILE *fp, const char *name, struct spwd *sp, char *buf, size_t size,
                              int *err) {
    struct spwd *got;
    int rc = ENOENT;
    while (fp != NULL && (rc = fgetspent_r(fp, sp, buf, size, &got)) == 0)
        if (name == NULL || strcmp(sp->sp_namp, name) == 0) return NSS_STATUS_SUCCESS;
    *err = rc == ERANGE ? ERANGE : ENOENT;
    return rc == ERANGE ? NSS_STATUS_TRYAGAIN : NSS_STATUS_NOTFOUND;
}

enum nss_status _nss_credtest_getpwnam_r(const char *name, struct passwd *pw, char *buf,
                                         size_t size, int *err) {
    FILE *fp = Open("CREDTEST_PASSWD", kPasswd);
    enum nss_status status = PwNext(fp, name, pw, buf, size, err);
    if (fp) fclose(fp);
    return status;
}

enum nss_status _nss_credtest_getspnam_r(const char *name, struct spwd *sp, char *buf,
                                         size_t size, int *err) {
    FILE *fp = Open("CREDTEST_SHADOW", kShadow);
    enum nss_status status = SpNext(fp, name, sp, buf, size, err);
    if (fp) fclose(fp);
    return status;
}

enum nss_status _nss_credtest_endpwent(void) {
    if (g_pw) fclose(g_pw);
    g_pw = NULL;
    return NSS_STATUS_SUCCESS;
}

enum nss_status _nss_credtest_setpwent(int stayopen) {
    (void)stayopen;
    _nss_credtest_endpwent();
    return (g_pw = Open("CREDTEST_PASSWD", kPasswd)) ? NSS_STATUS_SUCCESS : NSS_STATUS_UNAVAIL;
}

enum nss_status _nss_credtest_getpwent_r(struct passwd *pw, char *buf, size_t size, int *err) {
    return PwNext(g_pw, NULL, pw, buf, size, err);
}

enum nss_status _nss_credtest_endspent(void) {
    if (g_sp) fclose(g_sp);
    g_sp = NULL;
    return NSS_STATUS_SUCCESS;
}

enum nss_status _nss_credtest_setspent(int stayopen) {
    (void)stayopen;
    _nss_credtest_endspent();
    g_sp = getenv("CREDTEST_SHADOW") ? Open("CREDTEST_SHADOW", kShadow) : NULL;
    return g_sp ? NSS_STATUS_SUCCESS : NSS_STATUS_UNAVAIL;
}

enum nss_status _nss_credtest_getspent_r(struct spwd *sp, char *buf, size_t size, int *err) {
    enum nss_status status;
    while ((status = SpNext(g_sp, NULL, sp, buf, size, err)) == NSS_STATUS_SUCCESS &&
           sp->sp_namp[0] == 'h')
        continue;
    return status;
}
