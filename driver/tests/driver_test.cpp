// Unit tests of the driver's pure pieces: the known-answer pair against
// libcrypt, and the parsing of numbers and input lines.
#include <crypt.h>
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <string>

#include "driver/input.h"
#include "driver/known_answer.h"

namespace {

using credcheck::kKnownCrypt;
using credcheck::kKnownPassword;

TEST(KnownAnswer, IsAnEightLetterWordAndItsDesString) {
    ASSERT_EQ(std::strlen(kKnownPassword), 8u);
    for (const char *p = kKnownPassword; *p != '\0'; ++p) EXPECT_TRUE(std::islower(*p)) << *p;
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789./";
    ASSERT_EQ(std::strlen(kKnownCrypt), 13u);
    EXPECT_EQ(std::string(kKnownCrypt).find_first_not_of(alphabet), std::string::npos);
}

TEST(KnownAnswer, LibcryptReproducesTheCryptString) {
    const char *fromSalt = crypt(kKnownPassword, std::string(kKnownCrypt, 2).c_str());
    ASSERT_NE(fromSalt, nullptr);
    EXPECT_STREQ(fromSalt, kKnownCrypt);
    const char *fromWhole = crypt(kKnownPassword, kKnownCrypt);
    ASSERT_NE(fromWhole, nullptr);
    EXPECT_STREQ(fromWhole, kKnownCrypt);
}

TEST(ParseNumber, ReadsLikeAtoi) {
    EXPECT_EQ(credcheck::ParseNumber("3"), 3);
    EXPECT_EQ(credcheck::ParseNumber("  -5"), -5);
    EXPECT_EQ(credcheck::ParseNumber("+7x"), 7);
    EXPECT_EQ(credcheck::ParseNumber("abc"), 0);
    EXPECT_EQ(credcheck::ParseNumber(""), 0);
    EXPECT_EQ(credcheck::ParseNumber("0x10"), 0);
}

TEST(ParseNumber, ClampsValuesOutOfRange) {
    EXPECT_EQ(credcheck::ParseNumber("99999999999999999999"), INT_MAX);
    EXPECT_EQ(credcheck::ParseNumber("-99999999999999999999"), INT_MIN);
    EXPECT_EQ(credcheck::ParseNumber("2147483648"), INT_MAX);
}

TEST(TrimNewline, RemovesOnlyAFinalNewline) {
    char withNewline[] = "root\n";
    EXPECT_EQ(credcheck::TrimNewline(withNewline), 4u);
    EXPECT_STREQ(withNewline, "root");

    char without[] = "root";
    EXPECT_EQ(credcheck::TrimNewline(without), 4u);
    EXPECT_STREQ(without, "root");

    char empty[] = "";
    EXPECT_EQ(credcheck::TrimNewline(empty), 0u);

    char lone[] = "\n";
    EXPECT_EQ(credcheck::TrimNewline(lone), 0u);
    EXPECT_STREQ(lone, "");
}

}  // namespace
