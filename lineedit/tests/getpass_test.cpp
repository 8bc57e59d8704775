// Masked entry through a fake gl_io: end of input and buffer handling.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lineedit/internal.h"

namespace {

std::string typed;  // bytes still to read; exhausted means end of input
size_t next_byte = 0;
std::string screen;
int restores = 0;
struct termios current = {};

ssize_t pass_read(int, void *buf, size_t) {
    if (next_byte >= typed.size()) return 0;
    *static_cast<char *>(buf) = typed[next_byte++];
    return 1;
}
ssize_t pass_write(int, const void *buf, size_t n) {
    screen.append(static_cast<const char *>(buf), n);
    return static_cast<ssize_t>(n);
}
int pass_isatty(int) {
    return 1;
}
int pass_tcgetattr(int, struct termios *t) {
    *t = current;
    return 0;
}
int pass_tcsetattr(int, int, const struct termios *t) {
    current = *t;
    restores += (t->c_lflag & ICANON) != 0;
    return 0;
}

class GetpassTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = gl_io;
        gl_io.read = pass_read;
        gl_io.write = pass_write;
        gl_io.isatty = pass_isatty;
        gl_io.tcgetattr = pass_tcgetattr;
        gl_io.tcsetattr = pass_tcsetattr;
        current = {};
        current.c_lflag = ICANON | ECHO | ISIG;
        screen.clear();
        restores = 0;
        next_byte = 0;
    }
    void TearDown() override {
        gl_cleanup();
        gl_io = saved_;
    }
    std::string Enter(const std::string &keys, int size = 16, const char *prompt = "pw: ") {
        typed = keys;
        next_byte = 0;
        std::memset(buf_, 'X', sizeof buf_);
        return gl_getpass(prompt, buf_, size);
    }
    char buf_[32];
    gl_io_ops saved_{};
};

TEST_F(GetpassTest, EndOfInputEndsEntryAndRestoresTerminal) {
    EXPECT_EQ(Enter("abc"), "abc");
    EXPECT_EQ(screen, "pw: ***\n\r");
    EXPECT_EQ(restores, 1);
    EXPECT_EQ(current.c_lflag, static_cast<tcflag_t>(ICANON | ECHO | ISIG));
    EXPECT_EQ(gl_init_state, 0);
}

TEST_F(GetpassTest, TypedNulIsStoredAndEchoed) {
    Enter(std::string("a\0b\r", 4));
    EXPECT_EQ(std::memcmp(buf_, "a\0b\0", 4), 0);
    EXPECT_EQ(screen, "pw: ***\n\r");
}

TEST_F(GetpassTest, OnlyFirstFourBytesClearedAndTerminatorAfterText) {
    Enter("ab\x7f\r");
    EXPECT_EQ(std::memcmp(buf_, "a\0\0\0XX", 6), 0);
    Enter("abcdef\x7f\x7f\x7f\r");
    EXPECT_EQ(std::memcmp(buf_, "abc\0\0\0XX", 8), 0);
}

TEST_F(GetpassTest, FullBufferDropsBytesSilentlyAndNullPromptPrintsNothing) {
    EXPECT_EQ(Enter("abcdefg\x08x\r", 5, nullptr), "abcx");
    EXPECT_EQ(screen, "****\b \b*\n\r");
    EXPECT_EQ(buf_[5], 'X');
    EXPECT_EQ(Enter("\r", 5, ""), "");
}

TEST_F(GetpassTest, BufferTooSmallIsNotTouched) {
    typed = "abc\r";
    next_byte = 0;
    char tiny[2] = {'X', 'X'};
    EXPECT_EQ(gl_getpass("pw: ", tiny, 0), tiny);
    EXPECT_EQ(tiny[0], 'X');
    EXPECT_EQ(gl_getpass("pw: ", tiny, 1), tiny);
    EXPECT_EQ(tiny[0], '\0');
    EXPECT_EQ(tiny[1], 'X');
}

}  // namespace
