// Classification of encrypted passwords: result, name and trace of every rule.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "cred/tests/trace_capture.h"
#include "verify/verify.h"

namespace {

struct Case {
    std::string text;
    int result;
    std::string name;
    std::string trace;
};

constexpr char kValid[] = "Encrypted password was valid.\n";
constexpr char kDes[] = "DES crypt password detected.\n";
constexpr char kLongDes[] = "BSD/OS or OpenBSD long DES password detected.\n";

std::string Unknown(const std::string &name) {
    return "Unknown password encryption detected (" + name + ") -- relying upon system crypt().\n";
}

std::string TooShort(const std::string &text, const std::string &count) {
    return "Not long enough (\"" + text + "\", only " + count + ") to be a DES crypt password.\n";
}

std::string NotBase64(const std::string &ch, const char *hex, const char *where) {
    return "Non base-64 character ('" + ch + "', hex $" + hex + ") detected in in " + where + ".\n";
}

void ExpectClassified(const Case &c) {
    TraceCapture trace;
    const char *name = "not set";
    EXPECT_EQ(ClassifyEncryptedPassword(c.text.c_str(), &name), c.result) << c.text;
    EXPECT_STREQ(name, c.name.c_str()) << c.text;
    EXPECT_EQ(trace.Take(), c.trace) << c.text;
    // Without the name: the same result and the same lines.
    EXPECT_EQ(IsValidEncryptedPassword(c.text.c_str()), c.result) << c.text;
    EXPECT_EQ(trace.Take(), c.trace) << c.text;
}

TEST(Classify, DollarPrefixes) {
    const std::string blowfish = "Blowfish password detected -- relying upon system crypt().\n";
    const Case cases[] = {
        {"$1$", 1, "BSD MD5", "BSD MD5 password detected.\n"},
        {"$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/", 1, "BSD MD5", "BSD MD5 password detected.\n"},
        {"$md5$salt$hash", 1, "Sun MD5", "Sun MD5 password detected.\n"},
        {"$2a$05$abc", 1, "Blowfish", blowfish},
        {"$2b$", 1, "Blowfish", blowfish},
        {"$2y$", 1, "Blowfish", blowfish},
        {"$2$", 1, "Blowfish", blowfish},
        {"$5$salt$hash", 1, "SHA-256", "SHA-256 password detected.\n"},
        {"$6$", 1, "SHA-512", "SHA-512 password detected.\n"},
    };
    for (const Case &c : cases) ExpectClassified(c);
}

TEST(Classify, OtherDollarFormsGetABuiltName) {
    const std::string fortyLetters(40, 'q');
    const Case cases[] = {
        {"$3$abc$def", 1, "unknown:$3", Unknown("unknown:$3")},
        {"$y$j9T$rest", 1, "unknown:$y", Unknown("unknown:$y")},
        {"$$ab$cd", 1, "unknown:$$ab", Unknown("unknown:$$ab")},
        {"$$", 1, "unknown:$$", Unknown("unknown:$$")},
        {"$2A$", 1, "unknown:$2A", Unknown("unknown:$2A")},
        {"$2ab$", 1, "unknown:$2ab", Unknown("unknown:$2ab")},
        {"$2{$", 1, "unknown:$2{", Unknown("unknown:$2{")},  // '{' follows 'z'
        {"$md5,rounds=5000$salt$hash", 1, "unknown:$md5,rounds=5000",
         Unknown("unknown:$md5,rounds=5000")},
        {"$" + fortyLetters + "$", 1, "unknown:$" + fortyLetters.substr(0, 22),
         Unknown("unknown:$" + fortyLetters.substr(0, 22))},
    };
    for (const Case &c : cases) ExpectClassified(c);
}

TEST(Classify, SingleDollarIsNotAnotherDollarForm) {
    const Case cases[] = {
        {"$abc", 0, "unknown", TooShort("$abc", "4 chars")},
        {"$2", 0, "unknown", TooShort("$2", "2 chars")},
        {"a$b$", 0, "unknown", TooShort("a$b$", "4 chars")},
        {"$abcdefghijkl", 0, "DES", kDes + NotBase64("$", "24", "DES crypt password")},
    };
    for (const Case &c : cases) ExpectClassified(c);
}

TEST(Classify, OpenDirectoryPlaceholder) {
    const Case cases[] = {
        {"********", 0, "unknown",
         "Sorry, but this version cannot process Mac OS X OpenDirectory passwords.  "
         "Implementing that is on the To-Do list for a future release.\n"},
        {"*********", 0, "unknown", TooShort("*********", "9 chars")},
        {"*************", 0, "DES", kDes + NotBase64("*", "2A", "DES crypt password")},
    };
    for (const Case &c : cases) ExpectClassified(c);
}

TEST(Classify, ExtendedDes) {
    const std::string valid = "_J9..abcd5WNy9VUCfAY";  // 20 characters
    const Case cases[] = {
        {valid, 1, "DES Long", kLongDes + std::string(kValid)},
        {valid.substr(0, 19), 0, "DES Long",
         kLongDes + std::string("BSD/OS or OpenBSD long password not long enough.\n")},
        {valid + ":anything", 1, "DES Long", kLongDes + std::string(kValid)},
        {"_J9..ab:d5WNy9VUCfAY", 0, "DES Long",
         kLongDes + NotBase64(":", "3A", "BSD/OS long password")},
        {"_J9..abcd5WNy9VUCfA_", 0, "DES Long",
         kLongDes + NotBase64("_", "5F", "BSD/OS long password")},
    };
    for (const Case &c : cases) ExpectClassified(c);
}

TEST(Classify, TraditionalDesAndTooShort) {
    const std::string valid = "abJnggxhB/yWI";
    std::string accented = valid;
    accented[5] = '\xE9';
    const Case cases[] = {
        {valid, 1, "DES", kDes + std::string(kValid)},
        {valid + "$:*\x01 anything", 1, "DES", kDes + std::string(kValid)},
        {accented, 0, "DES", kDes + NotBase64("\xE9", "E9", "DES crypt password")},
        {"abJnggxhB/yW:", 0, "DES", kDes + NotBase64(":", "3A", "DES crypt password")},
        {"", 0, "unknown", TooShort("", "0 chars")},
        {"a", 0, "unknown", TooShort("a", "1 char")},
        {"abJnggxhB/yW", 0, "unknown", TooShort("abJnggxhB/yW", "12 chars")},
    };
    for (const Case &c : cases) ExpectClassified(c);
}

// The only test that calls MakeSalt, so that its first call seeds rand().
TEST(MakeSalt, SeedsOnceFromTheClockAndDrawsSuccessivePairs) {
    const std::time_t before = std::time(nullptr);
    char buf[5] = {'x', 'x', 'x', 'x', 'x'};
    ASSERT_EQ(MakeSalt(buf), buf);
    const char *second = MakeSalt(nullptr);  // the static buffer
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(std::string(buf, 5), std::string(buf, 2) + std::string("\0\0x", 3));
    EXPECT_EQ(std::string(second, 4), std::string(second, 2) + std::string(2, '\0'));

    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789./";
    const std::string got = std::string(buf, 2) + std::string(second, 2);
    bool replayed = false;
    for (std::time_t t = before; t <= after && !replayed; ++t) {
        std::srand(static_cast<unsigned>(t & 0x7FFF));
        std::string want;
        for (int i = 0; i < 4; ++i) want += alphabet[std::rand() % 64];
        replayed = want == got;
    }
    EXPECT_TRUE(replayed) << got;
}

}  // namespace
