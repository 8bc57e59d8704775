// Every valid kind of setting, cut at every length and with a ":" put at
// each position: classification and encryption read nothing past the text
// (each text sits in an allocation of exactly its size, for AddressSanitizer).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cred/tests/trace_capture.h"
#include "verify/verify.h"

namespace {

// Settings whose host crypt is cheap enough to run a few thousand times.
const char *const kSettings[] = {
    "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/",
    "abJnggxhB/yWI",
    "_J9..abcd5WNy9VUCfAY",
    "$5$rounds=1000$saltstring$",
    "$6$rounds=1000$saltstring$",
    "$2b$04$abcdefghijklmnopqrstuu",
    "$md5$salt$hash",
    "$y$j9T$rest",
};

// Runs check on text held in an exactly sized heap copy.
template <typename Check>
void WithExactCopy(const std::string &text, Check check) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    check(copy.get());
}

// The cuts of setting and each cut with one character replaced by ":".
std::vector<std::string> Variants(const std::string &setting) {
    std::vector<std::string> out;
    for (size_t len = 0; len <= setting.size(); ++len) {
        std::string cut = setting.substr(0, len);
        out.push_back(cut);
        for (size_t i = 0; i < len; ++i) {
            std::string bad = cut;
            bad[i] = ':';
            out.push_back(bad);
        }
    }
    return out;
}

TEST(BadSettings, ClassificationStaysInBounds) {
    TraceCapture trace;
    for (const char *setting : kSettings) {
        for (const std::string &text : Variants(setting)) {
            WithExactCopy(text, [](const char *pw) {
                const char *name = nullptr;
                int result = ClassifyEncryptedPassword(pw, &name);
                EXPECT_TRUE(result == 0 || result == 1);
                ASSERT_NE(name, nullptr);
                EXPECT_LT(std::strlen(name), 32u);
                IsBlowfishPassword(pw);
                IsSha256Password(pw);
                IsSha512Password(pw);
            });
        }
        trace.Take();
    }
}

TEST(BadSettings, EncryptionStaysInBounds) {
    TraceCapture trace;
    for (const char *setting : kSettings) {
        for (const std::string &text : Variants(setting)) {
            WithExactCopy(text, [](const char *answer) {
                const char *md5 = Cred_md5_crypt("x", answer);
                ASSERT_NE(md5, nullptr);
                EXPECT_EQ(std::strncmp(md5, "$1$", 3), 0);
                EXPECT_LE(std::strlen(md5), 34u);
                int result = CheckGuess("x", answer);  // through CryptGuess
                EXPECT_TRUE(result == 0 || result == -1);
            });
        }
        // The setting's text as a password, too.
        for (size_t len = 0; len <= std::strlen(setting); ++len) {
            WithExactCopy(std::string(setting, len),
                          [](const char *pw) { Cred_md5_crypt(pw, "$1$salt$"); });
        }
        trace.Take();
    }
}

}  // namespace
