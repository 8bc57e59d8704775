/*
 * cred.h - the Cred library: look users up into a fixed-size record,
 * list their groups and find out whether encrypted passwords can be read.
 *
 * Every operation narrates itself on CredDebugStream.  Nothing is
 * reentrant and nothing may run on two threads at once.
 */
#ifndef CRED_CRED_H
#define CRED_CRED_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#include "credcheck/export.h"

CREDCHECK_BEGIN_DECLS

/* ---- The Cred record ------------------------------------------------
 * Owned by the caller.  Text fields are NUL-terminated copies that live
 * inside the record; unset ids are -1.  gid[0] is the primary group,
 * gid[1..32] the supplementary groups, ngid the count of valid entries.
 */
typedef struct Cred {
    char     username[128];
    char     passwd[256];
    int32_t  uid;
    int32_t  gid[33];
    uint32_t ngid;
    char     gecos[128];
    char     homedir[128];
    char     shell[128];
    int32_t  alg;
} Cred;

/* ---- Process-wide settings ------------------------------------------ */

/* The trace stream: null until the library is initialised, which sets it
 * to standard error.  A caller may assign another open stream afterwards. */
extern FILE *CredDebugStream;

/* How supplementary groups are found: 1 getgroups() of this process,
 * 2 (initial) a scan of /etc/group.  Other values make the lookup fail. */
extern int CredGroupListMethod;

/* ---- Start-up and the record ----------------------------------------- */

/* Point the trace at standard error, announce the library and report the
 * host's CRYPT_DEFAULT lines.  The arguments are not used. */
void InitCredLibrary(int argc, char **argv) CRED_NOEXCEPT;

/* Initialise the library on first use; a no-op once CredDebugStream is set. */
void EnsureCredInit(void) CRED_NOEXCEPT;

/* Put a record into its initial state (zeroed, ids -1, ngid 0). */
void InitCredStruct(Cred *cp) CRED_NOEXCEPT;

/* Write the record as one passwd-style line into dst (size >= 1),
 * cut to size - 1 characters. */
void CredToLine(char *dst, size_t size, const Cred *cp) CRED_NOEXCEPT;

/* Bounded append: src onto the NUL-terminated text in dst of size bytes;
 * the bytes after the terminator are zeroed.  Returns dst. */
char *Strlcat(char *dst, const char *src, size_t size) CRED_NOEXCEPT;

/* ---- User lookup ------------------------------------------------------
 * wantC: fetch the encrypted password (with the shadow fallback);
 * wantSupp: fetch supplementary groups; wantClose: close the user and
 * shadow databases afterwards.  Lookups return 0 when the record was
 * filled and -1 when no entry was found (the record is then initial).
 */
struct passwd;
struct spwd;

/* Fill cp from a host entry; callers clear cp first. */
void PwdToCred(const struct passwd *pw, Cred *cp, int wantC, int wantSupp) CRED_NOEXCEPT;
int  GetCredName(const char *name, Cred *cp, int wantC, int wantSupp, int wantClose) CRED_NOEXCEPT;
int  GetCredUID(uint32_t uid, Cred *cp, int wantC, int wantSupp, int wantClose) CRED_NOEXCEPT;
/* Next entry of the user database; first == 1 restarts the enumeration. */
int  GetCredEnt(int first, Cred *cp, int wantC, int wantSupp, int wantClose) CRED_NOEXCEPT;

/* Traced shadow lookup.  Sets *alg (0 for a name, -1 for a null name) and
 * returns the host's entry (valid until the next host call) or null. */
struct spwd *Getspnam(const char *name, int *alg) CRED_NOEXCEPT;
void  Endspent(void) CRED_NOEXCEPT;
/* Close the user database and the shadow database. */
void  EndCred(void) CRED_NOEXCEPT;

/* ---- Group lists ------------------------------------------------------ */

/* Store at most maxg supplementary group ids of user into gids by the
 * method in CredGroupListMethod.  Returns the count stored, or -1 with
 * errno set (EINVAL for maxg 0, a null gids or user, or an invalid
 * method). */
int  GetUserGroups(int32_t *gids, size_t maxg, const char *user) CRED_NOEXCEPT;

/* Register a caller-owned line buffer (used when size > 512) for the
 * /etc/group scan; it is zeroed after every scan that used it.  A null
 * buf unregisters it. */
void SetGroupFileBuffer(char *buf, size_t size) CRED_NOEXCEPT;

/* Traced setgroups(); returns the host's result. */
int  Setgroups(int n, const gid_t *list) CRED_NOEXCEPT;

/* ---- Availability probe ----------------------------------------------- */

/* Look for any user whose encrypted password has a valid format: root
 * first, then the whole user database, for at most limit seconds (0: no
 * limit).  n and tx (either may be null) receive the number of records
 * read and whether time ran out.  Returns 1 when one was found, else 0. */
int  CanGetEncryptedPasswords2(unsigned limit, unsigned *n, unsigned *tx) CRED_NOEXCEPT;
/* The same with no limit and no out-values. */
int  CanGetEncryptedPasswords(void) CRED_NOEXCEPT;

CREDCHECK_END_DECLS

#endif /* CRED_CRED_H */
