// The line buffer, its edits and the one-row redisplay.
//
// The row never wraps: a line wider than the screen scrolls sideways in
// steps of gl_scroll columns, with a "$" where text is hidden.  Output is
// relative only (carriage return, backspace, text and blanks).
#include <algorithm>
#include <cstring>

#include "lineedit/internal.h"

char gl_buf[GL_BUF_SIZE];
int gl_pos, gl_cnt;
const char *gl_prompt = "";
int gl_overwrite, gl_extent;
char gl_killbuf[GL_KILL_SIZE];
int gl_width, gl_shift, gl_off_left, gl_off_right;
int (*gl_accept_hook)(char *buf) = nullptr;

namespace {

constexpr int kEndOfLine = GL_BUF_SIZE;        // cursor value meaning "end of the line"
constexpr int kLongestLine = GL_BUF_SIZE - 2;  // room left for "\n" and NUL
constexpr char kOverflow[] = "\n*** Error: gl_getline(): input buffer overflow\n";

// The prompt drawn last, with its full length, so that a prompt wider than
// the screen still compares equal to itself and is not redrawn at every key.
char gl_last_prompt[GL_BUF_SIZE];
size_t gl_last_prompt_len;

int prompt_width(const char *prompt) {
    return static_cast<int>(gl_prompt_width ? gl_prompt_width(prompt) : std::strlen(prompt));
}

bool same_prompt(const char *prompt) {
    size_t len = std::strlen(prompt);
    size_t kept = std::min(len, sizeof gl_last_prompt - 1);
    return len == gl_last_prompt_len && std::memcmp(prompt, gl_last_prompt, kept) == 0;
}

void remember_prompt(const char *prompt) {
    gl_last_prompt_len = std::strlen(prompt);
    size_t kept = std::min(gl_last_prompt_len, sizeof gl_last_prompt - 1);
    std::memcpy(gl_last_prompt, prompt, kept);
    gl_last_prompt[kept] = '\0';
}

void put_repeated(int byte, int n) {
    for (int i = 0; i < n; ++i) gl_putc(byte);
}

void put_text(int from, int to) {
    for (int i = from; i < to; ++i) gl_putc(gl_buf[i]);
}

// Change -2: forget the view and draw the prompt from the start of the row.
void start_row(const char *prompt) {
    gl_pos = gl_cnt = gl_shift = gl_off_right = gl_off_left = 0;
    gl_putc('\r');
    gl_puts(prompt);
    remember_prompt(prompt);
    gl_width = gl_termw - prompt_width(prompt);
}

// Another prompt than the one on screen: draw it in its place.
void switch_prompt(const char *prompt) {
    int old_width = prompt_width(gl_last_prompt);
    int new_width = prompt_width(prompt);
    gl_cnt = gl_cnt + old_width - new_width;
    remember_prompt(prompt);
    gl_putc('\r');
    gl_puts(prompt);
    gl_pos = gl_shift;
    gl_width = gl_termw - new_width;
}

int shown_length() {
    return gl_off_right ? gl_width - 1 : gl_cnt - gl_shift;
}

// Marks whether text is hidden to the right; returns the end of what fits.
int visible_end() {
    gl_off_right = gl_cnt > gl_shift + gl_width - 1;
    return gl_off_right ? gl_shift + gl_width - 2 : gl_cnt;
}

int clamp_cursor(int cursor) {
    if (cursor > gl_cnt) {
        if (cursor != kEndOfLine && gl_show_completion_progress == 0) gl_beep();
        cursor = gl_cnt;
    }
    if (cursor < 0) {
        gl_beep();
        cursor = 0;
    }
    return cursor;
}

int view_start_for(int cursor) {
    int scroll = std::max(gl_scroll, 1);
    bool keep_margin = gl_off_right || (gl_off_left && cursor < gl_shift + gl_width - scroll / 2);
    int shift = cursor + (keep_margin ? 2 : 0) + scroll - gl_width;
    return shift > 0 ? shift / scroll * scroll : 0;
}

// Leave the terminal cursor over buffer index cursor.
void move_to(int cursor) {
    if (gl_pos > cursor)
        put_repeated('\b', gl_pos - cursor);
    else
        put_text(gl_pos, cursor);
    gl_pos = cursor;
}

void copy_to_killbuf(int from, int len) {
    std::memcpy(gl_killbuf, gl_buf + from, static_cast<size_t>(len));
    gl_killbuf[len] = '\0';
}

// Where a word move from index i in direction dir lands.
int word_boundary(int i, int dir) {
    if (dir > 0) {
        while (i < gl_cnt && !gl_isspace(gl_buf[i])) ++i;
        while (i < gl_cnt && gl_isspace(gl_buf[i])) ++i;
        return i;
    }
    if (i > 0) --i;
    while (i > 0 && gl_isspace(gl_buf[i])) --i;
    while (i > 0 && !gl_isspace(gl_buf[i])) --i;
    if (i < gl_cnt && gl_isspace(gl_buf[i])) ++i;
    return i;
}

}  // namespace

// change: -2 fresh row, -1 cursor move only, else the first changed index.
// cursor: the wanted index; GL_BUF_SIZE means the end of the line.
void gl_redisplay(const char *prompt, int change, int cursor) noexcept {
    if (change == -2) {
        start_row(prompt);
        change = 0;
    } else if (!same_prompt(prompt)) {
        switch_prompt(prompt);
        change = 0;
    }
    int old_length = shown_length();
    int backup = gl_pos - gl_shift;
    if (change >= 0) {
        gl_cnt = static_cast<int>(std::strlen(gl_buf));
        change = std::min(change, gl_cnt);
    }
    cursor = clamp_cursor(cursor);

    int left = 0, right = -1, new_right = -1;
    int new_shift = view_start_for(cursor);
    if (new_shift != gl_shift) {
        gl_shift = new_shift;
        gl_off_left = gl_shift != 0;
        left = gl_shift;
        right = new_right = visible_end();
    } else if (change >= 0) {
        if (change < gl_shift + gl_off_left) {
            left = gl_shift;
        } else {
            left = change;
            backup = gl_pos - change;
        }
        right = visible_end();
        new_right = (gl_extent && left + gl_extent < right) ? left + gl_extent : right;
    }
    int pad = std::max(old_length - shown_length(), 0);

    if (left <= right) {
        put_repeated('\b', backup);
        if (left == gl_shift && gl_off_left) {
            gl_putc('$');
            ++left;
        }
        put_text(left, new_right);
        gl_pos = new_right;
        if (gl_off_right && new_right == right) {
            gl_putc('$');
            ++gl_pos;
        } else {
            put_repeated(' ', pad);
            gl_pos += pad;
        }
    }
    move_to(cursor);
}

void gl_redraw(void) noexcept {
    if (gl_init_state <= 0) return;
    gl_putc('\n');
    gl_redisplay(gl_prompt, -2, gl_pos);
}

void gl_addchar(int c) noexcept {
    if (gl_cnt >= GL_BUF_SIZE - 1) gl_error(kOverflow);
    if (gl_overwrite && gl_pos < gl_cnt) {
        gl_buf[gl_pos] = static_cast<char>(c);
        gl_extent = 1;
    } else {
        std::memmove(gl_buf + gl_pos + 1, gl_buf + gl_pos,
                     static_cast<size_t>(gl_cnt - gl_pos + 1));
        gl_buf[gl_pos] = static_cast<char>(c);
    }
    gl_redisplay(gl_prompt, gl_pos, gl_pos + 1);
}

// dir -1: the character left of the cursor; 0: the one under it.  The
// character goes to the kill buffer only for save in vi command mode.
void gl_del(int dir, int save) noexcept {
    bool possible = (dir == -1 && gl_pos > 0) || (dir == 0 && gl_pos < gl_cnt);
    if (!possible) {
        gl_beep();
        return;
    }
    int at = gl_pos + dir;
    if (save && gl_vi_cmd) copy_to_killbuf(at, 1);
    std::memmove(gl_buf + at, gl_buf + at + 1, static_cast<size_t>(gl_cnt - at));
    gl_redisplay(gl_prompt, at, at);
}

void gl_kill(int pos) noexcept {
    if (pos < 0 || pos >= gl_cnt || gl_cnt - pos > GL_KILL_SIZE - 1) {
        gl_beep();
        return;
    }
    copy_to_killbuf(pos, gl_cnt - pos);
    gl_buf[pos] = '\0';
    gl_redisplay(gl_prompt, pos, pos);
}

// Kills to the next word start (dir > 0) or back to the word start.  One
// trailing blank is dropped from the kill buffer but not kept in the line.
void gl_kill_word(int dir) noexcept {
    int i = word_boundary(gl_pos, dir);
    int start = std::min(i, gl_pos);
    int len = std::max(i, gl_pos) - start;
    if (len > GL_KILL_SIZE - 1) {
        gl_beep();
        return;
    }
    copy_to_killbuf(start, len);
    if (len > 0 && gl_isspace(gl_killbuf[len - 1])) gl_killbuf[len - 1] = '\0';
    gl_redisplay(gl_prompt, -1, start);
    for (int k = 0; k < len; ++k) gl_del(0, 0);
}

void gl_word(int dir) noexcept {
    gl_redisplay(gl_prompt, -1, word_boundary(gl_pos, dir));
}

void gl_yank(void) noexcept {
    int n = static_cast<int>(std::strlen(gl_killbuf));
    if (n == 0) {
        gl_beep();
        return;
    }
    if (!gl_overwrite) {
        if (gl_cnt + n > kLongestLine) gl_error(kOverflow);
        std::memmove(gl_buf + gl_pos + n, gl_buf + gl_pos,
                     static_cast<size_t>(gl_cnt - gl_pos + 1));
    } else if (gl_pos + n > gl_cnt) {
        if (gl_pos + n > kLongestLine) gl_error(kOverflow);
        gl_buf[gl_pos + n] = '\0';
    }
    std::memcpy(gl_buf + gl_pos, gl_killbuf, static_cast<size_t>(n));
    if (gl_overwrite) gl_extent = n;
    gl_redisplay(gl_prompt, gl_pos, gl_pos + n);
}

void gl_transpose(void) noexcept {
    if (gl_pos <= 0 || gl_pos >= gl_cnt) {
        gl_beep();
        return;
    }
    std::swap(gl_buf[gl_pos - 1], gl_buf[gl_pos]);
    gl_extent = 2;
    gl_redisplay(gl_prompt, gl_pos - 1, gl_pos);
}

// Finishes the accepted line: the row is brought back to the start of the
// line and the buffer gets its "\n".
void gl_newline(void) noexcept {
    int change = gl_cnt;
    int len = gl_cnt;
    if (gl_cnt > kLongestLine) gl_error(kOverflow);
    if (gl_accept_hook) {
        change = gl_accept_hook(gl_buf);
        // A hook may lengthen the line; it is cut where "\n" and NUL still fit.
        len = static_cast<int>(strnlen(gl_buf, GL_BUF_SIZE));
        len = std::min(len, kLongestLine);
        gl_buf[len] = '\0';
    }
    // At most gl_width - 5, so the row goes back to the start of the line.
    int cursor = std::min(gl_width - 5, len);
    gl_redisplay(gl_prompt, change, cursor);
    gl_buf[len] = '\n';
    gl_buf[len + 1] = '\0';
    gl_putc('\n');
}

// Callers pass bytes as signed chars: bytes above 127 are never blank.
int gl_isspace(int c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
