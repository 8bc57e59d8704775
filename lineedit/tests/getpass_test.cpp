// Masked entry on the fake terminal: end of input and buffer handling.
#include <cstring>
#include <string>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

using GetpassTest = editor_test::EditorTest;
using namespace std::string_literals;

TEST_F(GetpassTest, StoresEchoesAndLeavesTheRestOfTheBuffer) {
    const struct termios found = keyboard_.tty;
    struct {
        std::string keys;
        int size;
        const char *prompt;
        std::string buf;  // the buffer's first bytes afterwards ('X' untouched)
        std::string screen;
    } cases[] = {
        // End of input ends the entry like Return.
        {"abc", 16, "pw: ", "abc\0XXX"s, "pw: ***\n\r"},
        // A typed NUL is an ordinary byte.
        {"a\0b\r"s, 16, "pw: ", "a\0b\0XXX"s, "pw: ***\n\r"},
        // Only the first four bytes are cleared.
        {"ab\x7f\r", 16, "pw: ", "a\0\0\0XX"s, "pw: **\b \b\n\r"},
        {"abcdef\x7f\x7f\x7f\r", 16, "pw: ", "abc\0\0\0XX"s, "pw: ******\b \b\b \b\b \b\n\r"},
        // A full buffer drops bytes silently; a null or empty prompt prints nothing.
        {"abcdefg\x08x\r", 5, nullptr, "abcx\0X"s, "****\b \b*\n\r"},
        {"\r", 5, "", "\0\0\0\0X"s, "\n\r"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.keys);
        keyboard_.keys = c.keys;
        keyboard_.next = 0;
        char buf[32];
        std::memset(buf, 'X', sizeof buf);
        EXPECT_EQ(gl_getpass(c.prompt, buf, c.size), buf);
        EXPECT_EQ(std::string(buf, c.buf.size()), c.buf);
        EXPECT_EQ(TakeScreen(), c.screen);
        EXPECT_EQ(std::memcmp(&keyboard_.tty, &found, sizeof found), 0);
        EXPECT_EQ(gl_init_state, 0);
    }
}

TEST_F(GetpassTest, BufferTooSmallIsNotOverrun) {
    keyboard_.keys = "abc\r";
    char tiny[2] = {'X', 'X'};
    EXPECT_EQ(gl_getpass("pw: ", tiny, 0), tiny);
    EXPECT_EQ(tiny[0], 'X');
    EXPECT_EQ(gl_getpass("pw: ", tiny, 1), tiny);
    EXPECT_EQ(tiny[0], '\0');
    EXPECT_EQ(tiny[1], 'X');
}

}  // namespace
