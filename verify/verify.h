/*
 * verify.h - classify encrypted passwords and check passwords against them.
 *
 * The classifier and the checks write trace lines to CredDebugStream,
 * which must be set (initialise the Cred library first).  Returned
 * strings live in static storage, valid until the function's next call.
 * Not reentrant.
 */
#ifndef VERIFY_VERIFY_H
#define VERIFY_VERIFY_H
#include "credcheck/export.h"

CREDCHECK_BEGIN_DECLS

/* ---- Classification ------------------------------------------------------ */

/* 1 when pw is a valid encrypted password of a known form, else 0.  When
 * algName is given it receives the scheme's display name ("BSD MD5",
 * "SHA-512", "DES", "unknown", or a built "unknown:$x" name valid until
 * the next classification of another dollar form). */
int   ClassifyEncryptedPassword(const char *pw, const char **algName) CRED_NOEXCEPT;
/* ClassifyEncryptedPassword without the name. */
int   IsValidEncryptedPassword(const char *pw) CRED_NOEXCEPT;

/* Prefix tests, 1 or 0, no trace. */
int   IsBlowfishPassword(const char *pw) CRED_NOEXCEPT;
int   IsSha256Password(const char *pw) CRED_NOEXCEPT;
int   IsSha512Password(const char *pw) CRED_NOEXCEPT;
/* "$" first and another "$" later; also builds the "unknown:..." name. */
int   IsOtherDollarFormat(const char *pw) CRED_NOEXCEPT;

/* Two random crypt-alphabet characters and two NULs into buf (at least 4
 * bytes), or into a static buffer when buf is null.  Returns the buffer. */
char *MakeSalt(char *buf) CRED_NOEXCEPT;

/* ---- Verification ----------------------------------------------------------- */

/* Encrypt guess with answer as the setting: the own MD5-crypt for "$1$"
 * answers, the host's crypt() otherwise.  Returns the routine's static
 * result, or null. */
char *CryptGuess(const char *guess, const char *answer) CRED_NOEXCEPT;
/* 0 when guess encrypts to answer, -1 otherwise. */
int   CheckGuess(const char *guess, const char *answer) CRED_NOEXCEPT;

/* MD5-based crypt of pw with setting ("$1$salt$..." or a bare salt).
 * Never null; the result is static and valid until the next call. */
char *Cred_md5_crypt(const char *pw, const char *setting) CRED_NOEXCEPT;

CREDCHECK_END_DECLS

#endif /* VERIFY_VERIFY_H */
