// The driver's numbers (the time limit, the group-list method) are read
// the way atoi() reads them, but clamped instead of overflowing.  Clamping
// shows in no report, so it is tested here.
#include <gtest/gtest.h>

#include <climits>

#include "driver/input.h"

TEST(ParseNumber, ReadsLikeAtoiAndClampsOutOfRange) {
    const std::pair<const char *, int> rows[] = {{"\t+7x", 7},
                                                 {"0x10", 0},
                                                 {"2147483647", INT_MAX},
                                                 {"2147483648", INT_MAX},
                                                 {"-2147483649", INT_MIN},
                                                 {"-99999999999999999999", INT_MIN}};
    for (const auto &[text, value] : rows) EXPECT_EQ(credcheck::ParseNumber(text), value) << text;
}
