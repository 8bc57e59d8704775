// Characters: the only place that knows how the bytes of the line form
// characters and how many columns each one takes.
//
// In a program whose locale's character set is UTF-8, a character is a
// well-formed UTF-8 sequence, or a single byte that does not start one.
// In any other locale every byte is a character one column wide.
#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <cwchar>

#include "lineedit/internal.h"

int gl_utf8 = 0;

namespace {

// The replacement character, shown for bytes that are not UTF-8 and for
// code points the terminal cannot show.
constexpr char kReplacement[] = "\xEF\xBF\xBD";

bool continuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Length announced by a lead byte, 0 when the byte cannot start a sequence.
int announced(unsigned char b) {
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) return 2;
    if (b >= 0xE0 && b <= 0xEF) return 3;
    if (b >= 0xF0 && b <= 0xF4) return 4;
    return 0;
}

// Decodes the well-formed sequence at s[0..n); returns its length and its
// code point, or 0 when it is not one (too short, overlong, a surrogate or
// past U+10FFFF).
int decode(const char *s, int n, char32_t *cp) {
    const auto *u = reinterpret_cast<const unsigned char *>(s);
    int len = n > 0 ? announced(u[0]) : 0;
    if (len == 0 || len > n) return 0;
    if (len == 1) {
        *cp = u[0];
        return 1;
    }
    char32_t c = u[0] & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
        if (!continuation(u[k])) return 0;
        c = (c << 6) | (u[k] & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *cp = c;
    return len;
}

// Columns of a decoded character; -1 for one that cannot be shown as it is.
int columns_of(char32_t cp) {
    if (cp < 0x20 || cp == 0x7F) return 1;  // control bytes go out as they are
    return wcwidth(static_cast<wchar_t>(cp));
}

// The common case, one byte one column, without decoding.
bool printable_ascii(char c) {
    return c >= 0x20 && c < 0x7F;
}

}  // namespace

void gl_chars_setup(void) noexcept {
    const char *ctype = std::setlocale(LC_CTYPE, nullptr);
    gl_utf8 = ctype != nullptr && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

int gl_char_len(const char *s, int i, int n) noexcept {
    char32_t cp;
    int len = gl_utf8 && i < n ? decode(s + i, n - i, &cp) : 0;
    return len > 0 ? len : 1;
}

int gl_char_next(const char *s, int i, int n) noexcept {
    return i + gl_char_len(s, i, n);
}

// A sequence ending exactly at i is one character; anything else makes
// the byte before i a character of its own.
int gl_char_prev(const char *s, int i) noexcept {
    if (!gl_utf8 || i <= 0) return i - 1;
    for (int j = i - 1; j >= 0 && j >= i - 4; --j) {
        if (!continuation(static_cast<unsigned char>(s[j]))) {
            char32_t cp;
            return decode(s + j, i - j, &cp) == i - j ? j : i - 1;
        }
    }
    return i - 1;
}

int gl_char_start(const char *s, int i, int n) noexcept {
    if (!gl_utf8 || i >= n) return i;
    for (int k = i; k >= 0 && k > i - 4; --k) {
        if (continuation(static_cast<unsigned char>(s[k]))) continue;
        char32_t cp;
        int len = decode(s + k, n - k, &cp);
        return len > 0 && k + len > i ? k : i;
    }
    return i;
}

int gl_cluster_start(const char *s, int i, int n) noexcept {
    i = gl_char_start(s, i, n);
    while (gl_utf8 && i > 0 && i < n && gl_char_cols(s, i, n) == 0) i = gl_char_prev(s, i);
    return i;
}

int gl_cluster_next(const char *s, int i, int n) noexcept {
    i = gl_char_next(s, i, n);
    while (gl_utf8 && i < n && gl_char_cols(s, i, n) == 0) i = gl_char_next(s, i, n);
    return i;
}

int gl_cluster_prev(const char *s, int i, int n) noexcept {
    i = gl_char_prev(s, i);
    return i > 0 ? gl_cluster_start(s, i, n) : i;
}

int gl_char_cols(const char *s, int i, int n) noexcept {
    char32_t cp;
    if (!gl_utf8 || decode(s + i, n - i, &cp) == 0) return 1;
    int w = columns_of(cp);
    return w < 0 ? 1 : w;
}

int gl_cols(const char *s, int from, int to) noexcept {
    if (!gl_utf8) return to - from;
    int cols = 0;
    for (int i = from; i < to;) {
        if (printable_ascii(s[i])) {
            ++cols;
            ++i;
            continue;
        }
        cols += gl_char_cols(s, i, to);
        i = gl_char_next(s, i, to);
    }
    return cols;
}

int gl_index_at(const char *s, int from, int n, int cols) noexcept {
    if (!gl_utf8) return from + cols;
    int i = from;
    while (i < n) {
        int w = printable_ascii(s[i]) ? 1 : gl_char_cols(s, i, n);
        if (w > cols) break;
        cols -= w;
        i = gl_char_next(s, i, n);
    }
    return i;
}

int gl_char_shown(const char *s, int i, int n, char out[4]) noexcept {
    char32_t cp;
    int len = gl_utf8 ? decode(s + i, n - i, &cp) : 1;
    if (len > 0 && (!gl_utf8 || columns_of(cp) >= 0)) {
        std::memcpy(out, s + i, static_cast<size_t>(len));
        return len;
    }
    std::memcpy(out, kReplacement, 3);
    return 3;
}

int gl_char_wanted(const char *s, int n) noexcept {
    int len = gl_utf8 && n > 0 ? announced(static_cast<unsigned char>(s[0])) : 1;
    for (int k = 1; k < n; ++k)
        if (!continuation(static_cast<unsigned char>(s[k]))) return 0;
    return len > n ? len - n : 0;
}

int gl_char_continues(int key) noexcept {
    return gl_utf8 && key < 0 && key >= -128 && continuation(static_cast<unsigned char>(key));
}

size_t gl_text_width(const char *text) noexcept {
    size_t len = std::strlen(text);
    if (!gl_utf8) return len;
    size_t cols = 0;
    int n = static_cast<int>(len);
    for (int i = 0; i < n;) {
        if (text[i] == '\033' && i + 1 < n && text[i + 1] == '[') {
            i += 2;  // a control sequence: parameters, then one final byte
            while (i < n && !(text[i] >= 0x40 && text[i] <= 0x7E)) ++i;
            i += i < n;
            continue;
        }
        cols += static_cast<size_t>(gl_char_cols(text, i, n));
        i = gl_char_next(text, i, n);
    }
    return cols;
}
