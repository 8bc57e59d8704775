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
int gl_row_extent;
int (*gl_accept_hook)(char *buf) = nullptr;

namespace {

constexpr int kEndOfLine = GL_BUF_SIZE;    // cursor value meaning "end of the line"
constexpr int kLongestLine = GL_LINE_MAX;  // room left for "\n" and NUL
constexpr int kWidestRow = 1000;           // a bound on the row's extent (4 rows of 250)

// The prompt drawn last, with its full length, so that a prompt wider than
// the screen still compares equal to itself and is not redrawn at every key.
char gl_last_prompt[GL_BUF_SIZE];
size_t gl_last_prompt_len;

// In UTF-8 mode a column is not a byte, and the line may have changed
// under the row: the columns shown after the prompt and the terminal
// cursor's column there are kept as they were drawn.  In byte mode they
// follow from gl_cnt, gl_pos and gl_shift.
int utf8_shown, utf8_col;

int prompt_width(const char *prompt) {
    return static_cast<int>(gl_prompt_width ? gl_prompt_width(prompt) : std::strlen(prompt));
}

int cols(int from, int to) {
    return gl_cols(gl_buf, from, to);
}
int next_char(int i) {
    return gl_char_next(gl_buf, i, gl_cnt);
}
// Moves and edits step over a character with its marks.
int next_unit(int i) {
    return gl_cluster_next(gl_buf, i, gl_cnt);
}
int prev_unit(int i) {
    return gl_cluster_prev(gl_buf, i, gl_cnt);
}
bool zero_width(int i) {
    return i < gl_cnt && gl_char_cols(gl_buf, i, gl_cnt) == 0;
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
    for (int i = from; i < to; i = next_char(i)) {
        char shown[4];
        int n = gl_char_shown(gl_buf, i, gl_cnt, shown);
        for (int k = 0; k < n; ++k) gl_putc(shown[k]);
    }
}

int cursor_col() {
    return gl_utf8 ? utf8_col : gl_pos - gl_shift;
}

// Columns of text the row shows now.
int shown_now() {
    return gl_off_right ? gl_width - 1 : cols(gl_shift, gl_cnt);
}

int shown_length() {
    return gl_utf8 ? utf8_shown : shown_now();
}

// Change -2: forget the view and draw the prompt from the start of the row.
void start_row(const char *prompt) {
    gl_pos = gl_cnt = gl_shift = gl_off_right = gl_off_left = 0;
    utf8_shown = utf8_col = 0;
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
    utf8_shown += old_width - new_width;
    remember_prompt(prompt);
    gl_putc('\r');
    gl_puts(prompt);
    gl_pos = gl_shift;
    utf8_col = 0;
    gl_width = gl_termw - new_width;
    if (gl_off_right) utf8_shown = gl_width - 1;
}

// Where the text starts after a "$" at the left edge: the character under
// it and the marks that go with it are hidden.
int after_left_marker() {
    int i = next_char(gl_shift);
    while (zero_width(i)) i = next_char(i);
    return i;
}

// Marks whether text is hidden to the right; returns the end of what fits.
int visible_end() {
    gl_off_right = cols(gl_shift, gl_cnt) > gl_width - 1;
    return gl_off_right ? gl_index_at(gl_buf, gl_shift, gl_cnt, gl_width - 2) : gl_cnt;
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
    return gl_cluster_start(gl_buf, cursor, gl_cnt);
}

// The first character that starts at or after column col, past any marks.
int index_from_col(int col) {
    int i = gl_index_at(gl_buf, 0, gl_cnt, col);
    if (cols(0, i) < col) i = next_char(i);
    while (zero_width(i)) i = next_char(i);
    return i;
}

// Scrolls in steps of gl_scroll columns, kept small enough for the cursor
// to stay in view on a narrow row.
int view_start_for(int cursor) {
    int scroll = std::clamp(gl_scroll, 1, std::max(1, gl_width - 3));
    int at = cols(0, cursor);
    bool keep_margin =
        gl_off_right || (gl_off_left && at < cols(0, gl_shift) + gl_width - scroll / 2);
    int shift = at + (keep_margin ? 2 : 0) + scroll - gl_width;
    if (shift <= 0) return 0;
    // A wide character just left of the cursor must not put it under the "$".
    int start = index_from_col(shift / scroll * scroll);
    if (gl_utf8 && start >= cursor && cursor > 0)
        start = gl_cluster_start(gl_buf, gl_char_prev(gl_buf, cursor), gl_cnt);
    return start;
}

// Leave the terminal cursor over buffer index cursor.
void move_to(int cursor) {
    int target = cols(gl_shift, cursor);
    if (cursor_col() > target)
        put_repeated('\b', cursor_col() - target);
    else
        put_text(gl_pos, cursor);
    gl_pos = cursor;
    utf8_col = target;
}

void copy_to_killbuf(int from, int len) {
    std::memcpy(gl_killbuf, gl_buf + from, static_cast<size_t>(len));
    gl_killbuf[len] = '\0';
}

// Replaces the remove bytes at at by the n bytes of text.
void splice(int at, int remove, const char *text, int n) {
    std::memmove(gl_buf + at + n, gl_buf + at + remove,
                 static_cast<size_t>(gl_cnt - at - remove + 1));
    std::memcpy(gl_buf + at, text, static_cast<size_t>(n));
}

// Bytes of the first count characters (with their marks) from at, fewer
// at the end.
int bytes_of_units(int at, int count) {
    int i = at;
    for (int k = 0; k < count && i < gl_cnt; ++k) i = next_unit(i);
    return i - at;
}

int count_units(const char *text, int n) {
    int count = 0;
    for (int i = 0; i < n; i = gl_cluster_next(text, i, n)) ++count;
    return count;
}

// The longest start of the line, up to len bytes, that ends on a
// character boundary.
int cut_to(int len) {
    return gl_char_start(gl_buf, len, static_cast<int>(strnlen(gl_buf, GL_BUF_SIZE)));
}

// Where a word move from index i in direction dir lands.
int word_boundary(int i, int dir) {
    if (dir > 0) {
        while (i < gl_cnt && !gl_isspace(gl_buf[i])) i = next_unit(i);
        while (i < gl_cnt && gl_isspace(gl_buf[i])) i = next_unit(i);
        return i;
    }
    if (i > 0) i = prev_unit(i);
    while (i > 0 && gl_isspace(gl_buf[i])) i = prev_unit(i);
    while (i > 0 && !gl_isspace(gl_buf[i])) i = prev_unit(i);
    if (i < gl_cnt && gl_isspace(gl_buf[i])) i = next_unit(i);
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
    int backup = cursor_col();
    if (change >= 0) {
        gl_cnt = static_cast<int>(std::strlen(gl_buf));
        change = gl_cluster_start(gl_buf, std::min(change, gl_cnt), gl_cnt);
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
        if (change < (gl_off_left ? after_left_marker() : gl_shift)) {
            left = gl_shift;
        } else {
            left = change;
            backup = cursor_col() - cols(gl_shift, change);
        }
        right = visible_end();
        new_right = (gl_extent && left + gl_extent < right) ? left + gl_extent : right;
    }
    int pad = std::max(old_length - shown_now(), 0);

    if (left <= right) {
        put_repeated('\b', backup);
        if (left == gl_shift && gl_off_left) {
            gl_putc('$');
            put_repeated(' ', gl_char_cols(gl_buf, left, gl_cnt) - 1);  // rest of a wide one
            left = after_left_marker();
        }
        put_text(left, new_right);
        gl_pos = new_right;
        utf8_col = cols(gl_shift, new_right);
        if (gl_off_right && new_right == right) {
            put_repeated(' ', gl_width - 2 - utf8_col);  // a wide character did not fit
            gl_putc('$');
            ++gl_pos;
            utf8_col = gl_width - 1;
        } else {
            put_repeated(' ', pad);
            gl_pos += pad;
            utf8_col += pad;
        }
        gl_row_extent = std::max(gl_row_extent, gl_termw - gl_width + utf8_col);
    }
    move_to(cursor);
    utf8_shown = shown_now();
}

void gl_redraw(void) noexcept {
    if (gl_init_state <= 0) return;
    gl_putc('\n');
    gl_redisplay(gl_prompt, -2, gl_pos);
}

// The window changed size: the row is blanked and drawn again from its
// start for the new width.  It is blanked as far as it was ever drawn,
// since a terminal may keep the cells past a narrower width and show them
// again when the window widens, but never past the new width.  A terminal
// that wraps the row anew when the window narrows leaves its start on the
// rows above the cursor; a backspace at the start of a row takes such a
// terminal up over a wrapped row (elsewhere it does nothing), so every row
// the old row may now take is blanked, from the cursor's up to the first.
void gl_resized(void) noexcept {
    if (gl_init_state <= 0) return;
    gl_ask_window_size();
    int rows = std::max((gl_row_extent + gl_termw - 1) / gl_termw, 1);
    for (int row = 0; row < rows; ++row) {
        if (row > 0) gl_putc('\b');
        gl_putc('\r');
        put_repeated(' ', std::min(gl_row_extent, gl_termw));
        gl_putc('\r');
    }
    // Rows wrapped anew are one row again when the window widens.
    if (rows > 1) gl_row_extent = std::min(rows * gl_termw, kWidestRow);
    gl_redisplay(gl_search_active ? srch_prompt : gl_prompt, -2, gl_pos);
}

void gl_addchar(int c) noexcept {
    char byte = static_cast<char>(c);
    gl_addtext(&byte, 1);
}

// A character that would make the line longer than it may be rings the
// bell and is dropped.  A mark typed in overwrite mode goes with the
// character before it and replaces nothing.
int gl_addtext(const char *c, int n) noexcept {
    bool overwrites = gl_overwrite && gl_pos < gl_cnt && gl_char_cols(c, 0, n) > 0;
    int replaced = overwrites ? next_unit(gl_pos) - gl_pos : 0;
    if (gl_cnt - replaced + n > kLongestLine) {
        gl_beep();
        return 0;
    }
    bool same_size = replaced == n && cols(gl_pos, gl_pos + n) == gl_char_cols(c, 0, n);
    splice(gl_pos, replaced, c, n);
    if (replaced > 0) gl_extent = same_size ? n : 0;
    gl_redisplay(gl_prompt, gl_pos, gl_pos + n);
    return 1;
}

void gl_replace(const char *c, int n) noexcept {
    int replaced = next_unit(gl_pos) - gl_pos;
    if (gl_cnt - replaced + n > kLongestLine) {
        gl_beep();
        return;
    }
    splice(gl_pos, replaced, c, n);
    gl_redisplay(gl_prompt, gl_pos, gl_pos);
}

// dir -1: the character left of the cursor; 0: the one under it; each
// with its marks.  It goes to the kill buffer only for save in vi command
// mode (and is refused when it does not fit there).
void gl_del(int dir, int save) noexcept {
    bool possible = (dir == -1 && gl_pos > 0) || (dir == 0 && gl_pos < gl_cnt);
    int at = dir == -1 ? prev_unit(gl_pos) : gl_pos;
    int len = possible ? next_unit(at) - at : 0;
    bool saved = save && gl_vi_cmd;
    if (!possible || (saved && len > GL_KILL_SIZE - 1)) {
        gl_beep();
        return;
    }
    int change = gl_cluster_start(gl_buf, at, gl_cnt);  // a mark's base is drawn again
    if (saved) copy_to_killbuf(at, len);
    splice(at, len, "", 0);
    gl_redisplay(gl_prompt, change, at);
}

void gl_kill(int pos) noexcept {
    if (pos < 0 || pos >= gl_cnt || gl_cnt - pos > GL_KILL_SIZE - 1) {
        gl_beep();
        return;
    }
    int change = gl_cluster_start(gl_buf, pos, gl_cnt);
    copy_to_killbuf(pos, gl_cnt - pos);
    gl_buf[pos] = '\0';
    gl_redisplay(gl_prompt, change, pos);
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
    for (int end = gl_cnt - len; gl_cnt > end && gl_pos < gl_cnt;) gl_del(0, 0);
}

void gl_word(int dir) noexcept {
    gl_redisplay(gl_prompt, -1, word_boundary(gl_pos, dir));
}

// In overwrite mode the text replaces as many characters as it holds.
void gl_yank(void) noexcept {
    int n = static_cast<int>(std::strlen(gl_killbuf));
    if (n == 0) {
        gl_beep();
        return;
    }
    int replaced = gl_overwrite ? bytes_of_units(gl_pos, count_units(gl_killbuf, n)) : 0;
    if (gl_cnt - replaced + n > kLongestLine) {
        gl_beep();
        return;
    }
    bool same_size = replaced == n && cols(gl_pos, gl_pos + n) == gl_cols(gl_killbuf, 0, n);
    splice(gl_pos, replaced, gl_killbuf, n);
    if (gl_overwrite) gl_extent = same_size ? n : 0;
    gl_redisplay(gl_prompt, gl_pos, gl_pos + n);
}

void gl_transpose(void) noexcept {
    if (gl_pos <= 0 || gl_pos >= gl_cnt) {
        gl_beep();
        return;
    }
    int before = prev_unit(gl_pos);
    int first = gl_pos - before, second = next_unit(gl_pos) - gl_pos;
    std::rotate(gl_buf + before, gl_buf + gl_pos, gl_buf + gl_pos + second);
    gl_extent = first + second;
    gl_redisplay(gl_prompt, before, before + second);
}

// Finishes the accepted line: the row is brought back to the start of the
// line and the buffer gets its "\n".  A line longer than the longest one
// (a history line, or a hook's doing) is cut where "\n" and NUL fit.
void gl_newline(void) noexcept {
    int change = gl_cnt;
    int len = gl_cnt;
    if (gl_cnt > kLongestLine) {
        len = change = cut_to(kLongestLine);
        gl_buf[len] = '\0';
    }
    if (gl_accept_hook) {
        change = gl_accept_hook(gl_buf);
        len = static_cast<int>(strnlen(gl_buf, GL_BUF_SIZE));
        if (len > kLongestLine) len = cut_to(kLongestLine);
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
