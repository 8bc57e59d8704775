// A keyboard and screen for the editor's unit tests, through gl_io: keys
// are read from a string, every byte written to standard output is kept.
#ifndef LINEEDIT_TESTS_KEYS_FAKE_TERMINAL_H
#define LINEEDIT_TESTS_KEYS_FAKE_TERMINAL_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "lineedit/internal.h"

namespace editor_test {

struct FakeKeyboard {
    std::string keys;
    size_t next = 0;
    std::string screen;
    struct termios tty = {};
};
inline FakeKeyboard *keyboard = nullptr;

inline ssize_t fake_read(int, void *buf, size_t) {
    if (keyboard->next >= keyboard->keys.size()) return 0;  // end of input
    *static_cast<char *>(buf) = keyboard->keys[keyboard->next++];
    return 1;
}

inline ssize_t fake_write(int fd, const void *buf, size_t n) {
    if (fd != 1) return ::write(fd, buf, n);
    keyboard->screen.append(static_cast<const char *>(buf), n);
    return static_cast<ssize_t>(n);
}

inline int fake_isatty(int) {
    return 1;
}
inline int fake_tcgetattr(int, struct termios *t) {
    *t = keyboard->tty;
    return 0;
}
inline int fake_tcsetattr(int, int, const struct termios *t) {
    keyboard->tty = *t;
    return 0;
}
// A key is "ready" while keys remain; otherwise the wait times out.
inline int fake_select(int, fd_set *, fd_set *, fd_set *, struct timeval *) {
    return keyboard->next < keyboard->keys.size() ? 1 : 0;
}

// The bytes with the control characters made visible.
inline std::string Visible(const std::string &bytes) {
    std::string out;
    for (char c : bytes) {
        switch (c) {
            case '\b':
                out += "<bs>";
                break;
            case '\a':
                out += "<bel>";
                break;
            case '\r':
                out += "<cr>";
                break;
            case '\n':
                out += "<lf>";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// A new folder under /tmp for one test, removed with everything in it.
class ScratchDir {
  public:
    ScratchDir() {
        char tmpl[] = "/tmp/lineedit-test-XXXXXX";
        if (mkdtemp(tmpl) != nullptr) root_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    bool ok() const { return !root_.empty(); }
    const std::string &root() const { return root_; }
    std::string Path(const std::string &name) const { return root_ + "/" + name; }

  private:
    std::string root_;
};

class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_io_ = gl_io;
        keyboard = &keyboard_;
        keyboard_.tty.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
        keyboard_.tty.c_cc[VINTR] = 3;
        keyboard_.tty.c_cc[VQUIT] = 28;
        keyboard_.tty.c_cc[VSUSP] = 26;
        gl_io = {fake_read,      fake_write,  fake_isatty,   fake_tcgetattr,
                 fake_tcsetattr, fake_select, saved_io_.exit, nullptr};
        gl_init_state = 0;  // no first-time look at COLUMNS and ROWS
        gl_termw = 80;
        gl_scroll = 27;
        gl_vi_mode = 0;
        gl_overwrite = 0;
        gl_show_completion_progress = 1;
        gl_completer = nullptr;
        gl_load_hook = nullptr;
        gl_accept_hook = nullptr;
        gl_tab_handler = gl_tab_spaces;
        gl_search_active = 0;
        hist_release();
    }
    void TearDown() override {
        gl_cleanup();
        hist_release();
        gl_io = saved_io_;
        keyboard = nullptr;
    }

    // One gl_getline call on the given keys; "<null>" for a null result.
    std::string Line(const std::string &keys, const char *prompt = "> ") {
        keyboard_.keys = keys;
        keyboard_.next = 0;
        keyboard_.screen.clear();
        const char *line = gl_getline(prompt);
        return line ? line : "<null>";
    }

    // An editing session without the key loop, for the buffer operations.
    void Start(const char *prompt = "> ") {
        gl_prompt = prompt;
        gl_buf[0] = gl_killbuf[0] = '\0';
        gl_extent = 0;
        gl_redisplay(prompt, -2, GL_BUF_SIZE);
        keyboard_.screen.clear();
    }
    void Type(const std::string &text) {
        for (char c : text) {
            gl_extent = 0;
            gl_addchar(c);
        }
    }
    std::string Buf() const { return gl_buf; }
    std::string TakeScreen() {
        std::string s = keyboard_.screen;
        keyboard_.screen.clear();
        return s;
    }
    const std::string &Screen() const { return keyboard_.screen; }

    FakeKeyboard keyboard_;
    gl_io_ops saved_io_{};
};

}  // namespace editor_test

#endif  // LINEEDIT_TESTS_KEYS_FAKE_TERMINAL_H
