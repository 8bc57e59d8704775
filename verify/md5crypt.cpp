// The MD5-based crypt: "$1$", a salt of up to 8 characters, "$" and 22
// characters of itoa64 that encode 1000 rounds of MD5 over the password,
// the salt and the previous digest.
#include <strings.h>  // explicit_bzero

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "verify/md5.h"
#include "verify/verify.h"

namespace {

constexpr std::string_view kMagic = "$1$";
constexpr size_t kMaxSalt = 8;
constexpr int kRounds = 1000;
constexpr size_t kDigest = 16;

constexpr char kItoa64[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Magic, salt, "$", 22 characters and a NUL fit many times over.
std::array<char, 120> result;
static_assert(kMagic.size() + kMaxSalt + 1 + 22 + 1 <= sizeof result);

// Writes n characters of itoa64 for v, lowest 6 bits first; no terminator.
char *to64(char *out, unsigned long v, int n) {
    for (; n > 0; --n, v >>= 6) *out++ = kItoa64[v & 0x3f];
    return out;
}

// The salt in setting: after an optional magic, up to the first "$" or
// NUL, at most 8 characters.
std::string_view SaltOf(const char *setting) {
    if (std::strncmp(setting, kMagic.data(), kMagic.size()) == 0) setting += kMagic.size();
    size_t n = 0;
    while (n < kMaxSalt && setting[n] != '\0' && setting[n] != '$') ++n;
    return {setting, n};
}

void Absorb(MD5_CTX *ctx, std::string_view s) {
    MD5Update(ctx, s.data(), s.size());
}

// The digest of the password, magic and salt, folded with the digest of
// password, salt, password: the seed of the rounds.
void InitialDigest(unsigned char f[kDigest], std::string_view pw, std::string_view salt) {
    MD5_CTX a, b;
    MD5Init(&a);
    Absorb(&a, pw);
    Absorb(&a, kMagic);
    Absorb(&a, salt);

    MD5Init(&b);
    Absorb(&b, pw);
    Absorb(&b, salt);
    Absorb(&b, pw);
    MD5Final(f, &b);

    for (size_t r = pw.size(); r > 0; r -= std::min(r, kDigest)) {
        MD5Update(&a, f, std::min(r, kDigest));
    }
    explicit_bzero(f, kDigest);
    // One byte per bit of the length: a zero byte for a set bit, else the
    // password's first byte.
    for (size_t i = pw.size(); i != 0; i >>= 1) {
        MD5Update(&a, (i & 1) ? f : reinterpret_cast<const unsigned char *>(pw.data()), 1);
    }
    MD5Final(f, &a);
}

void Rounds(unsigned char f[kDigest], std::string_view pw, std::string_view salt) {
    for (int i = 0; i < kRounds; ++i) {
        MD5_CTX r;
        MD5Init(&r);
        if (i & 1) {
            Absorb(&r, pw);
        } else {
            MD5Update(&r, f, kDigest);
        }
        if (i % 3 != 0) Absorb(&r, salt);
        if (i % 7 != 0) Absorb(&r, pw);
        if (i & 1) {
            MD5Update(&r, f, kDigest);
        } else {
            Absorb(&r, pw);
        }
        MD5Final(f, &r);
    }
}

// Three digest bytes, the first in the high 8 bits.
unsigned long Triple(const unsigned char *f, int i, int j, int k) {
    return (static_cast<unsigned long>(f[i]) << 16) | (static_cast<unsigned long>(f[j]) << 8) |
           f[k];
}

char *Encode(char *out, const unsigned char f[kDigest]) {
    out = to64(out, Triple(f, 0, 6, 12), 4);
    out = to64(out, Triple(f, 1, 7, 13), 4);
    out = to64(out, Triple(f, 2, 8, 14), 4);
    out = to64(out, Triple(f, 3, 9, 15), 4);
    out = to64(out, Triple(f, 4, 10, 5), 4);
    return to64(out, f[11], 2);
}

}  // namespace

extern "C" char *Cred_md5_crypt(const char *pw, const char *setting) noexcept {
    const std::string_view password = pw != nullptr ? pw : "";
    // Either argument may be (part of) the previous result: the salt is
    // copied out and the result text is written only once the rounds are done.
    const std::string_view found = SaltOf(setting != nullptr ? setting : "");
    std::array<char, kMaxSalt> saltCopy;
    std::copy(found.begin(), found.end(), saltCopy.begin());
    const std::string_view salt(saltCopy.data(), found.size());

    unsigned char f[kDigest];
    InitialDigest(f, password, salt);
    Rounds(f, password, salt);

    char *out = result.data();
    out = std::copy(kMagic.begin(), kMagic.end(), out);
    out = std::copy(salt.begin(), salt.end(), out);
    *out++ = '$';
    out = Encode(out, f);
    *out = '\0';
    explicit_bzero(f, sizeof f);
    return result.data();
}
