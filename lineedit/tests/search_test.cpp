// Incremental search through the history.
#include <string>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

using editor_test::EditorTest;
using editor_test::Visible;

class SearchTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        for (const char *line : {"ant one", "plan two", "cherry", "banana"}) gl_add_history(line);
        Start("> ");
    }
    void TypeSearch(const std::string &text) {
        for (char c : text) srch_type(c & 0xFF);
    }
};

// Ctrl-R, a text, Ctrl-R again (the found line becomes the anchor), a
// longer text found further back, Backspace back to the anchor; then
// Ctrl-R and Ctrl-S turn the search round.
TEST_F(SearchTest, AnchorAndDirection) {
    srch_older(1);
    EXPECT_EQ(gl_search_active, 1);
    EXPECT_STREQ(srch_prompt, "? ");
    EXPECT_EQ(Buf(), "");

    TypeSearch("an");
    EXPECT_EQ(Buf(), "banana");
    EXPECT_EQ(gl_pos, 1);
    EXPECT_STREQ(srch_prompt, "an? ");

    srch_older(1);
    EXPECT_EQ(Buf(), "plan two");
    EXPECT_EQ(gl_pos, 2);
    EXPECT_EQ(srch_anchor, hist_cur);

    TypeSearch("t");
    EXPECT_EQ(Buf(), "ant one");
    srch_type(-1);
    EXPECT_EQ(Buf(), "plan two");
    EXPECT_EQ(gl_pos, 2);
    EXPECT_STREQ(srch_text, "an");

    srch_older(1);
    EXPECT_EQ(Buf(), "ant one");
    srch_newer(1);
    EXPECT_EQ(Buf(), "plan two");
    EXPECT_EQ(srch_dir_forward, 1);
}

TEST_F(SearchTest, NoMatchRunsToTheOldestEndWithTheBell) {
    srch_older(1);
    TakeScreen();
    TypeSearch("zz");
    EXPECT_EQ(Buf(), "");
    std::string screen = TakeScreen();
    EXPECT_NE(screen.find("\rzz? "), std::string::npos) << Visible(screen);
    EXPECT_NE(screen.find('\a'), std::string::npos);
}

TEST_F(SearchTest, EmptyTextRingsOnSearchKeysAndRemovals) {
    srch_older(1);
    TakeScreen();
    srch_older(1);
    EXPECT_EQ(TakeScreen(), "\a");
    srch_type(-1);
    EXPECT_EQ(TakeScreen().find('\a'), 0u);
    EXPECT_EQ(srch_len, 0);
}

TEST_F(SearchTest, The78thCharacterIsDropped) {
    srch_older(1);
    TypeSearch(std::string(77, 'q'));
    EXPECT_EQ(srch_len, 77);
    TakeScreen();
    srch_type('r');
    EXPECT_EQ(TakeScreen(), "\a");
    EXPECT_EQ(srch_len, 77);
    EXPECT_EQ(std::string(srch_prompt), std::string(77, 'q') + "? ");
}

TEST_F(SearchTest, EndKeepsTheFoundLineUnderTheNormalPrompt) {
    srch_older(1);
    TypeSearch("err");
    TakeScreen();
    srch_end();
    EXPECT_EQ(gl_search_active, 0);
    EXPECT_EQ(Buf(), "cherry");
    EXPECT_EQ(gl_pos, 2);
    EXPECT_EQ(Visible(TakeScreen()).rfind("<cr>> ", 0), 0u);
}

}  // namespace
