// A fake terminal for the editor's unit tests, through gl_io: keys are read
// from a string, every byte written to standard output is kept.
// Keys and screens are written symbolically with Keys(): "<c-a>" is Ctrl-A,
// "<esc>", "<tab>", "<cr>", "<bs>", "<del>", "<nul>", "<up>", "<left>",
// "<right>", "<bel>" and "<lf>" are those bytes, "<300*x>" is 300 times x.
#ifndef LINEEDIT_TESTS_KEYS_FAKE_TERMINAL_H
#define LINEEDIT_TESTS_KEYS_FAKE_TERMINAL_H

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include "lineedit/internal.h"

namespace editor_test {

struct FakeKeyboard {
    std::string keys, screen;
    size_t next = 0;
    struct termios tty = {};
    std::multimap<size_t, int> fails;  // before key i: a read failing with errno, 0 end of input
    std::deque<int> waits;  // select results (-1 EINTR, -2 EBADF); none: ready while keys remain
    std::vector<struct timeval> timeouts;
    int sets = 0;
};
inline FakeKeyboard *keyboard = nullptr;

inline const gl_io_ops kFakeIo = {
    [](int, void *buf, size_t) -> ssize_t {
        FakeKeyboard &k = *keyboard;
        if (auto f = k.fails.lower_bound(k.next); f != k.fails.end() && f->first == k.next)
            return errno = f->second, k.fails.erase(f), errno ? -1 : 0;
        if (k.next >= k.keys.size()) return 0;
        *static_cast<char *>(buf) = k.keys[k.next++];
        return 1;
    },
    [](int fd, const void *buf, size_t n) -> ssize_t {
        if (fd != 1) return ::write(fd, buf, n);
        keyboard->screen.append(static_cast<const char *>(buf), n);
        return static_cast<ssize_t>(n);
    },
    [](int) { return 1; },
    [](int, struct termios *t) { return *t = keyboard->tty, 0; },
    [](int, int when, const struct termios *t) {
        return keyboard->sets++, keyboard->tty = *t, when == TCSANOW ? 0 : -1;
    },
    [](int, fd_set *, fd_set *, fd_set *, struct timeval *tv) {
        FakeKeyboard &k = *keyboard;
        k.timeouts.push_back(*tv);
        if (k.waits.empty()) return k.next < k.keys.size() ? 1 : 0;
        int r = k.waits.front();
        k.waits.pop_front();
        return r < 0 ? (errno = r == -1 ? EINTR : EBADF, -1) : r;
    },
    nullptr,
    nullptr};

inline std::string Keys(const std::string &s) {
    // clang-format off
    static const std::map<std::string, std::string> named = {{"esc", "\x1b"}, {"tab", "\t"},
        {"cr", "\r"}, {"bs", "\b"}, {"del", "\x7f"}, {"nul", {'\0'}}, {"up", "\x1b[A"},
        {"left", "\x1b[D"}, {"right", "\x1b[C"}, {"null", "<null>"}, {"bel", "\a"}, {"lf", "\n"}};
    // clang-format on
    std::string out;
    for (size_t i = 0, end; i < s.size(); ++i) {
        if (s[i] != '<' || (end = s.find('>', i + 2)) == std::string::npos) {
            out += s[i];
            continue;
        }
        std::string name = s.substr(i + 1, end - i - 1);
        if (name.rfind("c-", 0) == 0)
            out += static_cast<char>(name[2] & 0x1f);
        else if (size_t star = name.find('*'); star != std::string::npos)
            out.append(std::stoul(name), name[star + 1]);
        else
            out += named.at(name);
        i = end;
    }
    return out;
}

class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_io_ = gl_io, keyboard = &keyboard_, gl_io = kFakeIo, gl_io.exit = saved_io_.exit;
        keyboard_.tty.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
        keyboard_.tty.c_cc[VINTR] = 3;
        gl_init_state = 0;  // no first-time look at COLUMNS and ROWS
        gl_termw = 80, gl_scroll = 27, gl_show_completion_progress = 1, gl_vi_mode = 0;
        gl_tab_handler = gl_tab_spaces;
    }
    void TearDown() override {
        gl_cleanup();
        hist_release();
        gl_vi_mode = gl_overwrite = 0, gl_completer = nullptr;
        gl_load_hook = gl_accept_hook = nullptr;
        gl_bracketed_paste(0);
        gl_io = saved_io_;
    }
    // One gl_getline call on the given keys; "<null>" for a null result.
    std::string Line(const std::string &keys, const std::string &prompt = "> ") {
        keyboard_.keys = Keys(keys);
        keyboard_.next = 0;
        keyboard_.screen.clear();
        const char *line = gl_getline(prompt.c_str());
        return line ? line : "<null>";
    }
    std::string Screen() const { return keyboard_.screen; }

    FakeKeyboard keyboard_;
    gl_io_ops saved_io_{};
};

}  // namespace editor_test

#endif  // LINEEDIT_TESTS_KEYS_FAKE_TERMINAL_H
