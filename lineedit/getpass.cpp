// Masked entry: read a secret from the terminal, one asterisk per
// character.
#include <cstring>

#include "lineedit/internal.h"

namespace {

constexpr int kBackspace = 8;
constexpr int kDelete = 127;

// Takes the last character off the entry and its asterisk off the screen.
int erase_last(char *buf, int n) {
    int start = gl_char_prev(buf, n);
    std::memset(buf + start, 0, static_cast<size_t>(n - start));
    gl_putc('\b');
    gl_putc(' ');
    gl_putc('\b');
    return start;
}

// Reads bytes into buf until Return, a failed read or end of input; at
// most size - 1 bytes are kept.  Each character shows as one asterisk,
// drawn with its first byte.  Returns the number stored.
int read_masked(char *buf, int size) {
    int n = 0;
    int wanted = 0;  // bytes still to come of the character being typed
    for (;;) {
        int c = gl_getc();
        if (c == -1 || (c == 0 && gl_eof)) break;
        if (c == '\r' || c == '\n') break;
        if (c == kBackspace || c == kDelete) {
            if (n > 0) n = erase_last(buf, n);
            wanted = 0;
        } else if (n < size - 1) {
            buf[n++] = static_cast<char>(c);
            if (wanted > 0 && gl_char_continues(c)) {
                --wanted;
            } else {
                gl_putc('*');
                wanted = gl_char_wanted(buf + n - 1, 1);
            }
        }
    }
    return n;
}

}  // namespace

char *gl_getpass(const char *prompt, char *buf, int size) GL_NOEXCEPT {
    if (buf == nullptr || size < 1) return buf;
    std::memset(buf, 0, size < 4 ? static_cast<size_t>(size) : 4);
    gl_chars_setup();
    gl_init();
    if (prompt != nullptr && *prompt != '\0') gl_puts(prompt);
    buf[read_masked(buf, size)] = '\0';
    gl_putc('\n');
    gl_cleanup();
    return buf;
}
