// The verify layer against independent oracles (MD5 against OpenSSL,
// MD5-crypt against libcrypt), classification as a table of texts and the
// lines they trace, and every valid setting cut and spoilt.
#include "verify/verify.h"

#include <crypt.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "cred/tests/trace_capture.h"
#include "verify/md5.h"

// This binary's crypt(): libcrypt's, or null while nullCrypt is set.
bool nullCrypt = false;
extern "C" char *crypt(const char *phrase, const char *setting) noexcept {
    static crypt_data data;
    return nullCrypt ? nullptr : crypt_r(phrase, setting, &data);
}

namespace {

using namespace std::string_literals;

const MD5_CTX kZero{};

constexpr char kItoa64[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::string Libcrypt(const std::string &pw, const std::string &setting) {
    return crypt(pw.c_str(), setting.c_str());
}

// Every length up to two blocks (all the padding cases), then random ones,
// fed in random pieces (empty ones too); MD5Final leaves only the digest.
TEST(Md5, MatchesOpenSsl) {
    std::mt19937 rng(1321);
    for (size_t round = 0; round < 400; ++round) {
        std::string data(round <= 130 ? round : rng() % 3000, '\0');
        for (char &b : data) b = static_cast<char>(rng());
        unsigned char want[16], got[16];
        EVP_Digest(data.data(), data.size(), want, nullptr, EVP_md5(), nullptr);
        MD5_CTX ctx;
        MD5Init(&ctx);
        for (size_t at = 0, piece; at < data.size(); at += piece)
            MD5Update(&ctx, &data[at], piece = std::min<size_t>(rng() % 150, data.size() - at));
        MD5Final(got, &ctx);
        ASSERT_EQ(std::memcmp(got, want, 16), 0) << "length " << data.size();
        EXPECT_EQ(std::memcmp(&ctx, &kZero, sizeof ctx), 0);
    }
}

TEST(Md5, BitCountIs64BitsAndTheHexHelpers) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    ctx.count[0] = 0xFFFFFFF8u;
    MD5Update(&ctx, "d", 1);
    EXPECT_EQ(ctx.count[0], 0u);
    EXPECT_EQ(ctx.count[1], 1u);
    MD5_HEX_CTX h;
    MD5HexInit(&h, "message ", 8);
    MD5HexUpdate(&h, "digest", 6);
    EXPECT_STREQ(MD5HexFinal(&h), "f96b697d7cb7938d525a2f31aaf161d0");  // RFC 1321
    EXPECT_EQ(std::memcmp(h.text + 33, kZero.buffer, 31), 0);           // and the context
    EXPECT_EQ(std::memcmp(&h.ctx, &kZero, sizeof h.ctx), 0);
    char out[34] = "untouched";
    EXPECT_EQ(MD5HexDigest("abc", 3, out, 32), nullptr);  // no room for the NUL: untouched
    EXPECT_STREQ(out, "untouched");
    out[33] = 'Z';
    EXPECT_EQ(MD5HexDigest("abc", 3, out, 33), out);
    EXPECT_EQ(std::string(out, 34), "900150983cd24fb0d6963f7d28e17f72\0Z"s);
}

// Any bytes as the password, up to 300 of them; salts of up to 11 crypt
// characters (cut to 8), with and without the magic and the closing "$".
TEST(Md5Crypt, MatchesLibcrypt) {
    std::mt19937 rng(34);
    for (int round = 0; round < 150; ++round) {
        std::string pw(round < 10 ? round : rng() % (round < 140 ? 40 : 300), '\0'),
            salt(rng() % 12, '\0');
        for (char &c : pw) c = static_cast<char>(1 + rng() % 255);
        for (char &c : salt) c = kItoa64[rng() % 64];
        const std::string want = Libcrypt(pw, "$1$" + salt + "$");
        for (const std::string &setting : {"$1$" + salt + "$", "$1$" + salt, salt})
            ASSERT_EQ(Cred_md5_crypt(pw.c_str(), setting.c_str()), want) << setting;
    }
}

TEST(Md5Crypt, SaltRulesNullsAndArgumentsInThePreviousResult) {
    const std::string empty = Libcrypt("x", "$1$$"), cut = Libcrypt("x", "$1$abcdefgh$");
    for (const char *setting : {"", "$5$abc$", static_cast<const char *>(nullptr)})
        EXPECT_EQ(Cred_md5_crypt("x", setting), empty);
    EXPECT_EQ(Cred_md5_crypt("x", "abcdefgh$rest"), cut);
    EXPECT_EQ(Cred_md5_crypt(nullptr, "$1$ab$"), Libcrypt("", "$1$ab$"));
    EXPECT_EQ(Cred_md5_crypt("x", Cred_md5_crypt("x", "$1$abcdefgh$") + 4),
              Libcrypt("x", "$1$bcdefgh$"));
    EXPECT_EQ(Cred_md5_crypt(Cred_md5_crypt("x", "$1$abcdefgh$"), "$1$salt$"),
              Libcrypt(cut, "$1$salt$"));
}

TEST(CheckGuess, CopiesCutTo255NullArgumentsAndNullFromCrypt) {
    const std::string guess(300, 'g'), md5 = Cred_md5_crypt(guess.substr(0, 255).c_str(), "$1$s$");
    EXPECT_EQ(CheckGuess(guess.c_str(), md5.c_str()), 0);
    EXPECT_EQ(CheckGuess(guess.substr(0, 254).c_str(), md5.c_str()), -1);
    EXPECT_EQ(CheckGuess(nullptr, Libcrypt("", "$1$ab$").c_str()), 0);
    EXPECT_EQ(CheckGuess("x", nullptr), -1);
    TraceCapture trace;
    nullCrypt = true;
    EXPECT_EQ(CheckGuess("pw", "$7$x"), -1);
    nullCrypt = false;
    EXPECT_EQ(trace.Take(), "crypt = [NULL]\nencrypted guess == NULL\n");
}

// The forms that credcheck's reports do not show (those are tested there).
TEST(Classify, ResultNameAndTrace) {
    const std::string bf = "Blowfish password detected -- relying upon system crypt().\n",
                      des = "DES crypt password detected.\n",
                      ok = "Encrypted password was valid.\n",
                      lng = "BSD/OS or OpenBSD long DES password detected.\n", q22(22, 'q');
    // clang-format off
    auto other = [](std::string n) { return "Unknown password encryption detected (" + n + ") -- relying upon system crypt().\n"; };
    auto bad = [](std::string ch, std::string hex, std::string in) { return "Non base-64 character ('" + ch + "', hex $" + hex + ") detected in in " + in + ".\n"; };
    const std::tuple<std::string, int, std::string, std::string> rows[] = {
        {"$md5$salt$hash", 1, "Sun MD5", "Sun MD5 password detected.\n"},
        {"$2a$05$abc", 1, "Blowfish", bf}, {"$2z$", 1, "Blowfish", bf}, {"$2$", 1, "Blowfish", bf},
        {"$5$salt$hash", 1, "SHA-256", "SHA-256 password detected.\n"},
        {"$2A$", 1, "unknown:$2A", other("unknown:$2A")}, {"$2{$", 1, "unknown:$2{", other("unknown:$2{")},
        {"$$", 1, "unknown:$$", other("unknown:$$")},
        {"$" + q22 + "qq$", 1, "unknown:$" + q22, other("unknown:$" + q22)},  // the name is cut to 31
        {"$abc", 0, "unknown", "Not long enough (\"$abc\", only 4 chars) to be a DES crypt password.\n"},
        {"_J9..abcd5WNy9VUCfAY:x", 1, "DES Long", lng + ok},
        {"_J9..abcd5WNy9VUCfA", 0, "DES Long", lng + "BSD/OS or OpenBSD long password not long enough.\n"},
        {"_J9..abcd5WNy9VUCfA_", 0, "DES Long", lng + bad("_", "5F", "BSD/OS long password")},
        {"abJnggxhB/yWI$:*\x01", 1, "DES", des + ok},
        {"abJnggxhB/yW:", 0, "DES", des + bad(":", "3A", "DES crypt password")},
        {"ab\xE9nggxhB/yWI", 0, "DES", des + bad("\xE9", "E9", "DES crypt password")},
    };
    // clang-format on
    TraceCapture trace;
    for (const auto &[text, result, name, lines] : rows) {
        const char *got = nullptr;
        EXPECT_EQ(ClassifyEncryptedPassword(text.c_str(), &got), result) << text;
        EXPECT_EQ(got, name) << text;
        EXPECT_EQ(trace.Take(), lines) << text;
    }
    EXPECT_EQ(IsValidEncryptedPassword(nullptr), 0);  // read as ""
}

// Every valid kind of setting, cut at every length and with a ":" put in
// each position: classification and encryption read nothing past the text
// (each copy sits in an allocation of exactly its size).
TEST(BadSettings, StayInBounds) {
    TraceCapture quiet;
    for (const std::string setting :
         {"$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/", "abJnggxhB/yWI", "_J9..abcd5WNy9VUCfAY",
          "$5$rounds=1000$saltstring$", "$6$rounds=1000$saltstring$",
          "$2b$04$abcdefghijklmnopqrstuu", "$md5$salt$hash", "$y$j9T$rest"}) {
        for (size_t len = 0; len <= setting.size(); ++len) {
            for (size_t colon = 0; colon <= len; ++colon) {
                const auto text = std::make_unique<char[]>(len + 1);
                std::memcpy(text.get(), setting.c_str(), len);
                if (colon < len) text[colon] = ':';
                EXPECT_LE(IsValidEncryptedPassword(text.get()), 1);
                EXPECT_EQ(std::strncmp(Cred_md5_crypt("x", text.get()), "$1$", 3), 0);
                EXPECT_LE(CheckGuess("x", text.get()), 0);
            }
        }
    }
}

}  // namespace
