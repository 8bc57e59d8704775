// gl_getline: the key loop, the control-key table and the vi command table.
#include <signal.h>
#include <string.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "lineedit/internal.h"

int gl_result;
int gl_vi_cmd;
int (*gl_load_hook)(char *buf) = nullptr;
int (*gl_tab_handler)(char *buf, int promptWidth, int *loc, size_t bufSize) = gl_tab_spaces;
size_t (*gl_prompt_width)(const char *prompt) = gl_text_width;

namespace {

constexpr int kEscape = 27;
constexpr int kTab = 9;
constexpr int kMaxViCount = GL_BUF_SIZE;  // no edit or move needs more repeats
constexpr int kMaxViDigits = 31;

// The state of one gl_getline call.
struct Loop {
    int key = 0;              // the byte being handled
    int last_key = 0;         // the last byte > 0 handled, to tell a second TAB
    int pending = GL_NO_KEY;  // a key read ahead that belonged to no character or sequence
    bool done = false;
    char *result = nullptr;
    // vi command mode
    char digits[kMaxViDigits + 1] = {};
    int ndigits = 0;
    int count = 1;
    bool delete_pending = false;
    // a bracketed paste
    bool pasting = false;
    bool paste_after_cr = false;  // a line feed right after it is the same line end
    bool paste_rang = false;      // the bell rang for something the paste lost
    bool paste_full = false;      // the line had no room: the rest of the paste is dropped
};

void finish(Loop &loop, int result, char *line) {
    gl_result = result;
    loop.result = line;
    loop.done = true;
}

void empty_line() {
    gl_buf[0] = '\0';
    gl_pos = 0;
}

// ---- Moves and history ----------------------------------------------------

void move_to(int cursor) {
    gl_redisplay(gl_prompt, -1, cursor);
}
void move_left() {
    move_to(gl_cluster_prev(gl_buf, gl_pos, gl_cnt));
}
void move_right() {
    move_to(gl_cluster_next(gl_buf, gl_pos, gl_cnt));
}

// Text into the search or the line; false when the line had no room.
bool type_text(const char *bytes, int n) {
    if (gl_search_active) {
        srch_type_char(bytes, n);
        return true;
    }
    return gl_addtext(bytes, n) != 0;
}

// A history line into the buffer (cut to what it holds), cursor at its end.
void show_history_line(const char *line) {
    size_t n = strnlen(line, GL_BUF_SIZE - 1);
    std::memcpy(gl_buf, line, n);
    gl_buf[n] = '\0';
    if (gl_load_hook) gl_load_hook(gl_buf);
    gl_buf[GL_BUF_SIZE - 1] = '\0';
    gl_redisplay(gl_prompt, 0, GL_BUF_SIZE);
}

void history_older() {
    show_history_line(hist_older());
}
void history_newer() {
    show_history_line(hist_newer());
}

// ---- Ways out ---------------------------------------------------------------

void end_of_input(Loop &loop) {
    empty_line();
    gl_cleanup();
    gl_putc('\n');
    finish(loop, -1, nullptr);
}

void accept_line(Loop &loop) {
    gl_newline();
    gl_cleanup();
    finish(loop, 0, gl_buf);
}

// A signal character: the terminal is given back while the signal is
// delivered, and the editor takes it again if the process goes on.
void deliver(Loop &loop, int result, void (*send)()) {
    gl_result = result;
    empty_line();
    gl_cleanup();
    send();
    gl_init();
    gl_out_begin();
    gl_redraw();
    finish(loop, result, gl_buf);
}

void send_interrupt() {
    std::raise(SIGINT);
}
void send_quit() {
    std::raise(SIGQUIT);
}
void send_suspend() {
    kill(0, SIGTSTP);
}

// ---- The control keys ---------------------------------------------------------

void key_delete_or_eof(Loop &loop) {
    if (gl_cnt == 0)
        end_of_input(loop);
    else
        gl_del(0, 1);
}

// A second TAB in a row asks the completer for a listing; the key after a
// listing counts as a first TAB again.
void key_tab(Loop &loop) {
    int loc = gl_pos;
    if (gl_completer) {
        bool second = loop.last_key == kTab;
        gl_buf[GL_BUF_SIZE - 1] = '\0';
        int changed = gl_complete_word(gl_buf, &loc, GL_BUF_SIZE, second ? 1 : 0);
        gl_buf[GL_BUF_SIZE - 1] = '\0';
        if (changed >= 0 || loc != gl_pos) gl_redisplay(gl_prompt, -2, loc);
        if (second) loop.key = loop.last_key = 0;
    } else if (gl_tab_handler) {
        gl_buf[GL_BUF_SIZE - 1] = '\0';
        int width =
            static_cast<int>(gl_prompt_width ? gl_prompt_width(gl_prompt) : std::strlen(gl_prompt));
        // One byte less than the buffer: the line must keep room for "\n".
        int changed = gl_tab_handler(gl_buf, width, &loc, GL_BUF_SIZE - 1);
        gl_buf[GL_BUF_SIZE - 1] = '\0';
        if (changed >= 0 || loc != gl_pos) gl_redisplay(gl_prompt, changed, loc);
    }
}

void key_escape(Loop &loop);

using KeyAction = void (*)(Loop &);
struct KeyBinding {
    int key;
    KeyAction action;
};

template <size_t N>
KeyAction action_of(const KeyBinding (&table)[N], int key) {
    for (const KeyBinding &binding : table)
        if (binding.key == key) return binding.action;
    return nullptr;
}

// Printable ASCII, or a byte with bit 7 set (0x80..0xFF arrive as -128..-1).
bool is_text(int c) {
    return (c >= 32 && c <= 126) || (c < 0 && c >= -128);
}

// The same in both editing modes, and also in vi command mode.
constexpr KeyBinding kControlKeys[] = {
    {0, key_delete_or_eof},                              // Ctrl-Space; also end of input
    {1, [](Loop &) { move_to(0); }},                     // Ctrl-A
    {2, [](Loop &) { move_left(); }},                    // Ctrl-B
    {4, key_delete_or_eof},                              // Ctrl-D
    {5, [](Loop &) { move_to(gl_cnt); }},                // Ctrl-E
    {6, [](Loop &) { move_right(); }},                   // Ctrl-F
    {8, [](Loop &) { gl_del(-1, 0); }},                  // Ctrl-H, Backspace
    {9, key_tab},                                        // Ctrl-I, TAB
    {10, accept_line},                                   // Ctrl-J, Return
    {11, [](Loop &) { gl_kill(gl_pos); }},               // Ctrl-K
    {12, [](Loop &) { gl_redraw(); }},                   // Ctrl-L
    {13, accept_line},                                   // Ctrl-M, Return
    {14, [](Loop &) { history_newer(); }},               // Ctrl-N
    {15, [](Loop &) { gl_overwrite = !gl_overwrite; }},  // Ctrl-O
    {16, [](Loop &) { history_older(); }},               // Ctrl-P
    {18, [](Loop &) { srch_older(1); }},                 // Ctrl-R
    {19, [](Loop &) { srch_newer(1); }},                 // Ctrl-S
    {20, [](Loop &) { gl_transpose(); }},                // Ctrl-T
    {21, [](Loop &) { gl_kill(0); }},                    // Ctrl-U
    {23, [](Loop &) { gl_kill_word(-1); }},              // Ctrl-W
    {25, [](Loop &) { gl_yank(); }},                     // Ctrl-Y
    {kEscape, key_escape},                               // Escape
    {127, [](Loop &) { gl_del(-1, 0); }},                // Delete
};

// A key with no binding may be one of the terminal's signal characters.
void key_unbound(Loop &loop) {
    int key = loop.key;
    if (key == gl_intrc)
        deliver(loop, -2, send_interrupt);
    else if (key == gl_quitc)
        deliver(loop, -2, send_quit);
    else if (key == gl_suspc || key == gl_dsuspc)
        deliver(loop, -3, send_suspend);
    else
        gl_beep();
}

void dispatch(Loop &loop) {
    if (KeyAction action = action_of(kControlKeys, loop.key))
        action(loop);
    else if (loop.key > 0)
        key_unbound(loop);
}

// ---- vi command mode --------------------------------------------------------------

// What the interpreter does after a command: repeat it up to the count, or
// stop (the command has settled the count itself).
enum class ViFlow { Repeat, Stop };

void vi_reset(Loop &loop) {
    loop.count = 1;
    loop.delete_pending = false;
}

void leave_vi_command(int overwrite) {
    gl_overwrite = overwrite;
    gl_vi_cmd = 0;
}

ViFlow vi_right(Loop &loop) {
    if (loop.delete_pending)
        gl_del(0, 1);
    else
        move_right();
    return ViFlow::Repeat;
}

ViFlow vi_left(Loop &loop) {
    if (!loop.delete_pending) {
        move_left();
    } else if (gl_pos > 0) {
        move_left();
        gl_del(0, 1);
    }
    return ViFlow::Repeat;
}

ViFlow vi_word_forward(Loop &loop) {
    if (loop.delete_pending)
        gl_kill_word(1);
    else
        gl_word(1);
    return ViFlow::Repeat;
}

ViFlow vi_end(Loop &loop) {
    int last = gl_cluster_prev(gl_buf, gl_cnt, gl_cnt);
    if (loop.delete_pending)
        gl_kill(gl_pos);
    else
        move_to(last > 0 ? last : gl_cnt);
    return ViFlow::Repeat;
}

ViFlow vi_start(Loop &loop) {
    if (!loop.delete_pending) {
        move_to(0);
        return ViFlow::Repeat;
    }
    int end = gl_cnt - gl_pos;
    move_to(0);
    while (gl_cnt > end && gl_pos < gl_cnt) gl_del(0, 0);
    vi_reset(loop);
    return ViFlow::Stop;
}

ViFlow vi_delete(Loop &loop) {
    if (!loop.delete_pending) {
        loop.delete_pending = true;
        return ViFlow::Stop;
    }
    gl_kill(0);
    vi_reset(loop);
    gl_vi_cmd = 0;
    return ViFlow::Stop;
}

// r at the end of the line, or with no byte to put in, changes nothing;
// Escape (or a key that sends a sequence) replaces nothing and is handled
// as itself.
ViFlow vi_replace(Loop &loop) {
    int c = gl_getc();
    if (c == kEscape) {
        loop.pending = c;
    } else if (gl_pos >= gl_cnt || c == 0 || c == GL_READ_ERROR) {
        gl_beep();
    } else {
        char bytes[4];
        int n = gl_read_char(c, bytes, &loop.pending);
        gl_replace(bytes, n);
    }
    vi_reset(loop);
    return ViFlow::Stop;
}

ViFlow vi_append(Loop &) {
    gl_overwrite = 0;
    move_right();
    gl_vi_cmd = 0;
    return ViFlow::Repeat;
}

using ViAction = ViFlow (*)(Loop &);
struct ViBinding {
    int key;
    ViAction action;
};

constexpr ViBinding kViCommands[] = {
    {' ', vi_right},
    {'l', vi_right},
    {'h', vi_left},
    {'w', vi_word_forward},
    {'b',
     [](Loop &) {
         gl_word(-1);
         return ViFlow::Repeat;
     }},
    {'$', vi_end},
    {'^', vi_start},
    {'d', vi_delete},
    {'a', vi_append},
    {'A', vi_append},
    {'o', vi_append},
    {'O', vi_append},
    {'i',
     [](Loop &) {
         leave_vi_command(0);
         return ViFlow::Repeat;
     }},
    {'I',
     [](Loop &) {
         leave_vi_command(0);
         return ViFlow::Repeat;
     }},
    {'R',
     [](Loop &) {
         leave_vi_command(1);
         return ViFlow::Repeat;
     }},
    {'r', vi_replace},
    {'p',
     [](Loop &) {
         move_right();
         gl_yank();
         return ViFlow::Repeat;
     }},
    {'P',
     [](Loop &) {
         gl_yank();
         return ViFlow::Repeat;
     }},
    {'j',
     [](Loop &) {
         history_newer();
         return ViFlow::Repeat;
     }},
    {'k',
     [](Loop &) {
         history_older();
         return ViFlow::Repeat;
     }},
};

ViAction vi_action(int key) {
    for (const ViBinding &binding : kViCommands)
        if (binding.key == key) return binding.action;
    return nullptr;
}

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

// The digits typed so far become the count (held below kMaxViCount).
void take_count(Loop &loop) {
    if (loop.ndigits == 0) return;
    int count = 0;
    for (int i = 0; i < loop.ndigits; ++i) {
        count = count * 10 + (loop.digits[i] - '0');
        if (count > kMaxViCount) count = kMaxViCount;
    }
    loop.count = count;
    loop.ndigits = 0;
}

// Runs one key of vi command mode count times.  A digit is added to the
// count digits at each repetition (once, unless a d kept a larger count)
// and cancels a pending d; the digits become the count of the next other
// key.
void vi_command(Loop &loop, int c) {
    bool digit = is_digit(c);
    ViAction action = digit ? nullptr : vi_action(c);
    int done = 0;
    do {
        if (!digit)
            take_count(loop);
        else if (loop.ndigits < kMaxViDigits)
            loop.digits[loop.ndigits++] = static_cast<char>(c);
        if (action && action(loop) == ViFlow::Stop) return;
    } while (++done < loop.count);
    vi_reset(loop);
}

void enter_vi_command(Loop &loop) {
    gl_vi_cmd = 1;
    vi_reset(loop);
    loop.ndigits = 0;
    if (gl_pos > 0) gl_redisplay(gl_prompt, -2, gl_cluster_prev(gl_buf, gl_pos, gl_cnt));
}

// ---- Escape and key sequences -------------------------------------------------

void start_paste(Loop &loop) {
    loop.pasting = true;
    loop.paste_after_cr = loop.paste_rang = loop.paste_full = false;
}

// The keys that send sequences; the same in both editing modes and in vi
// command mode.
constexpr KeyBinding kSequenceKeys[] = {
    {GL_KEY_UP, [](Loop &) { history_older(); }},
    {GL_KEY_DOWN, [](Loop &) { history_newer(); }},
    {GL_KEY_RIGHT, [](Loop &) { move_right(); }},
    {GL_KEY_LEFT, [](Loop &) { move_left(); }},
    {GL_KEY_HOME, [](Loop &) { move_to(0); }},
    {GL_KEY_END, [](Loop &) { move_to(gl_cnt); }},
    {GL_KEY_DELETE, [](Loop &) { gl_del(0, 1); }},  // Ctrl-D that never ends the input
    {GL_KEY_WORD_RIGHT, [](Loop &) { gl_word(1); }},
    {GL_KEY_WORD_LEFT, [](Loop &) { gl_word(-1); }},
    {GL_KEY_PASTE_START, start_paste},
    {GL_KEY_PASTE_END, [](Loop &) {}},  // the end of a paste not seen starting
};

// Any other sequence rings the bell and changes nothing.
void key_sequence(Loop &loop, int key) {
    if (KeyAction action = action_of(kSequenceKeys, key))
        action(loop);
    else
        gl_beep();
}

// The byte after a lone Escape belongs to it: Alt-f, Alt-b, a vi command.
void key_escape(Loop &loop) {
    int c;
    int key = gl_read_escape(&c);
    if (key != GL_KEY_NONE) {
        loop.pending = c;
        key_sequence(loop, key);
    } else if (gl_vi_mode == 0 && (c == 'f' || c == 'F')) {
        gl_word(1);
    } else if (gl_vi_mode == 0 && (c == 'b' || c == 'B')) {
        gl_word(-1);
    } else if (c == GL_READ_ERROR) {
        // a read error: nothing
    } else if (gl_vi_cmd) {
        gl_beep();
    } else {
        enter_vi_command(loop);
        if (gl_cnt > 0 || gl_vi_mode == 1)
            vi_command(loop, c);
        else
            gl_vi_cmd = 0;
    }
}

// Escape ends a search and changes nothing else; a sequence right behind
// it is a key of its own, read whole, that acts on the line found.
void escape_ending_search(Loop &loop) {
    srch_end();
    int key = gl_read_escape(&loop.pending);
    if (key != GL_KEY_NONE) key_sequence(loop, key);
}

// ---- Bracketed paste ----------------------------------------------------------------

// What the paste loses rings the bell, once per paste.
void paste_loses(Loop &loop) {
    if (!loop.paste_rang) gl_beep();
    loop.paste_rang = true;
}

// Inside a paste only the end mark is a key; other sequences are lost.
void paste_escape(Loop &loop) {
    if (gl_read_escape(&loop.pending) == GL_KEY_PASTE_END)
        loop.pasting = false;
    else
        paste_loses(loop);
}

// A paste is text: a line end (CR, LF or CR LF) or a tab becomes one
// space, other control characters are dropped.  Once a character finds no
// room in the line, the rest of the paste is dropped.
void paste_key(Loop &loop, int c) {
    bool after_cr = loop.paste_after_cr;
    loop.paste_after_cr = c == '\r';
    if (c == '\n' && after_cr) return;
    if (c == kEscape) {
        paste_escape(loop);
        return;
    }
    if (c == '\r' || c == '\n' || c == kTab) c = ' ';
    if (!is_text(c)) {
        paste_loses(loop);
        return;
    }
    char bytes[4];
    int n = gl_read_char(c, bytes, &loop.pending);
    if (loop.paste_full || type_text(bytes, n)) return;
    loop.paste_full = loop.paste_rang = true;  // the bell has rung
}

// ---- The loop ---------------------------------------------------------------------------

// Once per process: vi mode when EDITOR names vi, else as .inputrc says.
void decide_editing_mode() {
    if (gl_vi_mode >= 0) return;
    gl_vi_mode = 0;
    if (const char *editor = std::getenv("EDITOR"))
        gl_vi_mode = std::strstr(editor, "vi") != nullptr;
    if (gl_vi_mode == 0) gl_read_inputrc();
}

// While a search runs, some keys only steer it; returns true for those.
bool search_consumes(Loop &loop, int key) {
    switch (key) {
        case kEscape:
            escape_ending_search(loop);
            return true;
        case 14:
        case 16:
            srch_end();
            return true;
        case 8:
        case 127:
            srch_type(-1);
            return true;
        case 18:
        case 19:
            return false;
        default:
            srch_end();
            return false;
    }
}

void handle_key(Loop &loop, int c) {
    if (c == GL_READ_ERROR) {
        empty_line();
        gl_cleanup();
        finish(loop, -1, nullptr);
        return;
    }
    // End of input: a line never confirmed with Return is not handed back.
    if (c == 0 && gl_eof) {
        end_of_input(loop);
        return;
    }
    gl_extent = 0;
    loop.key = c;
    if (loop.pasting) {
        paste_key(loop, c);
        return;
    }
    if (c != kTab && is_text(c)) {
        if (gl_vi_cmd) {
            vi_command(loop, c);
            return;
        }
        char bytes[4];
        int n = gl_read_char(c, bytes, &loop.pending);
        type_text(bytes, n);
    } else {
        if (gl_search_active && search_consumes(loop, c)) return;
        dispatch(loop);
    }
    if (loop.key > 0) loop.last_key = loop.key;
}

void start_call(const char *prompt) {
    gl_result = 0;
    gl_vi_cmd = 0;
    gl_search_active = 0;
    decide_editing_mode();
    gl_chars_setup();
    gl_init();
    gl_paste_marks_on();
    gl_ask_window_size();
    gl_prompt = prompt ? prompt : "";
    empty_line();
    gl_killbuf[0] = '\0';
    if (gl_load_hook) gl_load_hook(gl_buf);
    gl_buf[GL_BUF_SIZE - 1] = '\0';
    gl_redisplay(gl_prompt, -2, GL_BUF_SIZE);
}

}  // namespace

char *gl_getline(const char *prompt) noexcept {
    Loop loop;
    gl_out_begin();  // written at each read, so once per key
    start_call(prompt);
    gl_winch_install();
    while (!loop.done) {
        int c = loop.pending != GL_NO_KEY ? loop.pending : gl_getc();
        loop.pending = GL_NO_KEY;
        handle_key(loop, c);
    }
    gl_out_flush();
    return loop.result;
}

// Spaces up to the next multiple of 8 columns, counted from the prompt's
// start.  Returns the index from which the line changed.
int gl_tab_spaces(char *buf, int promptWidth, int *loc, size_t bufSize) noexcept {
    if (buf == nullptr || loc == nullptr || *loc < 0 || bufSize == 0) return -1;
    int at = *loc;
    const size_t len = strnlen(buf, bufSize - 1);
    if (static_cast<size_t>(at) > len) {
        gl_beep();
        return -1;
    }
    int spaces = 8 - (gl_cols(buf, 0, at) + promptWidth) % 8;
    // Spaces that would push typed text off the end of the buffer are
    // refused, so that nothing the user typed is lost.
    if (len + static_cast<size_t>(spaces) > bufSize - 1) {
        gl_beep();
        return -1;
    }
    std::memmove(buf + at + spaces, buf + at, len - static_cast<size_t>(at) + 1);
    std::memset(buf + at, ' ', static_cast<size_t>(spaces));
    *loc = at + spaces;
    return at;
}
