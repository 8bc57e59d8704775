// The driver reads its numbers (the time limit, the group-list method) the
// way atoi() reads them, without atoi's undefined overflow.
#include <gtest/gtest.h>

#include <climits>

#include "driver/input.h"

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

}  // namespace
