// The Cred record, library start-up and the debug trace.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cred/internal.h"

FILE *CredDebugStream = nullptr;

const char CredVersion[] = "@(#) Cred CRED_DEBUG 1.6.1";

namespace {

constexpr const char kPolicyPath[] = "/etc/security/policy.conf";
constexpr const char kCryptDefault[] = "CRYPT_DEFAULT=";
constexpr size_t kCryptDefaultLen = sizeof(kCryptDefault) - 1;
constexpr size_t kScratchSize = 256;

// Ids are shown as unsigned 32-bit values, so an unset id (-1) reads 4294967295.
long WideId(int32_t id) {
    return static_cast<long>(static_cast<uint32_t>(id));
}

}  // namespace

extern "C" void CredTrace(const char *fmt, ...) noexcept {
    FILE *out = CredDebugStream;
    if (out == nullptr) return;
    va_list ap;
    va_start(ap, fmt);
    vfprintf(out, fmt, ap);
    va_end(ap);
}

extern "C" void ReadCryptPolicy(const char *path) noexcept {
    FILE *fp = fopen(path, "r");
    if (fp == nullptr) return;
    CredTrace("Opened %s:\n", path);
    char line[256];
    // A line longer than the buffer arrives in pieces; each piece is
    // examined on its own.
    while (fgets(line, sizeof line, fp) != nullptr) {
        if (strncmp(line, kCryptDefault, kCryptDefaultLen) == 0)
            CredTrace("CRYPT_DEFAULT from policy.conf is %s", line + kCryptDefaultLen);
    }
    fclose(fp);
}

extern "C" void InitCredLibrary(int argc, char **argv) noexcept {
    (void)argc;
    (void)argv;
    CredDebugStream = stderr;
    CredTrace("Cred Library initialized.\n");
    ReadCryptPolicy(kPolicyPath);
    if (strncmp(CredVersion, "@(#)", 4) != 0) exit(1);
}

extern "C" void EnsureCredInit(void) noexcept {
    if (CredDebugStream == nullptr) InitCredLibrary(0, nullptr);
}

extern "C" void InitCredStruct(Cred *cp) noexcept {
    EnsureCredInit();
    CredTrace("InitCredStruct\n");
    // The record may have held an encrypted password: clear it in a way
    // the compiler keeps.
    explicit_bzero(cp, sizeof *cp);
    cp->uid = -1;
    for (int32_t &g : cp->gid) g = -1;
    cp->ngid = 0;
}

extern "C" char *Strlcat(char *dst, const char *src, size_t size) noexcept {
    if (size == 0) return dst;
    size_t n = strnlen(dst, size);
    if (n >= size - 1) return dst;
    size_t i = n;
    for (; i < size - 1 && *src != '\0'; ++i, ++src) dst[i] = *src;
    memset(dst + i, 0, size - i);
    return dst;
}

namespace {

// The group field: every valid entry of gid, comma separated, and the
// closing colon, cut to the scratch buffer.
void GroupList(char *scratch, const Cred *cp) {
    snprintf(scratch, kScratchSize, "%ld", WideId(cp->gid[0]));
    const uint32_t count = cp->ngid < 33 ? cp->ngid : 33;
    for (uint32_t i = 1; i < count; ++i) {
        char one[32];
        snprintf(one, sizeof one, ",%ld", WideId(cp->gid[i]));
        Strlcat(scratch, one, kScratchSize);
    }
    Strlcat(scratch, ":", kScratchSize);
}

}  // namespace

extern "C" void CredToLine(char *dst, size_t size, const Cred *cp) noexcept {
    EnsureCredInit();
    if (size == 0) return;  // no room even for the terminator
    strncpy(dst, cp->username, size);
    dst[size - 1] = '\0';
    Strlcat(dst, ":", size);
    Strlcat(dst, cp->passwd, size);
    Strlcat(dst, ":", size);
    char scratch[kScratchSize];
    snprintf(scratch, sizeof scratch, "%ld:", WideId(cp->uid));
    Strlcat(dst, scratch, size);
    GroupList(scratch, cp);
    Strlcat(dst, scratch, size);
    Strlcat(dst, cp->gecos, size);
    Strlcat(dst, ":", size);
    Strlcat(dst, cp->homedir, size);
    Strlcat(dst, ":", size);
    Strlcat(dst, cp->shell, size);
}
