// Masked entry: read a secret from the terminal, one asterisk per
// character.
#include <cstring>

#include "lineedit/internal.h"

namespace {

constexpr int kBackspace = 8;
constexpr int kEscape = 27;
constexpr int kDelete = 127;

struct Entry {
    char *buf;
    int size;
    int n = 0;                // bytes stored
    int pending = GL_NO_KEY;  // a key read ahead
    bool pasting = false;
};

int next_key(Entry &e) {
    int c = e.pending != GL_NO_KEY ? e.pending : gl_getc();
    e.pending = GL_NO_KEY;
    return c;
}

bool is_control(int c) {
    return (c >= 0 && c < 32) || c == kDelete;
}

// Takes the last character, with its marks, off the entry and its asterisk
// off the screen.
void erase_last(Entry &e) {
    int start = gl_cluster_prev(e.buf, e.n, e.n);
    std::memset(e.buf + start, 0, static_cast<size_t>(e.n - start));
    e.n = start;
    gl_putc('\b');
    gl_putc(' ');
    gl_putc('\b');
}

// Stores the character whose first byte is c when it fits whole (else it
// is dropped).  A character shows one asterisk; the marks after one none.
void store(Entry &e, int c) {
    char bytes[4];
    int len = gl_read_char(c, bytes, &e.pending);
    if (e.n + len > e.size - 1) return;
    bool mark = e.n > 0 && gl_char_cols(bytes, 0, len) == 0;
    std::memcpy(e.buf + e.n, bytes, static_cast<size_t>(len));
    e.n += len;
    if (!mark) gl_putc('*');
}

// After Escape: a key's sequence, read whole, is no part of the secret and
// rings the bell; paste marks only say where a paste starts and ends.
// Returns false for a lone Escape, which is stored like any other byte.
bool sequence(Entry &e) {
    int key = gl_read_escape(&e.pending);
    if (key == GL_KEY_NONE) return false;
    if (key == GL_KEY_PASTE_START || key == GL_KEY_PASTE_END)
        e.pasting = key == GL_KEY_PASTE_START;
    else
        gl_beep();
    return true;
}

// Reads keys into buf until Return, a failed read or end of input; at
// most size - 1 bytes are kept.  In a paste every character is stored as
// it comes; its line ends and other control characters are not, and ring
// the bell.  Returns the number stored.
int read_masked(char *buf, int size) {
    Entry e{buf, size};
    for (;;) {
        int c = next_key(e);
        if (c == GL_READ_ERROR || (c == 0 && gl_eof)) break;
        if (c == kEscape && sequence(e)) continue;
        if (e.pasting && is_control(c)) {
            gl_beep();
        } else if (c == '\r' || c == '\n') {
            break;
        } else if (c == kBackspace || c == kDelete) {
            if (e.n > 0) erase_last(e);
        } else {
            store(e, c);
        }
    }
    return e.n;
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
