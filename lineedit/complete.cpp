// The completion driver and the match listing.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lineedit/internal.h"

gl_completion_fn gl_completer = nullptr;
char **gl_matches = nullptr;
int gl_completion_suffix = ' ';
int gl_quote_completions = -1;
const char *gl_quote_trigger_chars = " \t*?<>|;&()[]$`";
int gl_show_completion_progress = 1;

namespace {

constexpr int kListGrowth = 64;
constexpr int kRowSize = 256;

struct FreeDeleter {
    void operator()(char *p) const { std::free(p); }
};
using Owned = std::unique_ptr<char, FreeDeleter>;

// Where the word before the cursor starts, and the quote still open there.
struct WordStart {
    int start;
    int quote;
};

WordStart find_word_start(const char *buf, int cursor) {
    int quote = 0, open_at = -1, sep_at = -1;
    for (int i = 0; i < cursor && buf[i] != '\0'; ++i) {
        int c = static_cast<unsigned char>(buf[i]);
        if ((c == '"' || c == '\'') && quote == c) {
            quote = 0;
            open_at = -1;
        } else if ((c == '"' || c == '\'') && quote == 0) {
            quote = c;
            open_at = i;
        } else if (quote == 0 && gl_isspace(c)) {
            sep_at = i;
        }
    }
    int start = open_at >= 0 ? open_at + 1 : sep_at >= 0 ? sep_at + 1 : 0;
    return {start, quote};
}

void release_matches() {
    if (gl_matches == nullptr) return;
    for (char **m = gl_matches; *m != nullptr; ++m) std::free(*m);
    std::free(gl_matches);
    gl_matches = nullptr;
}

// Makes room for capacity + 1 entries, the new ones null.
bool grow_matches(int count, int capacity) {
    void *p = std::realloc(gl_matches, sizeof(char *) * static_cast<size_t>(capacity + 1));
    if (p == nullptr) return false;
    gl_matches = static_cast<char **>(p);
    for (int i = count; i <= capacity; ++i) gl_matches[i] = nullptr;
    return true;
}

// Asks the completer for every match of word.  Returns the number kept,
// or -1 when memory ran out (the list is then released).
int gather_matches(const char *word) {
    int capacity = kListGrowth, count = 0;
    gl_matches = nullptr;
    if (!grow_matches(0, capacity)) return -1;
    gl_completion_suffix = ' ';
    for (int i = 0; gl_completer != nullptr; ++i) {
        if (count == capacity) {
            capacity += kListGrowth;
            if (!grow_matches(count, capacity)) {
                release_matches();
                return -1;
            }
        }
        char *m = gl_completer(word, i);
        if (m == nullptr) break;
        if (gl_is_dot_entry(m))
            std::free(m);
        else
            gl_matches[count++] = m;
    }
    return count;
}

// The prefix all n matches share, from offset wlen on.  None when a match
// is shorter than the word: there is nothing sound to put in then.
Owned common_prefix(int n, size_t wlen) {
    for (int i = 0; i < n; ++i)
        if (std::strlen(gl_matches[i]) < wlen) return nullptr;
    const char *first = gl_matches[0];
    size_t p = wlen;
    for (; first[p] != '\0'; ++p) {
        bool all = true;
        for (int i = 1; i < n && all; ++i) all = gl_matches[i][p] == first[p];
        if (!all) break;
    }
    // Matches that part inside a character share only what comes before it.
    int whole = gl_char_start(first, static_cast<int>(p), static_cast<int>(std::strlen(first)));
    return Owned(strndup(first, std::max(wlen, static_cast<size_t>(whole))));
}

bool quoting_wanted() {
    return gl_quote_completions > 0 ||
           (gl_quote_completions < 0 && gl_completer == gl_filename_completer);
}

bool needs_quote(const char *text) {
    return gl_quote_trigger_chars != nullptr && std::strpbrk(text, gl_quote_trigger_chars);
}

// Inserts c at pos of a line of *len characters in a buffer of size bytes.
bool insert_char(char *buf, size_t size, size_t *len, size_t pos, char c) {
    if (*len + 2 > size) return false;
    std::memmove(buf + pos + 1, buf + pos, *len - pos + 1);
    buf[pos] = c;
    ++*len;
    return true;
}

// The line being completed.
struct Line {
    char *buf;
    size_t size;
    size_t len;
    size_t cursor;
    size_t start;  // of the word
    int quote;
    bool at_end;
};

// How many characters of text fit in place of the word, keeping room for
// a closing quote, the suffix and the terminator.
size_t fitting(const Line &l, size_t extra, size_t text_len) {
    size_t rest = l.start + extra + (l.len - l.cursor);
    size_t room = l.size - 4;
    if (rest + text_len < room) return text_len;
    return room > rest ? room - rest : 0;
}

// Replaces the word by the first m characters of text (n matches stood
// behind it) and returns the new cursor.
size_t put_in(Line &l, const char *text, size_t m, int n) {
    size_t rem = l.len - l.cursor;
    size_t off = l.start;
    std::memmove(l.buf + off + m, l.buf + l.cursor, rem + 1);
    std::memcpy(l.buf + off, text, m);
    l.len = off + m + rem;
    if (n == 1) {
        if (l.quote != 0 && insert_char(l.buf, l.size, &l.len, off + m, static_cast<char>(l.quote)))
            ++m;
        if (gl_completion_suffix != 0 &&
            insert_char(l.buf, l.size, &l.len, off + m, static_cast<char>(gl_completion_suffix)))
            ++m;
    } else if (!l.at_end && !gl_isspace(static_cast<unsigned char>(l.buf[off + m]))) {
        insert_char(l.buf, l.size, &l.len, off + m, ' ');
    }
    return off + m;
}

// Shows "..." at the cursor while the matches are gathered.  False when
// there is no room for it before the end of the buffer.
bool show_progress(char *buf, size_t size, size_t cursor) {
    if (!gl_show_completion_progress) return true;
    if (cursor + 4 > size) return false;
    char saved[4];
    std::memcpy(saved, buf + cursor, 4);
    std::memcpy(buf + cursor, "...", 4);
    gl_redisplay(gl_prompt, gl_pos, gl_pos + 3);
    std::memcpy(buf + cursor, saved, 4);
    return true;
}

void end_progress() {
    if (!gl_show_completion_progress) return;
    gl_redisplay(gl_prompt, gl_pos, gl_pos);
    gl_puts("    ");
}

// The quote to open before the word for text, or 0.
char opening_quote(const Line &l, const char *text) {
    if (l.quote != 0 || !quoting_wanted() || !needs_quote(text)) return 0;
    return std::strchr(text, '"') != nullptr ? '\'' : '"';
}

bool open_quote(Line &l, char q) {
    if (!insert_char(l.buf, l.size, &l.len, l.start, q)) return false;
    l.quote = q;
    ++l.start;
    ++l.cursor;
    return true;
}

// Steps 9 and 10: decides what goes in and puts it in.
void complete_with(Line &l, int *loc, int n, bool list) {
    const char *text = nullptr;
    Owned prefix;
    size_t wlen = l.cursor - l.start;
    if (n == 1) {
        text = gl_matches[0];
    } else if (list) {
        gl_list_matches(n);
    } else if (n > 1 && wlen > 0) {
        prefix = common_prefix(n, wlen);
        text = prefix.get();
    }
    if (text == nullptr) return;
    char q = opening_quote(l, text);
    size_t tl = std::strlen(text);
    size_t m = fitting(l, q != 0, tl);
    if (m < tl)
        m = static_cast<size_t>(gl_char_start(text, static_cast<int>(m), static_cast<int>(tl)));
    // Cut back to the typed word or less, the completion would only lose
    // text (or add a lone quote): there is no room for it.
    if ((m < tl && m <= wlen) || (q != 0 && !open_quote(l, q))) {
        gl_beep();
        return;
    }
    *loc = static_cast<int>(put_in(l, text, m, n));
}

}  // namespace

int gl_complete_word(char *buf, int *loc, size_t size, int list) GL_NOEXCEPT {
    if (size < 5) return 0;
    size_t len = strnlen(buf, size - 1);
    std::memset(buf + len, 0, size - len);
    if (*loc < 0 || static_cast<size_t>(*loc) > len) {
        gl_beep();
        return 0;
    }
    Line l{buf, size, len, static_cast<size_t>(*loc), 0, 0, buf[*loc] == '\0'};
    if (!show_progress(buf, size, l.cursor)) {
        gl_beep();
        return 0;
    }
    WordStart ws = find_word_start(buf, *loc);
    l.start = static_cast<size_t>(ws.start);
    l.quote = ws.quote;
    Owned word(strndup(buf + l.start, l.cursor - l.start));
    if (!word) {
        gl_beep();
        return 0;
    }
    int n = gather_matches(word.get());
    if (n < 0) {
        gl_beep();
        return 0;
    }
    end_progress();
    complete_with(l, loc, n, list != 0);
    release_matches();
    return 0;
}

// ---- the listing ------------------------------------------------------------

namespace {

// Length of the start that all n matches share; the listing leaves out
// all of it up to the last character that is not a letter or digit.
size_t shown_from(int n) {
    const char *first = gl_matches[0];
    size_t p = 0;
    for (; first[p] != '\0'; ++p) {
        bool all = true;
        for (int i = 1; i < n && all; ++i) all = gl_matches[i][p] == first[p];
        if (!all) break;
    }
    p = static_cast<size_t>(
        gl_char_start(first, static_cast<int>(p), static_cast<int>(std::strlen(first))));
    while (p > 0 && gl_isalnum(static_cast<unsigned char>(first[p - 1]))) --p;
    return p;
}

int columns_of(const char *text) {
    return gl_cols(text, 0, static_cast<int>(std::strlen(text)));
}

// One row of the listing: names start at columns 4, 4 + colw, ... (a name
// never reaches the next column); one that does not fit the row is left
// out.
void list_row(int r, int nrows, int ncols, int colw, int total, size_t p) {
    char line[kRowSize];
    size_t used = 0;
    long col = 0;
    for (int c = 0; c < ncols; ++c) {
        int i = r + c * nrows;
        if (i >= total) break;
        const char *name = gl_matches[i] + p;
        size_t len = std::strlen(name);
        long pos = 4L + static_cast<long>(c) * colw;
        size_t pad = pos > col ? static_cast<size_t>(pos - col) : 0;
        if (pos < 0 || used + pad + len > kRowSize - 1) continue;
        std::memset(line + used, ' ', pad);
        std::memcpy(line + used + pad, name, len);
        used += pad + len;
        col += static_cast<long>(pad) + columns_of(name);
    }
    while (used > 0 && line[used - 1] == ' ') --used;
    line[used] = '\0';
    gl_puts(line);
    gl_putc('\n');
}

void list_columns(int n) {
    std::qsort(gl_matches, static_cast<size_t>(n), sizeof(char *), gl_match_cmp);
    size_t p = shown_from(n);
    int maxlen = 0;
    for (int i = 0; i < n; ++i) {
        int len = columns_of(gl_matches[i] + p);
        if (len > maxlen) maxlen = len;
    }
    int ncols = (gl_termw - 8) / (maxlen + 2);
    if (ncols < 1) ncols = 1;
    int colw = (gl_termw - 8) / ncols;
    int nrows = n / ncols + (n % ncols != 0);
    int total = n;
    if (nrows > gl_termh - 4) {
        nrows = gl_termh - 4 > 0 ? gl_termh - 4 : 0;
        total = ncols * nrows;
    }
    for (int r = 0; r < nrows; ++r) list_row(r, nrows, ncols, colw, total, p);
    if (total < n) {
        char line[64];
        std::snprintf(line, sizeof line, "    ... %d others omitted ...", n - total);
        gl_puts(line);
        gl_putc('\n');
    }
}

}  // namespace

void gl_list_matches(int n) GL_NOEXCEPT {
    gl_putc('\n');
    if (n <= 0 || gl_matches == nullptr) {
        gl_beep();
        gl_puts("    (no matches)");
        gl_putc('\n');
    } else {
        list_columns(n);
    }
    gl_redisplay(gl_prompt, -2, GL_BUF_SIZE);
}

int gl_match_cmp(const void *a, const void *b) GL_NOEXCEPT {
    return strcasecmp(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}

int gl_isalnum(int c) GL_NOEXCEPT {
    return c >= 0 && c <= 255 && std::isalnum(c);
}

int gl_is_dot_entry(const char *name) GL_NOEXCEPT {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

void gl_set_completer(gl_completion_fn fn) GL_NOEXCEPT {
    gl_completer = fn != nullptr ? fn : gl_filename_completer;
}
