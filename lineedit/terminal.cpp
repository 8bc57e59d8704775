// Raw mode, byte I/O, window size and resizes, screen settings and fatal
// errors.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lineedit/internal.h"

namespace {

[[noreturn]] void real_exit(int status) {
    std::exit(status);
}

int real_winsize(int fd, int *cols, int *rows) {
    struct winsize ws {};
    if (ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0) return -1;
    *cols = ws.ws_col;
    *rows = ws.ws_row;
    return 0;
}

}  // namespace

struct gl_io_ops gl_io = {
    ::read, ::write, ::isatty, ::tcgetattr, ::tcsetattr, ::select, real_exit, real_winsize,
};

int gl_init_state = -1;
int gl_eof = 0;
int gl_termw = 80;
int gl_termh = 24;
int gl_scroll = 27;
int gl_vi_mode = -1;
signed char gl_intrc = 0, gl_quitc = 0, gl_suspc = 0, gl_dsuspc = 0;
struct termios gl_saved_termios = {};
struct termios gl_raw_termios = {};

namespace {

// Set once raw mode has been applied, so that a later entry can tell the
// terminal is still in the mode we left it in.
bool raw_applied = false;

bool same_mode(const struct termios &a, const struct termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// The terminal is raw because we made it so and nobody restored it since
// (for example after gl_getline returned for a signal character).  Its
// current settings must then not replace the ones to restore.
bool still_raw(const struct termios &now) {
    return raw_applied && (gl_init_state > 0 || same_mode(now, gl_raw_termios));
}

void copy_signal_chars(const struct termios &t) {
    gl_intrc = static_cast<signed char>(t.c_cc[VINTR]);
    gl_quitc = static_cast<signed char>(t.c_cc[VQUIT]);
    gl_suspc = static_cast<signed char>(t.c_cc[VSUSP]);
#ifdef VDSUSP
    gl_dsuspc = static_cast<signed char>(t.c_cc[VDSUSP]);
#endif
}

struct termios raw_from(const struct termios &saved) {
    struct termios t = saved;
    t.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ISTRIP | IXON | IXOFF);
    t.c_iflag |= IGNBRK | IGNPAR;
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG | IEXTEN);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return t;
}

// Bracketed paste: whether the program wants it, and whether the terminal
// was asked for it and not yet told to stop.
bool paste_wanted = false;
bool paste_marks = false;

// Set by gl_setwidth and gl_setheight: the window's own size then does
// not replace the program's.
bool width_fixed = false;
bool height_fixed = false;

void write_all_once(int fd, const void *p, size_t n) {
    if (gl_io.write(fd, p, n) < 0) {
        // Nothing sensible to do: the terminal is gone or full.
    }
}

// The editor's collected output (see gl_out_begin).
char out_buf[4096];
size_t out_len = 0;
bool collecting = false;

void write_collected() {
    size_t done = 0;
    while (done < out_len) {
        ssize_t n = gl_io.write(1, out_buf + done, out_len - done);
        if (n <= 0 && !(n < 0 && errno == EINTR)) break;  // terminal gone: drop it
        if (n > 0) done += static_cast<size_t>(n);
    }
    out_len = 0;
}

void emit(const char *p, size_t n) {
    if (!collecting) {
        write_all_once(1, p, n);
        return;
    }
    if (out_len + n > sizeof out_buf) write_collected();
    if (n > sizeof out_buf) {
        write_all_once(1, p, n);
        return;
    }
    std::memcpy(out_buf + out_len, p, n);
    out_len += n;
}

volatile sig_atomic_t winch_pending = 0;
bool winch_installed = false;
struct sigaction program_winch {};

// Notes the resize for the key loop, then runs the program's own handler.
void on_winch(int sig, siginfo_t *info, void *context) {
    int saved_errno = errno;
    winch_pending = 1;
    if (program_winch.sa_flags & SA_SIGINFO) {
        if (program_winch.sa_sigaction != nullptr) program_winch.sa_sigaction(sig, info, context);
    } else if (program_winch.sa_handler != SIG_DFL && program_winch.sa_handler != SIG_IGN) {
        program_winch.sa_handler(sig);
    }
    errno = saved_errno;
}

// A resize noted by the handler is drawn before the next key is read.
void take_resize() {
    if (!winch_pending) return;
    winch_pending = 0;
    gl_resized();
}

// One byte from descriptor 0, repeating interrupted reads.  Returns what
// read returned and records end of input in gl_eof.  Collected output is
// written first: nothing waits behind a read.
ssize_t read_byte(char *c) {
    ssize_t n;
    int err;
    do {
        take_resize();
        write_collected();
        n = gl_io.read(0, c, 1);
        err = errno;
    } while (n < 0 && err == EINTR);
    errno = err;
    gl_eof = (n == 0);
    return n;
}

void first_time_setup() {
    const char *cols = std::getenv("COLUMNS");
    if (cols != nullptr && std::atoi(cols) > 20) gl_setwidth(std::atoi(cols));
    const char *rows = std::getenv("ROWS");
    if (rows != nullptr && std::atoi(rows) > 10) gl_setheight(std::atoi(rows));
    hist_setup();
}

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

void gl_term_raw(void) GL_NOEXCEPT {
    struct termios now;
    if (gl_io.tcgetattr(0, &now) == 0) {
        if (!still_raw(now)) gl_saved_termios = now;
        copy_signal_chars(gl_saved_termios);
    }
    gl_raw_termios = raw_from(gl_saved_termios);
    gl_io.tcsetattr(0, TCSANOW, &gl_raw_termios);
    raw_applied = true;
}

void gl_term_restore(void) GL_NOEXCEPT {
    gl_io.tcsetattr(0, TCSANOW, &gl_saved_termios);
    raw_applied = false;
}

int gl_getc(void) GL_NOEXCEPT {
    char c = 0;
    if (read_byte(&c) < 0) return GL_READ_ERROR;
    return static_cast<signed char>(c);
}

int gl_getc_timed(int tenths) GL_NOEXCEPT {
    write_collected();
    errno = 0;
    for (;;) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(0, &ready);
        struct timeval tv;
        tv.tv_sec = tenths / 10;
        tv.tv_usec = (tenths % 10) * 100000;
        int r = gl_io.select(1, &ready, nullptr, nullptr, &tv);
        if (r == 1) {
            errno = 0;
            char c = 0;
            if (read_byte(&c) != 1) return GL_READ_ERROR;
            return static_cast<signed char>(c);
        }
        if (r == 0) {
            errno = ETIMEDOUT;
            return GL_TIMEOUT;
        }
        if (r < 0 && errno == EINTR) continue;
        return GL_READ_ERROR;
    }
}

void gl_putc(int c) GL_NOEXCEPT {
    char ch = static_cast<char>(c);
    emit(&ch, 1);
    if (ch == '\n') {
        emit("\r", 1);
        gl_row_extent = 0;
    }
}

void gl_puts(const char *s) GL_NOEXCEPT {
    if (s != nullptr) emit(s, std::strlen(s));
}

void gl_out_begin(void) GL_NOEXCEPT {
    collecting = true;
}

void gl_out_flush(void) GL_NOEXCEPT {
    write_collected();
    collecting = false;
}

void gl_bracketed_paste(int on) GL_NOEXCEPT {
    paste_wanted = on != 0;
}

void gl_paste_marks_on(void) GL_NOEXCEPT {
    if (!paste_wanted || paste_marks) return;
    gl_puts("\033[?2004h");
    paste_marks = true;
}

void gl_ask_window_size(void) GL_NOEXCEPT {
    int cols = 0, rows = 0;
    if (gl_io.winsize == nullptr ||
        (gl_io.winsize(1, &cols, &rows) != 0 && gl_io.winsize(0, &cols, &rows) != 0))
        return;
    if (!width_fixed && cols > 20) gl_termw = std::min(cols, 250);
    if (!height_fixed && rows >= 10) gl_termh = rows;
}

void gl_winch_install(void) GL_NOEXCEPT {
    if (winch_installed) return;
    struct sigaction action {};
    action.sa_sigaction = on_winch;
    action.sa_flags = SA_SIGINFO;  // no SA_RESTART: a resize ends the wait for a key
    sigemptyset(&action.sa_mask);
    winch_pending = 0;
    winch_installed = sigaction(SIGWINCH, &action, &program_winch) == 0;
}

void gl_winch_restore(void) GL_NOEXCEPT {
    if (!winch_installed) return;
    sigaction(SIGWINCH, &program_winch, nullptr);
    winch_installed = false;
    winch_pending = 0;
}

void gl_beep(void) GL_NOEXCEPT {
    gl_putc(7);
}

void gl_error(const char *message) GL_NOEXCEPT {
    size_t len = std::strlen(message);
    gl_out_flush();
    gl_cleanup();
    write_all_once(2, message, len);
    gl_io.exit(1);
    _exit(1);  // a replaced exit must not return; make sure of it
}

void gl_init(void) GL_NOEXCEPT {
    if (gl_init_state < 0) first_time_setup();
    if (!gl_io.isatty(0) || !gl_io.isatty(1))
        gl_error("\n*** Error: gl_getline(): not interactive, use stdio.\n");
    gl_term_raw();
    gl_init_state = 1;
}

// Output is written out first (with the end of bracketed paste): a
// program's handler for a signal the editor raises next may leave without
// coming back.
void gl_cleanup(void) GL_NOEXCEPT {
    if (paste_marks) gl_puts("\033[?2004l");
    paste_marks = false;
    gl_out_flush();
    gl_winch_restore();
    if (gl_init_state > 0) gl_term_restore();
    // Leaving the never-initialised state skips the first-time set-up in
    // gl_init for good, so the history is set up here instead.
    if (gl_init_state < 0) hist_setup();
    gl_init_state = 0;
}

void gl_dispose(void) GL_NOEXCEPT {
    gl_cleanup();
    hist_release();
}

void gl_setwidth(int width) GL_NOEXCEPT {
    if (width > 250) width = 250;
    if (width <= 20) gl_error("\n*** Error: minimum screen width is 21\n");
    gl_termw = width;
    gl_scroll = 1;
    width_fixed = true;
}

void gl_setheight(int height) GL_NOEXCEPT {
    if (height < 10) gl_error("\n*** Error: minimum screen height is 10\n");
    gl_termh = height;
    height_fixed = true;
}

void gl_read_inputrc(void) GL_NOEXCEPT {
    gl_set_home_directory(nullptr);
    if (gl_home_path == nullptr) return;
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s/%s", gl_home_path, ".inputrc");
    File f(std::fopen(buf, "r"));
    if (!f) return;
    while (std::fgets(buf, 255, f.get()) != nullptr) {
        if (std::strstr(buf, "editing-mode") != nullptr && std::strstr(buf, "vi") != nullptr) {
            gl_vi_mode = 1;
            break;
        }
    }
}

int gl_last_result(void) GL_NOEXCEPT {
    return gl_result;
}
