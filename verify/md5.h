/*
 * md5.h - the MD5 message digest (RFC 1321) and hexadecimal helpers.
 *
 * Contexts are owned by the caller; nothing allocates.
 */
#ifndef VERIFY_MD5_H
#define VERIFY_MD5_H

#include <stddef.h>
#include <stdint.h>

#include "credcheck/export.h"

CREDCHECK_BEGIN_DECLS

typedef struct MD5_CTX {
    uint32_t      state[4];  /* A, B, C, D */
    uint32_t      count[2];  /* bits absorbed, low word first */
    unsigned char buffer[64];
} MD5_CTX;

typedef struct MD5_HEX_CTX {
    char    text[64];  /* 32 hex digits and a NUL after MD5HexFinal */
    MD5_CTX ctx;
} MD5_HEX_CTX;

/* ---- The digest ---------------------------------------------------------- */

void  MD5Init(MD5_CTX *ctx) CRED_NOEXCEPT;
void  MD5Update(MD5_CTX *ctx, const void *input, size_t len) CRED_NOEXCEPT;
/* Writes the 16-byte digest and clears the whole context. */
void  MD5Final(unsigned char digest[16], MD5_CTX *ctx) CRED_NOEXCEPT;
/* Compress one 64-byte block into the state. */
void  MD5Transform(MD5_CTX *ctx, const unsigned char block[64]) CRED_NOEXCEPT;

/* ---- Hexadecimal digests (lower case) ----------------------------------- */

/* Start h, absorbing input when it is not null and len is not 0. */
void  MD5HexInit(MD5_HEX_CTX *h, const void *input, size_t len) CRED_NOEXCEPT;
void  MD5HexUpdate(MD5_HEX_CTX *h, const void *input, size_t len) CRED_NOEXCEPT;
/* Finish: returns h->text holding 32 hex digits; the rest of h is zeroed. */
char *MD5HexFinal(MD5_HEX_CTX *h) CRED_NOEXCEPT;
/* Digest of input into out; null (out untouched) when outSize <= 32,
 * either pointer is null or len is 0. */
char *MD5HexDigest(const void *input, size_t len, char *out, size_t outSize) CRED_NOEXCEPT;

CREDCHECK_END_DECLS

#endif /* VERIFY_MD5_H */
