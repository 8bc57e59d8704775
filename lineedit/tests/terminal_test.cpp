// The terminal layer, run through a fake gl_io: no terminal is needed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "lineedit/internal.h"

namespace {

// What the fake terminal holds and what the layer did to it.
struct FakeTerminal {
    std::deque<int> input;  // bytes to read; -1 end of input, -2 EIO, -3 EINTR
    std::vector<std::string> writes;
    bool getattr_fails = false;
    struct termios current = {};
    std::vector<struct termios> applied;
    std::deque<int> select_results;  // 1 ready, 0 timeout, -1 EINTR, -2 EBADF
    std::vector<struct timeval> timeouts;
};
FakeTerminal *fake = nullptr;

ssize_t fake_read(int, void *buf, size_t) {
    if (fake->input.empty()) return 0;
    int c = fake->input.front();
    fake->input.pop_front();
    if (c == -1) return 0;
    if (c == -2 || c == -3) {
        errno = c == -2 ? EIO : EINTR;
        return -1;
    }
    *static_cast<unsigned char *>(buf) = static_cast<unsigned char>(c);
    return 1;
}

ssize_t fake_write(int fd, const void *buf, size_t n) {
    if (fd == 2) return ::write(2, buf, n);
    fake->writes.emplace_back(static_cast<const char *>(buf), n);
    return static_cast<ssize_t>(n);
}

int fake_isatty(int) {
    return 1;
}

int fake_tcgetattr(int, struct termios *t) {
    if (fake->getattr_fails) {
        errno = ENOTTY;
        return -1;
    }
    *t = fake->current;
    return 0;
}

int fake_tcsetattr(int, int when, const struct termios *t) {
    EXPECT_EQ(when, TCSANOW);
    fake->current = *t;
    fake->applied.push_back(*t);
    return 0;
}

int fake_select(int n, fd_set *r, fd_set *w, fd_set *e, struct timeval *tv) {
    EXPECT_EQ(n, 1);
    EXPECT_TRUE(FD_ISSET(0, r));
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(e, nullptr);
    fake->timeouts.push_back(*tv);
    int res = fake->select_results.empty() ? 0 : fake->select_results.front();
    if (!fake->select_results.empty()) fake->select_results.pop_front();
    if (res == -1) errno = EINTR;
    if (res == -2) {
        errno = EBADF;
        return -1;
    }
    return res;
}

// A cooked terminal as a login shell leaves it.
struct termios cooked() {
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

bool same(const struct termios &a, const struct termios &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class TerminalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_io_ = gl_io;
        fake = &term_;
        term_.current = cooked();
        gl_io = {fake_read,      fake_write,  fake_isatty,   fake_tcgetattr,
                 fake_tcsetattr, fake_select, saved_io_.exit, nullptr};
        unsetenv("COLUMNS");
        unsetenv("ROWS");
        FreshProcess();
    }
    void TearDown() override {
        gl_cleanup();
        gl_io = saved_io_;
        fake = nullptr;
        unsetenv("COLUMNS");
        unsetenv("ROWS");
    }
    // The editor state as a new process has it.
    static void FreshProcess() {
        gl_init_state = -1;
        gl_termw = 80;
        gl_termh = 24;
        gl_scroll = 27;
        gl_intrc = gl_quitc = gl_suspc = gl_dsuspc = 0;
        gl_saved_termios = {};
        gl_raw_termios = {};
    }
    FakeTerminal term_;
    gl_io_ops saved_io_{};
};

// ---- screen size from the environment ---------------------------------------

struct SizeCase {
    const char *columns, *rows;
    int width, height, scroll;
};

class ScreenSizeTest : public TerminalTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ScreenSizeTest, FirstInitReadsColumnsAndRows) {
    const SizeCase &c = GetParam();
    if (c.columns) setenv("COLUMNS", c.columns, 1);
    if (c.rows) setenv("ROWS", c.rows, 1);
    gl_init();
    EXPECT_EQ(gl_termw, c.width);
    EXPECT_EQ(gl_termh, c.height);
    EXPECT_EQ(gl_scroll, c.scroll);
}

INSTANTIATE_TEST_SUITE_P(
    Env, ScreenSizeTest,
    ::testing::Values(SizeCase{nullptr, nullptr, 80, 24, 27}, SizeCase{"20", nullptr, 80, 24, 27},
                      SizeCase{"21", nullptr, 21, 24, 1}, SizeCase{"1000", nullptr, 250, 24, 1},
                      SizeCase{"wide", nullptr, 80, 24, 27}, SizeCase{nullptr, "10", 80, 24, 27},
                      SizeCase{nullptr, "11", 80, 11, 27}, SizeCase{"132", "50", 132, 50, 1}));

// The first-time step runs once per process, and not at all once a
// gl_cleanup came before the first gl_init.
TEST_F(TerminalTest, EnvironmentIsReadOnlyOnce) {
    gl_init();
    gl_cleanup();
    setenv("COLUMNS", "100", 1);
    setenv("ROWS", "40", 1);
    gl_init();
    EXPECT_EQ(gl_termw, 80);
    EXPECT_EQ(gl_termh, 24);

    FreshProcess();
    gl_cleanup();
    EXPECT_EQ(gl_init_state, 0);
    gl_init();
    EXPECT_EQ(gl_termw, 80);
}

using TerminalDeathTest = TerminalTest;

TEST_F(TerminalDeathTest, ScreenSizeLimits) {
    gl_setheight(10);
    EXPECT_EQ(gl_termh, 10);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(gl_setwidth(20), ::testing::ExitedWithCode(1),
                "^\n\\*\\*\\* Error: minimum screen width is 21\n$");
    EXPECT_EXIT(gl_setheight(9), ::testing::ExitedWithCode(1),
                "^\n\\*\\*\\* Error: minimum screen height is 10\n$");
}

// ---- output ---------------------------------------------------------------------

TEST_F(TerminalTest, OutputIsOneWritePerCallAndLineFeedAddsReturn) {
    gl_putc('\n');
    gl_putc('a' | 0x100);  // only the low byte counts
    gl_puts("two\nlines");
    gl_puts(nullptr);
    gl_beep();
    std::vector<std::string> want = {"\n", "\r", "a", "two\nlines", "\a"};
    EXPECT_EQ(term_.writes, want);
}

// ---- input ----------------------------------------------------------------------

TEST_F(TerminalTest, GetcReportsBytesEndOfInputAndErrors) {
    term_.input = {'x', -3, 'y', 0, 0xFF, 0x80, -1, -2, 'z'};
    EXPECT_EQ(gl_getc(), 'x');
    EXPECT_EQ(gl_getc(), 'y');  // interrupted read repeated
    EXPECT_EQ(gl_getc(), 0);    // a typed NUL
    EXPECT_EQ(gl_eof, 0);
    EXPECT_EQ(gl_getc(), -1);  // byte 0xFF
    EXPECT_EQ(gl_eof, 0);
    EXPECT_EQ(gl_getc(), -128);
    EXPECT_EQ(gl_getc(), 0);  // end of input
    EXPECT_EQ(gl_eof, 1);
    EXPECT_EQ(gl_getc(), -1);  // read error
    EXPECT_EQ(gl_eof, 0);
    EXPECT_EQ(gl_getc(), 'z');
}

TEST_F(TerminalTest, TimedGetc) {
    // A timeout, a wait interrupted once, a failed wait, then a ready
    // descriptor that gives end of input and one that gives an error.
    term_.select_results = {0, -1, 1, -2, 1, 1};
    term_.input = {0xE9, -1, -2};
    errno = 0;
    EXPECT_EQ(gl_getc_timed(3), -2);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(gl_getc_timed(25), static_cast<signed char>(0xE9));
    EXPECT_EQ(errno, 0);
    ASSERT_EQ(term_.timeouts.size(), 3u);
    const long want[3][2] = {{0, 300000}, {2, 500000}, {2, 500000}};  // restarted in full
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(term_.timeouts[i].tv_sec, want[i][0]);
        EXPECT_EQ(term_.timeouts[i].tv_usec, want[i][1]);
    }
    EXPECT_EQ(gl_getc_timed(3), -1);
    EXPECT_EQ(gl_getc_timed(3), -1);
    EXPECT_EQ(gl_eof, 1);
    EXPECT_EQ(gl_getc_timed(3), -1);
}

// ---- raw mode -------------------------------------------------------------------

TEST_F(TerminalTest, RawModeChangesExactlyTheListedFlags) {
    const struct termios found = cooked();
    gl_init();
    EXPECT_EQ(gl_init_state, 1);
    ASSERT_EQ(term_.applied.size(), 1u);
    struct termios want = found;
    want.c_iflag = ICRNL | IMAXBEL | INPCK | IGNBRK | IGNPAR;
    want.c_lflag = ECHOE | ECHOK;
    want.c_cc[VMIN] = 1;
    want.c_cc[VTIME] = 0;
    EXPECT_TRUE(same(term_.applied[0], want));
    EXPECT_TRUE(same(gl_saved_termios, found));
    EXPECT_EQ(gl_intrc, 3);
    EXPECT_EQ(gl_quitc, 28);
    EXPECT_EQ(gl_suspc, 26);
    EXPECT_EQ(gl_dsuspc, 0);

    gl_cleanup();
    EXPECT_EQ(gl_init_state, 0);
    ASSERT_EQ(term_.applied.size(), 2u);
    EXPECT_TRUE(same(term_.applied[1], found));
}

TEST_F(TerminalTest, FailedGetattrKeepsSignalCharsAndBuildsFromSaved) {
    gl_intrc = 9;
    term_.getattr_fails = true;
    gl_init();
    EXPECT_EQ(gl_intrc, 9);
    ASSERT_EQ(term_.applied.size(), 1u);
    EXPECT_EQ(term_.applied[0].c_lflag, 0u);
    EXPECT_EQ(term_.applied[0].c_iflag, static_cast<tcflag_t>(IGNBRK | IGNPAR));
    EXPECT_EQ(term_.applied[0].c_cc[VMIN], 1);
}

TEST_F(TerminalTest, CleanupTwiceOrBeforeInitLeavesTerminalAlone) {
    gl_cleanup();
    gl_cleanup();
    EXPECT_TRUE(term_.applied.empty());
    gl_init();
    gl_cleanup();
    gl_cleanup();
    EXPECT_EQ(term_.applied.size(), 2u);
}

TEST_F(TerminalTest, EnteringWhileStillRawKeepsFirstSavedSettings) {
    const struct termios found = cooked();
    gl_init();  // as gl_getline returning raw after a signal character
    gl_init();  // the next editor entry
    EXPECT_TRUE(same(gl_saved_termios, found));
    EXPECT_EQ(gl_intrc, 3);
    gl_cleanup();
    EXPECT_TRUE(same(term_.current, found));

    // Settings changed between entries are taken afresh.
    term_.current.c_cc[VINTR] = 7;
    gl_init();
    EXPECT_EQ(gl_intrc, 7);
    gl_cleanup();
    EXPECT_EQ(term_.current.c_cc[VINTR], 7);
    EXPECT_NE(term_.current.c_lflag & ICANON, 0u);
}

// ---- fatal errors -------------------------------------------------------------
// (Standard input or output not a terminal: see the end-to-end tests.)

// Reports how the terminal was left, then ends the process.
void report_and_exit(int status) {
    const char *how = same(fake->current, cooked()) ? "restored" : "raw";
    ::write(2, how, std::strlen(how));
    _exit(status);
}

TEST_F(TerminalDeathTest, ErrorInRawModeRestoresTerminal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    gl_io.exit = report_and_exit;
    EXPECT_EXIT(
        {
            gl_init();
            gl_error("boom\n");
        },
        ::testing::ExitedWithCode(1), "^boom\nrestored$");
}

}  // namespace
