// The MD5 message digest (RFC 1321) and its hexadecimal helpers.
//
// Every full block is first gathered in the context's buffer and then
// compressed from there; the compression runs its 64 steps straight
// through with the message words loaded little-endian.
#include "verify/md5.h"

#include <strings.h>  // explicit_bzero

#include <bit>
#include <cstring>

namespace {

constexpr uint32_t kInitA = 0x67452301;
constexpr uint32_t kInitB = 0xefcdab89;
constexpr uint32_t kInitC = 0x98badcfe;
constexpr uint32_t kInitD = 0x10325476;

constexpr size_t kBlock = 64;
constexpr size_t kLengthAt = 56;  // where the bit count goes in the last block

constexpr char kHexDigits[] = "0123456789abcdef";

inline uint32_t LoadLE32(const unsigned char *p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

inline void StoreLE32(unsigned char *p, uint32_t v) {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    std::memcpy(p, &v, sizeof v);
}

// One step: a = b + ((a + f(b, c, d) + x + t) <<< s), arranged so that
// as little as possible waits for b, the word computed just before.
// In round 2 the two halves of G(b, c, d) = (b & d) | (c & ~d) share no
// bits, so they are added one at a time.
template <int S>
inline void StepF(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t;
    a += d ^ (b & (c ^ d));
    a = std::rotl(a, S) + b;
}

template <int S>
inline void StepG(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t + (c & ~d);
    a += b & d;
    a = std::rotl(a, S) + b;
}

template <int S>
inline void StepH(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t;
    a += b ^ (c ^ d);
    a = std::rotl(a, S) + b;
}

template <int S>
inline void StepI(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t;
    a += c ^ (b | ~d);
    a = std::rotl(a, S) + b;
}

// Adds bytes * 8 to the 64-bit bit count held low word first.
void AddToBitCount(MD5_CTX *ctx, size_t bytes) {
    uint64_t bits = (static_cast<uint64_t>(ctx->count[1]) << 32) | ctx->count[0];
    bits += static_cast<uint64_t>(bytes) << 3;
    ctx->count[0] = static_cast<uint32_t>(bits);
    ctx->count[1] = static_cast<uint32_t>(bits >> 32);
}

void WriteHex(char *out, const unsigned char digest[16]) {
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = kHexDigits[digest[i] >> 4];
        out[2 * i + 1] = kHexDigits[digest[i] & 0x0f];
    }
    out[32] = '\0';
}

}  // namespace

extern "C" void MD5Init(MD5_CTX *ctx) noexcept {
    ctx->state[0] = kInitA;
    ctx->state[1] = kInitB;
    ctx->state[2] = kInitC;
    ctx->state[3] = kInitD;
    ctx->count[0] = 0;
    ctx->count[1] = 0;
}

extern "C" void MD5Update(MD5_CTX *ctx, const void *input, size_t len) noexcept {
    if (len == 0) return;
    const auto *in = static_cast<const unsigned char *>(input);
    size_t index = (ctx->count[0] >> 3) & (kBlock - 1);
    AddToBitCount(ctx, len);

    if (index != 0) {
        size_t room = kBlock - index;
        if (len < room) {
            std::memcpy(ctx->buffer + index, in, len);
            return;
        }
        std::memcpy(ctx->buffer + index, in, room);
        MD5Transform(ctx, ctx->buffer);
        in += room;
        len -= room;
    }
    for (; len >= kBlock; in += kBlock, len -= kBlock) {
        std::memcpy(ctx->buffer, in, kBlock);
        MD5Transform(ctx, ctx->buffer);
    }
    if (len != 0) std::memcpy(ctx->buffer, in, len);
}

extern "C" void MD5Final(unsigned char digest[16], MD5_CTX *ctx) noexcept {
    size_t index = (ctx->count[0] >> 3) & (kBlock - 1);
    ctx->buffer[index++] = 0x80;
    if (index > kLengthAt) {
        std::memset(ctx->buffer + index, 0, kBlock - index);
        MD5Transform(ctx, ctx->buffer);
        std::memset(ctx->buffer, 0, kLengthAt);
    } else {
        std::memset(ctx->buffer + index, 0, kLengthAt - index);
    }
    StoreLE32(ctx->buffer + kLengthAt, ctx->count[0]);
    StoreLE32(ctx->buffer + kLengthAt + 4, ctx->count[1]);
    MD5Transform(ctx, ctx->buffer);

    for (int i = 0; i < 4; ++i) StoreLE32(digest + 4 * i, ctx->state[i]);
    explicit_bzero(ctx, sizeof *ctx);
}

extern "C" void MD5Transform(MD5_CTX *ctx, const unsigned char block[64]) noexcept {
    const uint32_t x0 = LoadLE32(block), x1 = LoadLE32(block + 4), x2 = LoadLE32(block + 8),
                   x3 = LoadLE32(block + 12), x4 = LoadLE32(block + 16), x5 = LoadLE32(block + 20),
                   x6 = LoadLE32(block + 24), x7 = LoadLE32(block + 28), x8 = LoadLE32(block + 32),
                   x9 = LoadLE32(block + 36), x10 = LoadLE32(block + 40),
                   x11 = LoadLE32(block + 44), x12 = LoadLE32(block + 48),
                   x13 = LoadLE32(block + 52), x14 = LoadLE32(block + 56),
                   x15 = LoadLE32(block + 60);
    uint32_t a = ctx->state[0], b = ctx->state[1], c = ctx->state[2], d = ctx->state[3];

    // Round 1
    StepF<7>(a, b, c, d, x0, 0xd76aa478);
    StepF<12>(d, a, b, c, x1, 0xe8c7b756);
    StepF<17>(c, d, a, b, x2, 0x242070db);
    StepF<22>(b, c, d, a, x3, 0xc1bdceee);
    StepF<7>(a, b, c, d, x4, 0xf57c0faf);
    StepF<12>(d, a, b, c, x5, 0x4787c62a);
    StepF<17>(c, d, a, b, x6, 0xa8304613);
    StepF<22>(b, c, d, a, x7, 0xfd469501);
    StepF<7>(a, b, c, d, x8, 0x698098d8);
    StepF<12>(d, a, b, c, x9, 0x8b44f7af);
    StepF<17>(c, d, a, b, x10, 0xffff5bb1);
    StepF<22>(b, c, d, a, x11, 0x895cd7be);
    StepF<7>(a, b, c, d, x12, 0x6b901122);
    StepF<12>(d, a, b, c, x13, 0xfd987193);
    StepF<17>(c, d, a, b, x14, 0xa679438e);
    StepF<22>(b, c, d, a, x15, 0x49b40821);

    // Round 2
    StepG<5>(a, b, c, d, x1, 0xf61e2562);
    StepG<9>(d, a, b, c, x6, 0xc040b340);
    StepG<14>(c, d, a, b, x11, 0x265e5a51);
    StepG<20>(b, c, d, a, x0, 0xe9b6c7aa);
    StepG<5>(a, b, c, d, x5, 0xd62f105d);
    StepG<9>(d, a, b, c, x10, 0x02441453);
    StepG<14>(c, d, a, b, x15, 0xd8a1e681);
    StepG<20>(b, c, d, a, x4, 0xe7d3fbc8);
    StepG<5>(a, b, c, d, x9, 0x21e1cde6);
    StepG<9>(d, a, b, c, x14, 0xc33707d6);
    StepG<14>(c, d, a, b, x3, 0xf4d50d87);
    StepG<20>(b, c, d, a, x8, 0x455a14ed);
    StepG<5>(a, b, c, d, x13, 0xa9e3e905);
    StepG<9>(d, a, b, c, x2, 0xfcefa3f8);
    StepG<14>(c, d, a, b, x7, 0x676f02d9);
    StepG<20>(b, c, d, a, x12, 0x8d2a4c8a);

    // Round 3
    StepH<4>(a, b, c, d, x5, 0xfffa3942);
    StepH<11>(d, a, b, c, x8, 0x8771f681);
    StepH<16>(c, d, a, b, x11, 0x6d9d6122);
    StepH<23>(b, c, d, a, x14, 0xfde5380c);
    StepH<4>(a, b, c, d, x1, 0xa4beea44);
    StepH<11>(d, a, b, c, x4, 0x4bdecfa9);
    StepH<16>(c, d, a, b, x7, 0xf6bb4b60);
    StepH<23>(b, c, d, a, x10, 0xbebfbc70);
    StepH<4>(a, b, c, d, x13, 0x289b7ec6);
    StepH<11>(d, a, b, c, x0, 0xeaa127fa);
    StepH<16>(c, d, a, b, x3, 0xd4ef3085);
    StepH<23>(b, c, d, a, x6, 0x04881d05);
    StepH<4>(a, b, c, d, x9, 0xd9d4d039);
    StepH<11>(d, a, b, c, x12, 0xe6db99e5);
    StepH<16>(c, d, a, b, x15, 0x1fa27cf8);
    StepH<23>(b, c, d, a, x2, 0xc4ac5665);

    // Round 4
    StepI<6>(a, b, c, d, x0, 0xf4292244);
    StepI<10>(d, a, b, c, x7, 0x432aff97);
    StepI<15>(c, d, a, b, x14, 0xab9423a7);
    StepI<21>(b, c, d, a, x5, 0xfc93a039);
    StepI<6>(a, b, c, d, x12, 0x655b59c3);
    StepI<10>(d, a, b, c, x3, 0x8f0ccc92);
    StepI<15>(c, d, a, b, x10, 0xffeff47d);
    StepI<21>(b, c, d, a, x1, 0x85845dd1);
    StepI<6>(a, b, c, d, x8, 0x6fa87e4f);
    StepI<10>(d, a, b, c, x15, 0xfe2ce6e0);
    StepI<15>(c, d, a, b, x6, 0xa3014314);
    StepI<21>(b, c, d, a, x13, 0x4e0811a1);
    StepI<6>(a, b, c, d, x4, 0xf7537e82);
    StepI<10>(d, a, b, c, x11, 0xbd3af235);
    StepI<15>(c, d, a, b, x2, 0x2ad7d2bb);
    StepI<21>(b, c, d, a, x9, 0xeb86d391);

    ctx->state[0] += a;
    ctx->state[1] += b;
    ctx->state[2] += c;
    ctx->state[3] += d;
}

extern "C" void MD5HexInit(MD5_HEX_CTX *h, const void *input, size_t len) noexcept {
    std::memset(h->text, 0, sizeof h->text);
    MD5Init(&h->ctx);
    if (input != nullptr && len != 0) MD5Update(&h->ctx, input, len);
}

extern "C" void MD5HexUpdate(MD5_HEX_CTX *h, const void *input, size_t len) noexcept {
    MD5Update(&h->ctx, input, len);
}

extern "C" char *MD5HexFinal(MD5_HEX_CTX *h) noexcept {
    unsigned char digest[16];
    MD5Final(digest, &h->ctx);
    WriteHex(h->text, digest);
    explicit_bzero(digest, sizeof digest);
    // Everything after the text's NUL: the rest of the text and the context.
    auto *bytes = reinterpret_cast<unsigned char *>(h);
    constexpr size_t kAfterText = 33;
    explicit_bzero(bytes + kAfterText, sizeof *h - kAfterText);
    return h->text;
}

extern "C" char *MD5HexDigest(const void *input, size_t len, char *out, size_t outSize) noexcept {
    constexpr size_t kHexLength = 32;
    if (outSize <= kHexLength || input == nullptr || len == 0 || out == nullptr) return nullptr;
    std::memset(out, 0, outSize);
    MD5_CTX ctx;
    unsigned char digest[16];
    MD5Init(&ctx);
    MD5Update(&ctx, input, len);
    MD5Final(digest, &ctx);
    WriteHex(out, digest);
    explicit_bzero(digest, sizeof digest);
    return out;
}
