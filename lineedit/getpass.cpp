// Masked entry: read a secret from the terminal, one asterisk per byte.
#include <cstring>

#include "lineedit/internal.h"

namespace {

constexpr int kBackspace = 8;
constexpr int kDelete = 127;

// Reads bytes into buf until Return, a failed read or end of input; at
// most size - 1 bytes are kept.  Returns the number stored.
int read_masked(char *buf, int size) {
    int n = 0;
    for (;;) {
        int c = gl_getc();
        if (c == -1 || (c == 0 && gl_eof)) break;
        if (c == '\r' || c == '\n') break;
        if (c == kBackspace || c == kDelete) {
            if (n > 0) {
                buf[--n] = '\0';
                gl_putc('\b');
                gl_putc(' ');
                gl_putc('\b');
            }
        } else if (n < size - 1) {
            gl_putc('*');
            buf[n++] = static_cast<char>(c);
        }
    }
    return n;
}

}  // namespace

char *gl_getpass(const char *prompt, char *buf, int size) GL_NOEXCEPT {
    if (buf == nullptr || size < 1) return buf;
    std::memset(buf, 0, size < 4 ? static_cast<size_t>(size) : 4);
    gl_init();
    if (prompt != nullptr && *prompt != '\0') gl_puts(prompt);
    buf[read_masked(buf, size)] = '\0';
    gl_putc('\n');
    gl_cleanup();
    return buf;
}
