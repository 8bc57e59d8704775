// Unit tests of the driver: its numbers (the time limit, the group-list
// method) are read the way atoi() reads them, without atoi's undefined
// overflow; and the built-in known-answer pair is right.
#include <crypt.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string_view>

#include "driver/input.h"
#include "driver/known_answer.h"

namespace {

TEST(ParseNumber, ReadsLikeAtoiAndClampsOutOfRange) {
    const struct {
        const char *text;
        int value;
    } cases[] = {
        {"3", 3},
        {"  -5", -5},
        {"\t+7x", 7},
        {"abc", 0},
        {"", 0},
        {"0x10", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999", INT_MAX},
        {"-99999999999999999999", INT_MIN},
    };
    for (const auto &c : cases) EXPECT_EQ(credcheck::ParseNumber(c.text), c.value) << c.text;
}

// The known-answer test only means something if libcrypt's traditional DES
// gives back the built-in string for the built-in word.
TEST(KnownAnswer, IsAnEightLetterWordAndItsDesCryptString) {
    const std::string_view word = credcheck::kKnownPassword;
    ASSERT_EQ(word.size(), 8u);
    for (char c : word) EXPECT_TRUE(c >= 'a' && c <= 'z') << word;
    ASSERT_EQ(std::strlen(credcheck::kKnownCrypt), 13u);
    const char *result = crypt(credcheck::kKnownPassword, credcheck::kKnownCrypt);
    ASSERT_NE(result, nullptr);
    EXPECT_STREQ(result, credcheck::kKnownCrypt);
}

}  // namespace
