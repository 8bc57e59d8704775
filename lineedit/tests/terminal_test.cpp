// The terminal layer: the screen size, reads and waits that fail, raw mode
// and its undoing.
#include "lineedit/tests/keys_fake_terminal.h"

namespace {

// A cooked terminal as a login shell leaves it, and what raw mode makes of it.
// clang-format off
const struct termios kCooked = {ICRNL | BRKINT | ISTRIP | IXON | IXOFF | IMAXBEL | INPCK, OPOST | ONLCR,
    CS8 | CREAD | HUPCL, ECHO | ECHOE | ECHOK | ICANON | ISIG | IEXTEN, 0, {3, 28, 0, 0, 0, 7, 4, 0, 0, 0, 26}, 0, 0};
const struct termios kRaw = {ICRNL | IMAXBEL | INPCK | IGNBRK | IGNPAR, OPOST | ONLCR,
    CS8 | CREAD | HUPCL, ECHOE | ECHOK, 0, {3, 28, 0, 0, 0, 0, 1, 0, 0, 0, 26}, 0, 0};
// clang-format on

bool Is(const struct termios &want) {
    const struct termios &t = editor_test::keyboard->tty;
    return t.c_iflag == want.c_iflag && t.c_oflag == want.c_oflag && t.c_cflag == want.c_cflag &&
           t.c_lflag == want.c_lflag && std::memcmp(t.c_cc, want.c_cc, NCCS) == 0;
}

class TerminalTest : public editor_test::EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        keyboard_.tty = kCooked;
        gl_init_state = -1;  // as in a new process
    }
};

TEST_F(TerminalTest, ReadsAndWaits) {
    // 'x', an interrupted read, 'y', a typed NUL, 0xFF, 0x80, end of input, EIO, 'z'
    keyboard_.keys = std::string("xy\0\xff\x80z", 6);
    keyboard_.fails = {{1, EINTR}, {5, 0}, {5, EIO}};
    for (int want : {120, 121, 0, -1, -128, 0, -1, 122}) {
        EXPECT_EQ(gl_getc(), want);
        EXPECT_EQ(gl_eof, keyboard_.next == 5 && want == 0);  // only at end of input
    }
    // A timeout, then a wait interrupted once is restarted in full.
    keyboard_.keys = "\xe9", keyboard_.next = 0;
    keyboard_.waits = {0, -1, 1};
    EXPECT_EQ(gl_getc_timed(3), -2);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(gl_getc_timed(25), -23);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(keyboard_.timeouts[i].tv_sec * 1000000 + keyboard_.timeouts[i].tv_usec,
                  i ? 2500000 : 300000);
}

TEST_F(TerminalTest, RawModeChangesExactlyTheListedFlagsAndIsUndoneOnce) {
    gl_cleanup();  // before any init: the terminal is left alone
    gl_init();
    EXPECT_TRUE(Is(kRaw));
    gl_init();  // still raw, as after a signal character: the first saved settings stay
    EXPECT_EQ(std::vector<int>({gl_intrc, gl_quitc, gl_suspc, gl_dsuspc}),
              std::vector<int>({3, 28, 26, 0}));
    gl_cleanup();
    gl_cleanup();
    EXPECT_EQ(keyboard_.sets, 3);
    EXPECT_TRUE(Is(kCooked));
    keyboard_.tty.c_cc[VINTR] = 7;  // changed between entries: taken afresh
    gl_init();
    gl_cleanup();
    EXPECT_EQ(keyboard_.tty.c_cc[VINTR], 7);
    keyboard_.getattr_fails = true;  // signal characters kept, raw built from the saved
    gl_init();
    EXPECT_EQ(gl_intrc, 7);
    EXPECT_EQ(keyboard_.tty.c_lflag, kRaw.c_lflag);
}

TEST_F(TerminalTest, FatalErrorsRestoreTheTerminal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    gl_setheight(10);
    EXPECT_EQ(gl_termh, 10);
    EXPECT_EXIT(gl_setwidth(20), testing::ExitedWithCode(1),
                "^\n\\*\\*\\* Error: minimum screen width is 21\n$");
    gl_io.exit = [](int status) {  // reports how the terminal was left
        std::fputs(Is(kCooked) ? "restored" : "raw", stderr);
        _exit(status);
    };
    EXPECT_EXIT((gl_init(), gl_error("boom\n")), testing::ExitedWithCode(1), "^boom\nrestored$");
}

}  // namespace
