// The MD5 digest against RFC 1321 and OpenSSL, and the hexadecimal helpers.
#include "verify/md5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Known {
    std::string_view input;
    const char *hex;
};

// RFC 1321, appendix A.5.
constexpr Known kRfcSuite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
     "0",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

std::string Hex(const unsigned char *d, size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kDigits[d[i] >> 4];
        s += kDigits[d[i] & 15];
    }
    return s;
}

bool AllZero(const void *p, size_t n) {
    const auto *b = static_cast<const unsigned char *>(p);
    return std::all_of(b, b + n, [](unsigned char c) { return c == 0; });
}

// The digest of data fed in pieces of the given size (the whole at once for 0);
// every call also checks that MD5Final leaves the context all zero.
std::string DigestInPieces(std::string_view data, size_t piece) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    if (piece == 0) piece = std::max<size_t>(data.size(), 1);
    for (size_t at = 0; at < data.size(); at += piece) {
        MD5Update(&ctx, data.data() + at, std::min(piece, data.size() - at));
    }
    unsigned char digest[16];
    MD5Final(digest, &ctx);
    EXPECT_TRUE(AllZero(&ctx, sizeof ctx)) << "context left after MD5Final";
    return Hex(digest, 16);
}

std::string OpenSslMd5(const unsigned char *data, size_t len) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EXPECT_EQ(EVP_Digest(data, len, digest, &n, EVP_md5(), nullptr), 1);
    return Hex(digest, n);
}

TEST(Md5, RfcSuiteWholeAndInPieces) {
    for (const Known &k : kRfcSuite) {
        for (size_t piece : {0, 1, 55, 56, 63, 64, 65}) {
            EXPECT_EQ(DigestInPieces(k.input, piece), k.hex)
                << "input \"" << k.input << "\" in pieces of " << piece;
        }
    }
}

TEST(Md5, MatchesOpenSslOnRandomInputFedInRandomPieces) {
    // Every length up to two blocks (all the padding cases), then random ones.
    std::mt19937 rng(1321);
    for (size_t round = 0; round < 400; ++round) {
        std::vector<unsigned char> data(round <= 130 ? round : rng() % 3000);
        for (auto &b : data) b = static_cast<unsigned char>(rng());
        MD5_CTX ctx;
        MD5Init(&ctx);
        for (size_t at = 0; at < data.size();) {
            size_t piece = std::min<size_t>(rng() % 150, data.size() - at);  // 0 included
            MD5Update(&ctx, data.data() + at, piece);
            at += piece;
        }
        unsigned char digest[16];
        MD5Final(digest, &ctx);
        ASSERT_EQ(Hex(digest, 16), OpenSslMd5(data.data(), data.size()))
            << "length " << data.size();
    }
}

TEST(Md5, BitCountCarriesIntoHighWord) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, "abc", 3);
    EXPECT_EQ(ctx.count[0], 24u);
    EXPECT_EQ(ctx.count[1], 0u);
    ctx.count[0] = 0xFFFFFFF8u;
    MD5Update(&ctx, "d", 1);
    EXPECT_EQ(ctx.count[0], 0u);
    EXPECT_EQ(ctx.count[1], 1u);
}

TEST(Md5Hex, DigestLimits) {
    char out[40];
    std::memset(out, 'Z', sizeof out);
    // Refused: no room for the terminator, no input, a missing pointer.
    EXPECT_EQ(MD5HexDigest("abc", 3, out, 32), nullptr);
    EXPECT_EQ(MD5HexDigest("abc", 0, out, sizeof out), nullptr);
    EXPECT_EQ(MD5HexDigest(nullptr, 3, out, sizeof out), nullptr);
    EXPECT_EQ(MD5HexDigest("abc", 3, nullptr, sizeof out), nullptr);
    EXPECT_EQ(out[0], 'Z');  // untouched

    EXPECT_EQ(MD5HexDigest("abc", 3, out, 33), out);
    EXPECT_STREQ(out, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(out[33], 'Z');  // nothing past the given size
    EXPECT_EQ(MD5HexDigest("abc", 3, out, sizeof out), out);
    EXPECT_TRUE(AllZero(out + 32, sizeof out - 32));
}

TEST(Md5Hex, ObjectDigestsInPiecesAndClearsAllButTheText) {
    MD5_HEX_CTX h;
    MD5HexInit(&h, nullptr, 0);  // the only way to the digest of empty input
    EXPECT_STREQ(MD5HexFinal(&h), "d41d8cd98f00b204e9800998ecf8427e");

    std::memset(&h, 0xAA, sizeof h);
    MD5HexInit(&h, "message ", 8);
    MD5HexUpdate(&h, "digest", 6);
    EXPECT_EQ(MD5HexFinal(&h), h.text);
    EXPECT_STREQ(h.text, "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_TRUE(AllZero(reinterpret_cast<const unsigned char *>(&h) + 32, sizeof h - 32));
}

}  // namespace
