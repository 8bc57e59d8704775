// The line buffer operations and the exact bytes of the redisplay.
#include <string>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

using editor_test::EditorTest;
using editor_test::Visible;

using RedisplayTest = EditorTest;

TEST_F(RedisplayTest, BellOnlyForImpossibleMoves) {
    Start();
    Type("ab");
    TakeScreen();
    gl_redisplay(gl_prompt, -1, gl_pos + 1);  // Ctrl-F at the end
    EXPECT_EQ(TakeScreen(), "");
    gl_show_completion_progress = 0;
    gl_redisplay(gl_prompt, -1, gl_pos + 1);
    EXPECT_EQ(TakeScreen(), "\a");
    gl_redisplay(gl_prompt, -1, 0);
    TakeScreen();
    gl_redisplay(gl_prompt, -1, -1);  // Ctrl-B at the start
    EXPECT_EQ(TakeScreen(), "\a");
    EXPECT_EQ(gl_pos, 0);
}

TEST_F(RedisplayTest, BackspaceInTheMiddleBlanksTheFreedColumn) {
    Start();
    Type("abcd");
    gl_redisplay(gl_prompt, -1, 2);
    TakeScreen();
    gl_del(-1, 0);
    EXPECT_EQ(Buf(), "acd");
    EXPECT_EQ(Visible(TakeScreen()), "<bs>cd <bs><bs><bs>");
}

TEST_F(RedisplayTest, WordKillAndYank) {
    Start();
    Type("foo bar  ");
    gl_kill_word(-1);
    EXPECT_EQ(Buf(), "foo ");
    EXPECT_STREQ(gl_killbuf, "bar ");
    gl_yank();
    EXPECT_EQ(Buf(), "foo bar ");
    EXPECT_EQ(gl_pos, 8);

    gl_redisplay(gl_prompt, -1, 0);
    gl_kill_word(1);  // forwards: the word and the blank after it
    EXPECT_EQ(Buf(), "bar ");
    EXPECT_STREQ(gl_killbuf, "foo");
}

TEST_F(RedisplayTest, KillsOver255CharactersAreRefused) {
    Start();
    Type(std::string(300, 'k'));
    TakeScreen();
    gl_kill(0);
    EXPECT_EQ(Buf(), std::string(300, 'k'));
    EXPECT_EQ(TakeScreen(), "\a");
    gl_kill(45);  // exactly 255
    EXPECT_EQ(Buf(), std::string(45, 'k'));
    EXPECT_EQ(std::string(gl_killbuf), std::string(255, 'k'));
}

// A prompt of 80 or more characters behaves as a short one: it is drawn
// once, and typing writes only the typed bytes.
TEST_F(RedisplayTest, LongPromptsAreNotRedrawnAtEveryKey) {
    gl_setwidth(250);
    for (size_t len : {10u, 79u, 80u, 120u}) {
        std::string prompt(len, 'p');
        Start(prompt.c_str());
        Type("abc");
        gl_redisplay(gl_prompt, -1, 0);
        EXPECT_EQ(Visible(TakeScreen()), "abc<bs><bs><bs>") << "prompt length " << len;
    }
    std::string huge(5000, 'h');
    Start(huge.c_str());
    Type("abc");
    EXPECT_EQ(Screen().find('\r'), std::string::npos);
    EXPECT_EQ(Buf(), "abc");
}

TEST_F(RedisplayTest, AcceptHookThatLengthensTheLineIsCut) {
    Start();
    Type("short");
    gl_accept_hook = [](char *buf) {
        std::memset(buf, 'x', GL_BUF_SIZE - 1);
        buf[GL_BUF_SIZE - 1] = '\0';
        return 0;
    };
    gl_newline();
    EXPECT_EQ(Buf(), std::string(2046, 'x') + "\n");
}

// Return brings a scrolled row back to the start of the line; the final
// cursor is gl_width - 5 at most, so a prompt that leaves fewer than 5
// columns asks for a cursor before the start, which rings the bell.
TEST_F(RedisplayTest, AcceptShowsTheStartOfTheLine) {
    Start();
    Type(std::string(100, 'a'));
    TakeScreen();
    gl_newline();
    EXPECT_EQ(gl_shift, 0);
    EXPECT_EQ(TakeScreen(),
              std::string(73, '\b') + std::string(76, 'a') + "$" + std::string(4, '\b') + "\n\r");
    EXPECT_EQ(Buf(), std::string(100, 'a') + "\n");

    std::string prompt(77, 'p');  // 3 columns for text
    Start(prompt.c_str());
    Type("ab");
    TakeScreen();
    gl_newline();
    EXPECT_EQ(Visible(TakeScreen()).find("<bel>"), 0u);
    EXPECT_EQ(Buf(), "ab\n");
}

TEST_F(RedisplayTest, FullLineRingsTheBellAndCanBeAccepted) {
    Start();
    Type(std::string(2047, 'f'));  // the last one does not fit
    EXPECT_EQ(Screen().back(), '\a');
    gl_newline();
    EXPECT_EQ(Buf(), std::string(2046, 'f') + "\n");
}

}  // namespace
