/*
 * internal.h - pieces of the Cred library that its own files and tests share.
 */
#ifndef CRED_INTERNAL_H
#define CRED_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "cred/cred.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The version string; it must begin with "@(#)". */
extern const char CredVersion[];

/* Report the CRYPT_DEFAULT lines of the policy file at path. */
void ReadCryptPolicy(const char *path) CRED_NOEXCEPT;

/* The /etc/group scan on an open stream: store the ids of the groups whose
 * member field lists user into gids (at most maxg), reading lines with buf
 * of size bytes.  Returns the count stored. */
int ScanGroupStream(FILE *fp, int32_t *gids, size_t maxg, const char *user, char *buf,
                    size_t size) CRED_NOEXCEPT;

/* printf-style write to CredDebugStream; nothing when it is unset. */
void CredTrace(const char *fmt, ...) CRED_NOEXCEPT __attribute__((format(printf, 1, 2)));

/* ---- The shadow index of a walk ---------------------------------------
 * A walk over every user brackets its lookups with ShadowWalkBegin and
 * ShadowWalkEnd.  Begin reads the host's shadow database once (setspent,
 * getspent_r, endspent) into an index, name to the first entry of that
 * name; while a walk is open, Getspnam answers from it what the host's
 * lookup would answer, and asks the host whatever the index cannot tell
 * (every name when the enumeration failed).  Walks nest: only the
 * outermost pair reads and frees.  End clears the copied hashes.  Begin
 * and End keep errno.
 */
void ShadowWalkBegin(void) CRED_NOEXCEPT;
/* Returns 1 when the index answers for name, with *entry set to the entry
 * or to null for "no entry" (as the host's lookup with errno 0), and 0
 * with *entry null when the host must be asked.  An entry lives until the
 * outermost ShadowWalkEnd. */
int ShadowWalkFind(const char *name, struct spwd **entry) CRED_NOEXCEPT;
void ShadowWalkEnd(void) CRED_NOEXCEPT;

/* The sources of database in the nsswitch file at path: the text after
 * "database:" on its line (the first such line), without a comment, copied
 * into out (size bytes; cut to fit).  Returns 0 when the file or the line
 * is missing. */
int NsswitchLine(const char *path, const char *database, char *out, size_t size) CRED_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* CRED_INTERNAL_H */
