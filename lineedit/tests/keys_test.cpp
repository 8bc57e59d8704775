// gl_getline driven key by key: the control keys, Escape sequences, vi
// commands, search keys, hooks and the ways out.
#include <csignal>
#include <cstring>
#include <string>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

using editor_test::EditorTest;
using editor_test::Visible;

using KeysTest = EditorTest;

TEST_F(KeysTest, ReturnAndCtrlD) {
    keyboard_.keys = "a\r";
    EXPECT_STREQ(gl_getline(nullptr), "a\n");  // no prompt: the empty one
    EXPECT_EQ(Visible(Screen()), "<cr>a<lf><cr>");
    EXPECT_EQ(Line("\x04"), "<null>");
    EXPECT_EQ(gl_last_result(), -1);
    EXPECT_EQ(Visible(Screen()), "<cr>> <lf><cr>");
    EXPECT_EQ(Line("abc\x01\x04\r"), "bc\n");
}

TEST_F(KeysTest, EmacsMovesAndEdits) {
    struct {
        const char *keys, *line;
    } cases[] = {
        {"abc\x02\x02X\r", "aXbc\n"},              // Ctrl-B
        {"abc\x01X\x05Y\r", "XabcY\n"},            // Ctrl-A, Ctrl-E
        {"abc\x01\x06X\r", "aXbc\n"},              // Ctrl-F
        {"abcd\x02\x02\x0b\r", "ab\n"},            // Ctrl-K
        {"abcd\x02\x02\x0b\x01\x19\r", "cdab\n"},  // Ctrl-Y yanks the kill
        {"ab cd\x17\r", "ab \n"},                  // Ctrl-W
        {"abcd\x15xy\r", "xy\n"},                  // Ctrl-U
        {"ab\x08\x7f"
         "c\r",
         "c\n"},                              // Backspace, Delete
        {"ab\x14\r", "ab\n"},                 // Ctrl-T at the end: bell only
        {"abc\x02\x14X\r", "acXb\n"},         // Ctrl-T keeps the cursor
        {"abc\x01\x0fXYZW\x0f\r", "XYZW\n"},  // overwrite, appending at the end
        {"ab\x1b[01DX\r", "aXb\n"},           // "0" and "1" are skipped
        {"ab\x1b[3~\r", "ab~\n"},             // "3" ends it; "~" is text
        {"one two\x1b"
         "b\x1b"
         "bX\x1b"
         "fY\r",
         "Xone Ytwo\n"},  // Escape b, f
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Line(c.keys), c.line) << Visible(c.keys);
        gl_overwrite = 0;
    }
}

TEST_F(KeysTest, UnboundKeysRingTheBell) {
    EXPECT_EQ(Line("a\x18\x07"
                   "b\r"),
              "ab\n");
    EXPECT_EQ(Visible(Screen()), "<cr>> a<bel><bel>b<lf><cr>");
}

TEST_F(KeysTest, HistoryKeysCallTheLoadHook) {
    gl_add_history("from history");
    gl_load_hook = [](char *buf) {
        if (buf[0] == '\0') std::strcpy(buf, "preset");
        return 0;
    };
    EXPECT_EQ(Line("\r"), "preset\n");
    EXPECT_EQ(Line("\x10!\r"), "from history!\n");
}

TEST_F(KeysTest, EscapeInEmacsModeEntersViCommandsOnlyWithText) {
    EXPECT_EQ(Line("\x1bxab\r"), "ab\n");        // empty line: the x is dropped
    EXPECT_EQ(Line("abc\x1bhhiX\r"), "Xabc\n");  // h, h, then insert
}

TEST_F(KeysTest, ViCommands) {
    gl_vi_mode = 1;
    gl_add_history("first");
    gl_add_history("second");
    struct {
        const char *keys, *line;
    } cases[] = {
        {"one two three\x1b^dw\r", "two three\n"},
        {"one two three\x1b^2dw\r", "three\n"},
        {"abc\x1b"
         "ddxy\r",
         "xy\n"},
        {"abcdef\x1b^3liX\r", "abcXdef\n"},
        {"abc\x1bxx\r", "abc\n"},  // x is no command
        {"one two\x1b^wiX\r", "one Xtwo\n"},
        {"one two\x1b"
         "bbaX\r",
         "oXne two\n"},
        {"abc\x1b^d$AX\r", "X\n"},
        {"abcd\x1b^ld^\r", "bcd\n"},  // d^ keeps the kill buffer
        {"abc\x1b^rZ\r", "Zbc\n"},
        {"ab\x1blrZ\r", "ab\n"},  // r at the end: bell only
        {"abc\x1b^dlp\r", "bac\n"},
        {"abc\x1b^RXY\r", "XYc\n"},
        {"ab\x1b"
         "f\x1bX\r",
         "ab\n"},                           // f is nothing, Escape rings
        {"abc\x1b^5\x1b[CiX\r", "aXbc\n"},  // digits wait for a command
        {"abcdefgh\x1b^99999999999999999999999999999999999lix\r", "abcdefghx\n"},
        // The 3 after d (count 2 kept) is taken twice: 33 words.
        {"a b c d e f g\x1b^2d3wiX\r", "a b c d e f gX\n"},
        {"\x1bkkj\r", "second\n"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Line(c.keys), c.line) << Visible(c.keys);
        gl_overwrite = 0;
    }
}

TEST_F(KeysTest, SearchKeys) {
    gl_add_history("make all");
    gl_add_history("caf\xe9 au lait");
    gl_add_history("ls -l");
    // A byte with bit 7 set is search text, not a Backspace.
    EXPECT_EQ(Line("\x12\xe9\r"), "caf\xe9 au lait\n");
    EXPECT_EQ(gl_search_active, 0);
    // Escape ends the search and changes nothing else.
    EXPECT_EQ(Line("\x12"
                   "ak\x1bX\r"),
              "mXake all\n");
    // Backspace shortens the text: "l" finds "ls -l" again.
    EXPECT_EQ(Line("\x12"
                   "l\x08\x7fl\x01\x0b"
                   "done\r"),
              "done\n");
    // Other keys end the search and then act: Ctrl-A moves in the found line.
    EXPECT_EQ(Line("\x12-l\x01#\r"), "#ls -l\n");
}

TEST_F(KeysTest, TabWithoutCompleterInsertsSpacesToTheNextStop) {
    EXPECT_EQ(Line("\tx\r"), "      x\n");
    EXPECT_EQ(Line("abcdef\t|\r", ""), "abcdef  |\n");
    char buf[16] = "ab";
    int loc = 1;
    EXPECT_EQ(gl_tab_spaces(buf, 0, &loc, sizeof buf), 1);
    EXPECT_STREQ(buf, "a       b");
    EXPECT_EQ(loc, 8);
    // Spaces that do not fit are refused with the bell: no typed text is lost.
    char tight[8] = "abc";
    loc = 1;
    EXPECT_EQ(gl_tab_spaces(tight, 0, &loc, sizeof tight), -1);
    EXPECT_EQ(std::string(tight, 4), std::string("abc\0", 4));
    EXPECT_EQ(loc, 1);
}

TEST_F(KeysTest, TabHandlerHook) {
    gl_tab_handler = [](char *buf, int, int *loc, size_t) {
        std::strcat(buf, "!");
        *loc = static_cast<int>(std::strlen(buf));
        return 0;
    };
    EXPECT_EQ(Line("hi\t\r"), "hi!\n");
    gl_tab_handler = nullptr;
    EXPECT_EQ(Line("hi\t\r"), "hi\n");
}

int interrupts = 0;

TEST_F(KeysTest, InterruptCharacterRaisesTheSignalAndReturnsEmpty) {
    struct sigaction action {
    }, old{};
    action.sa_handler = [](int) { ++interrupts; };
    sigaction(SIGINT, &action, &old);
    interrupts = 0;
    EXPECT_EQ(Line("abc\x03"), "");
    EXPECT_EQ(gl_last_result(), -2);
    EXPECT_EQ(interrupts, 1);
    EXPECT_EQ(gl_init_state, 1);  // raw again until the next call or gl_cleanup
    EXPECT_EQ(Visible(Screen()), "<cr>> abc<lf><cr><cr>> ");
    sigaction(SIGINT, &old, nullptr);
}

TEST_F(KeysTest, BoundKeysAreNeverSignalCharacters) {
    keyboard_.tty.c_cc[VINTR] = 127;
    EXPECT_EQ(Line("ab\x7f\r"), "a\n");
}

}  // namespace
