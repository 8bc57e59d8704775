// The terminal layer: reads and waits that fail, raw mode and its undoing.
#include "lineedit/tests/keys_fake_terminal.h"

namespace {

// A cooked terminal as a login shell leaves it.
struct termios Cooked() {
    struct termios t = {};
    t.c_iflag = ICRNL | BRKINT | ISTRIP | IXON | IXOFF | IMAXBEL | INPCK;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS8 | CREAD | HUPCL;
    t.c_lflag = ECHO | ECHOE | ECHOK | ICANON | ISIG | IEXTEN;
    t.c_cc[VINTR] = 3;
    t.c_cc[VQUIT] = 28;
    t.c_cc[VSUSP] = 26;
    t.c_cc[VMIN] = 4;
    t.c_cc[VTIME] = 7;
    return t;
}

bool IsCooked() {
    struct termios want = Cooked();
    return std::memcmp(&editor_test::keyboard->tty, &want, sizeof want) == 0;
}

class TerminalTest : public editor_test::EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        keyboard_.tty = Cooked();
        unsetenv("ROWS");
        gl_init_state = -1;  // as in a new process
    }
};

TEST_F(TerminalTest, FirstInitReadsColumnsAndRowsOnce) {
    struct {
        const char *columns, *rows;
        int width, height, scroll;
    } cases[] = {{"20", "10", 80, 24, 27},
                 {"21", "11", 21, 11, 1},
                 {"1000", nullptr, 250, 24, 1},
                 {"wide", nullptr, 80, 24, 27},
                 {"132", "50", 132, 50, 1}};
    for (const auto &c : cases) {
        gl_init_state = -1;
        gl_termw = 80, gl_termh = 24, gl_scroll = 27;
        setenv("COLUMNS", c.columns, 1);
        c.rows ? setenv("ROWS", c.rows, 1) : unsetenv("ROWS");
        gl_init();
        gl_cleanup();
        setenv("COLUMNS", "100", 1);  // not read again
        gl_init();
        EXPECT_EQ(std::vector<int>({gl_termw, gl_termh, gl_scroll}),
                  std::vector<int>({c.width, c.height, c.scroll}));
        gl_cleanup();
    }
    gl_init_state = -1;
    gl_cleanup();  // a cleanup first means no first-time step
    gl_init();
    EXPECT_EQ(gl_termw, 132);
    unsetenv("COLUMNS");
}

TEST_F(TerminalTest, ReadsAndWaits) {
    keyboard_.keys = std::string("xy\0\xff\x80z", 6);
    keyboard_.fails = {{1, EINTR}, {5, 0}, {5, EIO}};
    // 'x', an interrupted read, 'y', a typed NUL, 0xFF, 0x80, end of input, EIO, 'z'
    for (int want : {120, 121, 0, -1, -128, 0, -1, 122}) {
        EXPECT_EQ(gl_getc(), want);
        EXPECT_EQ(gl_eof, keyboard_.next == 5 && want == 0);  // only at end of input
    }
    // A timeout, a wait interrupted once (restarted in full), a failed
    // wait, then ready descriptors giving end of input and an error.
    keyboard_.keys = "\xe9";
    keyboard_.next = 0;
    keyboard_.fails = {{1, 0}, {1, EIO}};
    keyboard_.waits = {0, -1, 1, -2, 1, 1};
    EXPECT_EQ(gl_getc_timed(3), -2);
    EXPECT_EQ(errno, ETIMEDOUT);
    errno = 0;
    EXPECT_EQ(gl_getc_timed(25), -23);
    EXPECT_EQ(errno, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(keyboard_.timeouts.at(i).tv_sec, i ? 2 : 0);
        EXPECT_EQ(keyboard_.timeouts.at(i).tv_usec, i ? 500000 : 300000);
    }
    EXPECT_EQ(gl_getc_timed(3), -1);
    EXPECT_EQ(gl_getc_timed(3), -1);
    EXPECT_EQ(gl_eof, 1);
    EXPECT_EQ(gl_getc_timed(3), -1);
}

TEST_F(TerminalTest, RawModeChangesExactlyTheListedFlagsAndIsUndoneOnce) {
    gl_cleanup();  // before any init: the terminal is left alone
    gl_init();
    struct termios raw = Cooked();
    raw.c_iflag = ICRNL | IMAXBEL | INPCK | IGNBRK | IGNPAR;
    raw.c_lflag = ECHOE | ECHOK;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    EXPECT_EQ(std::memcmp(&keyboard_.tty, &raw, sizeof raw), 0);
    gl_init();  // still raw, as after a signal character: the first saved settings stay
    EXPECT_EQ(std::vector<int>({gl_intrc, gl_quitc, gl_suspc, gl_dsuspc}),
              std::vector<int>({3, 28, 26, 0}));
    gl_cleanup();
    gl_cleanup();
    EXPECT_EQ(keyboard_.sets, 3);
    EXPECT_TRUE(IsCooked());

    keyboard_.tty.c_cc[VINTR] = 7;  // changed between entries: taken afresh
    gl_init();
    EXPECT_EQ(gl_intrc, 7);
    gl_cleanup();
    EXPECT_EQ(keyboard_.tty.c_cc[VINTR], 7);
    keyboard_.getattr_fails = true;  // signal characters kept, raw built from the saved
    gl_init();
    EXPECT_EQ(gl_intrc, 7);
    EXPECT_EQ(keyboard_.tty.c_lflag, raw.c_lflag);
}

TEST_F(TerminalTest, FatalErrorsRestoreTheTerminal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    gl_setheight(10);
    EXPECT_EQ(gl_termh, 10);
    EXPECT_EXIT(gl_setwidth(20), testing::ExitedWithCode(1),
                "^\n\\*\\*\\* Error: minimum screen width is 21\n$");
    EXPECT_EXIT(gl_setheight(9), testing::ExitedWithCode(1),
                "^\n\\*\\*\\* Error: minimum screen height is 10\n$");
    gl_io.exit = [](int status) {  // reports how the terminal was left
        std::fputs(IsCooked() ? "restored" : "raw", stderr);
        _exit(status);
    };
    EXPECT_EXIT((gl_init(), gl_error("boom\n")), testing::ExitedWithCode(1), "^boom\nrestored$");
}

}  // namespace
