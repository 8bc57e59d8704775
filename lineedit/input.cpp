// Keys: the bytes of one character, and escape sequences read to their end
// and named.
//
// A key that is no character arrives as an escape sequence: CSI (ESC [,
// parameter bytes 0x30-0x3F, intermediate bytes 0x20-0x2F, one final byte
// 0x40-0x7E) or SS3 (ESC O, here read in the same shape).  A sequence is
// always read whole, so that none of its bytes is taken for typed text.
#include <algorithm>

#include "lineedit/internal.h"

namespace {

bool inside_sequence(int b) {
    return b >= 0x20 && b <= 0x3F;
}
bool ends_sequence(int b) {
    return b >= 0x40 && b <= 0x7E;
}

// A named sequence: the first parameter (1 when absent or 0), the second
// (the modifier: 1 none, 3 Alt, 5 Ctrl), the last (final) byte.
struct Named {
    char intro;
    int number;
    int modifier;
    char last;
    gl_key_name key;
};

constexpr Named kNamed[] = {
    {'[', 1, 1, 'A', GL_KEY_UP},          {'O', 1, 1, 'A', GL_KEY_UP},
    {'[', 1, 1, 'B', GL_KEY_DOWN},        {'O', 1, 1, 'B', GL_KEY_DOWN},
    {'[', 1, 1, 'C', GL_KEY_RIGHT},       {'O', 1, 1, 'C', GL_KEY_RIGHT},
    {'[', 1, 1, 'D', GL_KEY_LEFT},        {'O', 1, 1, 'D', GL_KEY_LEFT},
    {'[', 1, 1, 'H', GL_KEY_HOME},        {'O', 1, 1, 'H', GL_KEY_HOME},
    {'[', 1, 1, '~', GL_KEY_HOME},        {'[', 7, 1, '~', GL_KEY_HOME},
    {'[', 1, 1, 'F', GL_KEY_END},         {'O', 1, 1, 'F', GL_KEY_END},
    {'[', 4, 1, '~', GL_KEY_END},         {'[', 8, 1, '~', GL_KEY_END},
    {'[', 3, 1, '~', GL_KEY_DELETE},      {'[', 1, 5, 'C', GL_KEY_WORD_RIGHT},
    {'[', 1, 3, 'C', GL_KEY_WORD_RIGHT},  {'[', 1, 5, 'D', GL_KEY_WORD_LEFT},
    {'[', 1, 3, 'D', GL_KEY_WORD_LEFT},   {'[', 200, 1, '~', GL_KEY_PASTE_START},
    {'[', 201, 1, '~', GL_KEY_PASTE_END},
};

constexpr int kMaxParameters = 16;  // longer ones are named by nothing
constexpr int kMaxNumber = 9999;
constexpr int kEscapeWait = 3;  // tenths of a second for the byte after Escape

// The numbers of a parameter string of digits and at most one ";" (0 when
// absent); false for any other form: private markers, colons,
// intermediate bytes, a third number.
bool numbers(const char *p, int n, int nums[2]) {
    int field = 0;
    nums[0] = nums[1] = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] == ';' && field == 0) {
            field = 1;
        } else if (p[i] >= '0' && p[i] <= '9') {
            nums[field] = std::min(nums[field] * 10 + (p[i] - '0'), kMaxNumber);
        } else {
            return false;
        }
    }
    return true;
}

gl_key_name name(int intro, const char *params, int n, int last) {
    int nums[2];
    if (n > kMaxParameters || !numbers(params, n, nums)) return GL_KEY_UNKNOWN;
    int number = std::max(nums[0], 1), modifier = std::max(nums[1], 1);
    for (const Named &s : kNamed)
        if (s.intro == intro && s.number == number && s.modifier == modifier && s.last == last)
            return s.key;
    return GL_KEY_UNKNOWN;
}

}  // namespace

int gl_read_char(int c, char bytes[4], int *stray) noexcept {
    int n = 0;
    bytes[n++] = static_cast<char>(c);
    *stray = GL_NO_KEY;
    while (gl_char_wanted(bytes, n) > 0) {
        int b = gl_getc();
        if (!gl_char_continues(b)) {
            *stray = b;
            break;
        }
        bytes[n++] = static_cast<char>(b);
    }
    return n;
}

int gl_read_sequence(int intro, int *stray) noexcept {
    char params[kMaxParameters];
    int n = 0;
    *stray = GL_NO_KEY;
    for (;;) {
        int b = gl_getc();
        if (ends_sequence(b)) return name(intro, params, n, b);
        if (!inside_sequence(b)) {
            *stray = b;  // a control key, a character, end of input: no sequence
            return GL_KEY_UNKNOWN;
        }
        if (n < kMaxParameters) params[n] = static_cast<char>(b);
        n += n <= kMaxParameters;  // kMaxParameters + 1: too long to name
    }
}

int gl_read_escape(int *stray) noexcept {
    int c = gl_getc_timed(kEscapeWait);
    if (c == '[' || c == 'O') return gl_read_sequence(c, stray);
    *stray = c == GL_TIMEOUT ? GL_NO_KEY : c;  // a timeout is no key
    return GL_KEY_NONE;
}
