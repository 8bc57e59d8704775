// Password verification: results and trace lines, with the host's crypt
// real or replaced by a canned answer.
#include <crypt.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cred/tests/trace_capture.h"
#include "verify/verify.h"

// This binary's crypt(): libcrypt's own unless a test has canned an answer,
// so that a null result and answers crypt never makes can be checked.
namespace fake_crypt {
bool canned = false;
const char *answer = nullptr;
int calls = 0;
int errnoSeen = 0;
size_t phraseLength = 0, settingLength = 0;
}  // namespace fake_crypt

extern "C" char *crypt(const char *phrase, const char *setting) noexcept {
    ++fake_crypt::calls;
    fake_crypt::errnoSeen = errno;
    fake_crypt::phraseLength = std::strlen(phrase);
    fake_crypt::settingLength = std::strlen(setting);
    if (fake_crypt::canned) return const_cast<char *>(fake_crypt::answer);
    static struct crypt_data data;
    return crypt_r(phrase, setting, &data);
}

namespace {

class CannedCrypt {
  public:
    explicit CannedCrypt(const char *answer) {
        fake_crypt::canned = true;
        fake_crypt::answer = answer;
    }
    ~CannedCrypt() { fake_crypt::canned = false; }
};

constexpr char kMd5Answer[] = "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/";  // "x"
constexpr char kMatch[] = "encrypted guess == encrypted answer\n";
constexpr char kNoMatch[] = "encrypted guess did not equal encrypted answer\n";

std::string Des(const char *pw) {
    return crypt(pw, "ab");
}

TEST(CheckGuess, Md5AnswerGoesToTheOwnCrypt) {
    const std::string wrong = Cred_md5_crypt("y", kMd5Answer);
    TraceCapture trace;
    int before = fake_crypt::calls;
    EXPECT_EQ(CheckGuess("x", kMd5Answer), 0);
    EXPECT_EQ(trace.Take(), "Cred_md5_crypt = [" + std::string(kMd5Answer) + "]\n" + kMatch);
    EXPECT_EQ(CheckGuess("y", kMd5Answer), -1);
    EXPECT_EQ(trace.Take(), "Cred_md5_crypt = [" + wrong + "]\n" + kNoMatch);
    EXPECT_EQ(fake_crypt::calls, before);
}

TEST(CheckGuess, DesAnswerGoesToTheHostCrypt) {
    const std::string answer = Des("password"), wrong = Des("passwore");
    ASSERT_EQ(answer.size(), 13u);
    TraceCapture trace;
    EXPECT_EQ(CheckGuess("password", answer.c_str()), 0);
    EXPECT_EQ(trace.Take(), "crypt = [" + answer + "]\n" + kMatch);
    EXPECT_EQ(CheckGuess("passwore", answer.c_str()), -1);
    EXPECT_EQ(trace.Take(), "crypt = [" + wrong + "]\n" + kNoMatch);
}

TEST(CheckGuess, ShortAnswerThatCryptReproducesIsWarnedAbout) {
    CannedCrypt canned("abcdefghijkl");
    TraceCapture trace;
    EXPECT_EQ(CheckGuess("pw", "abcdefghijkl"), 0);
    EXPECT_EQ(trace.Take(),
              "crypt = [abcdefghijkl]\n"
              "guess == answer, but answer was too short (12 chars)\n" +
                  std::string(kMatch));
}

TEST(CheckGuess, NullFromCryptNeverMatches) {
    CannedCrypt canned(nullptr);
    TraceCapture trace;
    EXPECT_EQ(CryptGuess("pw", "$7$whatever"), nullptr);
    EXPECT_EQ(trace.Take(), "crypt = [NULL]\n");
    EXPECT_EQ(CheckGuess("pw", "$7$whatever"), -1);
    EXPECT_EQ(trace.Take(), "crypt = [NULL]\nencrypted guess == NULL\n");
}

TEST(CheckGuess, FailureTokenNeverMatches) {
    // Settings libcrypt cannot use: it answers with a failure token.
    for (const char *answer : {"", "a", "*0", "*1", "!!", "$1"}) {
        EXPECT_EQ(CheckGuess("", answer), -1) << answer;
    }
}

TEST(CheckGuess, DesUsesEightCharactersMd5CryptAll) {
    const std::string des = Des("password");
    EXPECT_EQ(CheckGuess("password-and-more", des.c_str()), 0);

    const std::string md5 = Cred_md5_crypt("password", "$1$saltsalt$");
    EXPECT_EQ(CheckGuess("password", md5.c_str()), 0);
    EXPECT_EQ(CheckGuess("password-and-more", md5.c_str()), -1);
}

TEST(CheckGuess, CopiesAreCutTo255AndTheWholeAnswerIsCompared) {
    const std::string guess(300, 'g'), answer(300, 'a'), cut = answer.substr(0, 255);
    {
        // crypt sees cleared errno and the cut copies; its result equals
        // the cut answer, but not the caller's.
        CannedCrypt canned(cut.c_str());
        TraceCapture trace;
        errno = EINVAL;
        EXPECT_EQ(CheckGuess(guess.c_str(), answer.c_str()), -1);
        EXPECT_EQ(fake_crypt::errnoSeen, 0);
        EXPECT_EQ(fake_crypt::phraseLength, 255u);
        EXPECT_EQ(fake_crypt::settingLength, 255u);
        EXPECT_EQ(trace.Take(), "crypt = [" + cut + "]\n" + kNoMatch);
    }
    const std::string md5 = Cred_md5_crypt(guess.substr(0, 255).c_str(), "$1$saltsalt$");
    EXPECT_EQ(CheckGuess(guess.c_str(), md5.c_str()), 0);
    EXPECT_EQ(CheckGuess(guess.substr(0, 254).c_str(), md5.c_str()), -1);
}

TEST(CheckGuess, NullArgumentsAreEmptyTexts) {
    TraceCapture trace;
    EXPECT_EQ(CheckGuess("x", nullptr), -1);
    const std::string empty = Cred_md5_crypt("", "$1$ab$");
    EXPECT_EQ(CheckGuess(nullptr, empty.c_str()), 0);
}

}  // namespace
