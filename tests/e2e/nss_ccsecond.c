/* A second name-service source for the shadow database, for the tests: the
 * entries of the file named by CCSECOND_SHADOW.  Like many directory
 * services it answers lookups of some names that it does not enumerate:
 * here those that begin with "h".  Built as
 * libnss_ccsecond.so.2 and found through LD_LIBRARY_PATH when nsswitch.conf
 * says "shadow: files ccsecond". */
#include <errno.h>
#include <nss.h>
#include <shadow.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static FILE *walk;

static FILE *open_source(void) {
    const char *path = getenv("CCSECOND_SHADOW");
    return path != NULL ? fopen(path, "r") : NULL;
}

static enum nss_status next(FILE *fp, struct spwd *sp, char *buf, size_t len, int *err) {
    struct spwd *got = NULL;
    if (fp == NULL) return *err = ENOENT, NSS_STATUS_UNAVAIL;
    if (fgetspent_r(fp, sp, buf, len, &got) == ERANGE) return *err = ERANGE, NSS_STATUS_TRYAGAIN;
    return got != NULL ? NSS_STATUS_SUCCESS : (*err = ENOENT, NSS_STATUS_NOTFOUND);
}

enum nss_status _nss_ccsecond_endspent(void) {
    if (walk != NULL) fclose(walk);
    walk = NULL;
    return NSS_STATUS_SUCCESS;
}

enum nss_status _nss_ccsecond_setspent(int stayopen) {
    (void)stayopen;
    _nss_ccsecond_endspent();
    walk = open_source();
    return walk != NULL ? NSS_STATUS_SUCCESS : NSS_STATUS_UNAVAIL;
}

enum nss_status _nss_ccsecond_getspent_r(struct spwd *sp, char *buf, size_t len, int *err) {
    enum nss_status st;
    while ((st = next(walk, sp, buf, len, err)) == NSS_STATUS_SUCCESS && sp->sp_namp[0] == 'h')
        continue;
    return st;
}

enum nss_status _nss_ccsecond_getspnam_r(const char *name, struct spwd *sp, char *buf, size_t len,
                                         int *err) {
    FILE *fp = open_source();
    enum nss_status st;
    while ((st = next(fp, sp, buf, len, err)) == NSS_STATUS_SUCCESS &&
           strcmp(sp->sp_namp, name) != 0)
        continue;
    if (fp != NULL) fclose(fp);
    return st;
}
