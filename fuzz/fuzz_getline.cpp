// The line editor's key loop on arbitrary key streams, through the gl_io
// seam (no terminal), with a completion function that returns arbitrary
// matches, arbitrary screen sizes, prompts, modes and hooks, in the C
// locale or (a flag bit) in a UTF-8 one, with bracketed paste asked for or
// not (another).  The dictionary getline.dict holds the key sequences.
//
// A fatal editor error (once a line that overflowed the buffer, reachable
// with a handful of keys through vi counts, yanks and completions) ends in
// gl_io.exit.  Here that exit jumps back to the target: gl_error restores
// the terminal before it calls exit, the frames it leaves are the editor's
// plain C-style ones (they hold no objects with destructors), and every
// gl_getline starts from a fresh line, so the editor is sound to use
// afterwards.  Limiting the input length instead would not do: 3 keys of
// a vi count and a yank overflow the line.
#include <clocale>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "lineedit/internal.h"

namespace {

struct Keys {
    std::string bytes;
    size_t at = 0;
    bool Left() const { return at < bytes.size(); }
} g_keys;

struct termios g_found;    // what tcgetattr reports: the user's settings
struct termios g_applied;  // what tcsetattr applied last
bool g_everApplied = false;
jmp_buf g_exitJump;
std::string g_tail;         // the last bytes written, to follow the paste marks
bool g_pasteMarks = false;  // the terminal was asked to mark pastes and not told to stop
std::vector<std::string> g_matches;
size_t g_hookLen = 0;

ssize_t Read(int fd, void *buf, size_t n) {
    if (fd != 0 || n == 0) return -1;
    if (!g_keys.Left()) return 0;  // end of input
    *static_cast<char *>(buf) = g_keys.bytes[g_keys.at++];
    return 1;
}

// The start of the requests to mark pastes (h) and to stop (l).
const std::string kPasteMarks = "\x1b[?2004";

// Follows those requests through the output, which may split them over
// writes.
ssize_t Write(int fd, const void *buf, size_t n) {
    if (fd != 1 && fd != 2) fuzz::Fail("write to a descriptor other than 1 and 2");
    if (fd != 1) return static_cast<ssize_t>(n);
    g_tail.append(static_cast<const char *>(buf), n);
    const size_t len = kPasteMarks.size();
    for (size_t at;
         (at = g_tail.find(kPasteMarks)) != std::string::npos && at + len < g_tail.size();) {
        g_pasteMarks = g_tail[at + len] == 'h';
        g_tail.erase(0, at + len + 1);
    }
    if (g_tail.size() > len) g_tail.erase(0, g_tail.size() - len);
    return static_cast<ssize_t>(n);
}

int IsATTY(int) {
    return 1;
}

int GetAttr(int, struct termios *t) {
    *t = g_found;
    return 0;
}

int SetAttr(int, int, const struct termios *t) {
    g_applied = *t;
    g_everApplied = true;
    return 0;
}

int Select(int, fd_set *r, fd_set *w, fd_set *e, struct timeval *) {
    if (g_keys.Left()) return 1;  // descriptor 0 stays set
    if (r) FD_ZERO(r);
    if (w) FD_ZERO(w);
    if (e) FD_ZERO(e);
    return 0;  // time out
}

[[noreturn]] void Exit(int) {
    longjmp(g_exitJump, 1);
}

char *Complete(const char *, int index) {
    if (index < 0 || static_cast<size_t>(index) >= g_matches.size()) return nullptr;
    return strdup(g_matches[index].c_str());
}

int AcceptHook(char *buf) {
    const size_t len = strlen(buf);
    const size_t want = std::min<size_t>(g_hookLen, GL_BUF_SIZE - 1);
    if (want > len) memset(buf + len, 'h', want - len), buf[want] = '\0';
    return static_cast<int>(len);
}

int LoadHook(char *buf) {
    if (buf[0] == '\0' && g_hookLen > 0) {
        const size_t n = std::min<size_t>(g_hookLen % 300, GL_BUF_SIZE - 2);
        memset(buf, 'L', n);
        buf[n] = '\0';
    }
    return 0;
}

bool TerminalGivenBack() {
    return !g_pasteMarks && (!g_everApplied || memcmp(&g_applied, &g_found, sizeof g_found) == 0);
}

void Setup() {
    memset(&g_found, 0, sizeof g_found);
    g_found.c_iflag = ICRNL | IXON | BRKINT;
    g_found.c_oflag = OPOST | ONLCR;
    g_found.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    g_found.c_cc[VINTR] = 3;
    g_found.c_cc[VQUIT] = 28;
    g_found.c_cc[VSUSP] = 0;  // never suspend: that stops the process group
    g_found.c_cc[VMIN] = 1;
    gl_io = {Read, Write, IsATTY, GetAttr, SetAttr, Select, Exit, nullptr};
    g_tail.clear();
    g_pasteMarks = false;
}

void ReadMatches(fuzz::Input &in) {
    g_matches.clear();
    const size_t n = in.Byte() % 140;
    for (size_t i = 0; i < n && in.Left(); ++i) {
        const uint8_t len = in.Byte();
        std::string m = in.Bytes(len & 0x7f);
        if (len & 0x80) {  // a long match: the piece twenty times over
            std::string piece = m;
            for (int k = 0; k < 19; ++k) m += piece;
        }
        g_matches.push_back(fuzz::CString(m));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Setup();
    fuzz::Input in(data, size);
    const uint8_t flags = in.Byte();
    const uint8_t width = in.Byte();
    const uint8_t height = in.Byte();
    const uint8_t more = in.Byte();
    std::string prompt = fuzz::CString(in.Bytes(in.Byte() % 120));
    g_hookLen = in.Word() % 2200;
    ReadMatches(in);
    // The prompt is drawn again after a signal character, and matches are
    // listed as they are: neither may look like the editor's own request to
    // mark pastes.
    auto unmark = [](std::string &text) {
        for (size_t at; (at = text.find(kPasteMarks)) != std::string::npos;) text[at + 2] = '!';
    };
    unmark(prompt);
    for (std::string &m : g_matches) unmark(m);
    g_keys = {in.Rest(), 0};

    std::setlocale(LC_CTYPE, (more & 0x80) ? "C.UTF-8" : "C");
    gl_vi_mode = flags & 1;
    gl_overwrite = (flags >> 1) & 1;
    gl_show_completion_progress = (flags >> 2) & 1;
    gl_quote_completions = ((flags >> 3) & 3) - 1;
    gl_completer = (flags & 0x20) ? Complete : nullptr;
    gl_accept_hook = (flags & 0x40) ? AcceptHook : nullptr;
    gl_load_hook = (flags & 0x80) ? LoadHook : nullptr;
    if (width == 0) {
        gl_termw = 80;
        gl_scroll = 27;
    } else {
        gl_setwidth(21 + width % 230);
    }
    gl_setheight(10 + height % 40);
    gl_bracketed_paste(height & 0x80);
    if (more & 2)
        for (const std::string &m : g_matches) gl_add_history(m.c_str());

    auto oldInt = signal(SIGINT, SIG_IGN);
    auto oldQuit = signal(SIGQUIT, SIG_IGN);
    if (setjmp(g_exitJump) == 0) {
        if (more & 1) {
            std::vector<char> secret(4 + (more >> 2));
            gl_getpass(prompt.c_str(), secret.data(), static_cast<int>(secret.size()));
            if (strnlen(secret.data(), secret.size()) == secret.size())
                fuzz::Fail("secret unterminated");
            if (!TerminalGivenBack())
                fuzz::Fail("gl_getpass left the terminal raw or marking pastes");
        }
        for (int call = 0; call < 8 && g_keys.Left(); ++call) {
            const char *line = gl_getline(prompt.c_str());
            const int result = gl_last_result();
            if (line != nullptr && line != gl_buf) fuzz::Fail("gl_getline returned another buffer");
            if (result == 0) {
                const size_t len = strlen(line);
                if (len == 0 || len > GL_LINE_MAX + 1 || line[len - 1] != '\n')
                    fuzz::Fail("accepted line without its line feed");
            } else if (result == -1) {
                if (line != nullptr) fuzz::Fail("end of input returned a line");
            } else if (result == -2) {
                if (line == nullptr || line[0] != '\0') fuzz::Fail("interrupt returned text");
                gl_cleanup();  // a signal character leaves the terminal raw
            } else {
                fuzz::Fail("unexpected gl_last_result");
            }
            if (!TerminalGivenBack())
                fuzz::Fail("gl_getline left the terminal raw or marking pastes");
        }
    } else if (!TerminalGivenBack()) {
        fuzz::Fail("a fatal error left the terminal raw or marking pastes");
    }
    signal(SIGINT, oldInt);
    signal(SIGQUIT, oldQuit);
    gl_dispose();
    return 0;
}
