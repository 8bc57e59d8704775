// The shadow stand-in, the library built without CRED_WITH_SHADOW (linked
// into its own test binary): Getspnam answers no entry and says why,
// whatever the host's shadow database holds.
#include <gtest/gtest.h>

#include "cred/tests/trace_capture.h"

TEST(ShadowStandIn, AnswersNoEntryAndSaysWhy) {
    TraceCapture trace;
    int alg = 7;
    EXPECT_EQ(Getspnam("root", &alg), nullptr);
    EXPECT_EQ(alg, 0);
    EXPECT_EQ(Getspnam(nullptr, &alg), nullptr);
    EXPECT_EQ(alg, -1);
    Endspent();
    EXPECT_EQ(trace.Take(),
              "Getspnam: no getspnam function\nGetspnam: no getspnam function\n\tEndspent\n");
}
