/*
 * internal.h - the line editor's inner layers, for its own files and tests.
 *
 * terminal.cpp  raw mode, byte I/O, window size and resizes, fatal errors
 * chars.cpp     characters: their length in bytes and width in columns
 * input.cpp     keys: a character's bytes, escape sequences read whole
 * getpass.cpp   masked entry
 * redisplay.cpp the line buffer, its edits and the one-row redisplay
 * history.cpp   the history ring, history files, incremental search
 * complete.cpp  the completion driver and the match listing
 * filename.cpp  the filename completer and the home directory
 * keys.cpp      gl_getline: the key loop and the key tables
 */
#ifndef LINEEDIT_INTERNAL_H
#define LINEEDIT_INTERNAL_H

#include <dirent.h>
#include <stddef.h>
#include <sys/select.h>
#include <sys/types.h>
#include <termios.h>

#include "lineedit/lineedit.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Terminal layer (terminal.cpp) ------------------------------------------ */

/* The system calls the terminal layer makes, so that tests and fuzzers can
 * run the editor without a terminal.  gl_io starts out as the real ones. */
struct gl_io_ops {
    ssize_t (*read)(int fd, void *buf, size_t n);
    ssize_t (*write)(int fd, const void *buf, size_t n);
    int (*isatty)(int fd);
    int (*tcgetattr)(int fd, struct termios *t);
    int (*tcsetattr)(int fd, int when, const struct termios *t);
    int (*select)(int n, fd_set *r, fd_set *w, fd_set *e, struct timeval *tv);
    void (*exit)(int status); /* must not return */
    /* The window's size in columns and rows; null, or a nonzero return,
     * when it cannot be known. */
    int (*winsize)(int fd, int *cols, int *rows);
};
extern struct gl_io_ops gl_io;

/* -1 never initialised, 1 raw mode, 0 raw mode left again. */
extern int gl_init_state;
/* Set when the last read returned no byte (end of input). */
extern int gl_eof;
extern signed char gl_intrc, gl_quitc, gl_suspc, gl_dsuspc;
extern struct termios gl_saved_termios, gl_raw_termios;

void gl_term_raw(void) GL_NOEXCEPT;
void gl_term_restore(void) GL_NOEXCEPT;

/* A key read is a byte as a signed char (-128 to 127; 0xFF is -1 like any
 * other byte), or one of these. */
#define GL_READ_ERROR (-256) /* the read failed (gl_getc_timed: or no byte came) */
#define GL_TIMEOUT (-257)    /* gl_getc_timed: nothing within the time limit */
#define GL_NO_KEY (-258)     /* no key: nothing left over from a read */

/* One byte; 0 at end of input (gl_eof set).  gl_getc_timed waits at most
 * tenths of a second for it. */
int gl_getc(void) GL_NOEXCEPT;
int gl_getc_timed(int tenths) GL_NOEXCEPT;
void gl_putc(int c) GL_NOEXCEPT;
void gl_puts(const char *s) GL_NOEXCEPT;
void gl_beep(void) GL_NOEXCEPT;
#ifdef __cplusplus
[[noreturn]]
#endif
void gl_error(const char *message) GL_NOEXCEPT;
void gl_init(void) GL_NOEXCEPT;
void gl_cleanup(void) GL_NOEXCEPT;
void gl_read_inputrc(void) GL_NOEXCEPT;

/* Output of the editor itself is collected between gl_out_begin and
 * gl_out_flush and written with one write; gl_putc and gl_puts called
 * outside such a stretch write at once. */
void gl_out_begin(void) GL_NOEXCEPT;
void gl_out_flush(void) GL_NOEXCEPT;

/* Asks the terminal to mark pastes when the program wants it (see
 * gl_bracketed_paste); gl_cleanup asks it to stop. */
void gl_paste_marks_on(void) GL_NOEXCEPT;

/* Takes the window's size unless the program or COLUMNS/ROWS fixed it. */
void gl_ask_window_size(void) GL_NOEXCEPT;
/* A SIGWINCH handler for the time keys are read; it chains to the
 * program's own handler, which gl_winch_restore puts back. */
void gl_winch_install(void) GL_NOEXCEPT;
void gl_winch_restore(void) GL_NOEXCEPT;
/* Called by gl_getc when a resize interrupted the read. */
void gl_resized(void) GL_NOEXCEPT;

/* ---- Characters (chars.cpp) ------------------------------------------------- */

/* 1 when the program's locale says UTF-8 (looked at by gl_chars_setup at
 * each gl_getline and gl_getpass): the editor then works on UTF-8
 * characters; otherwise every byte is a character one column wide.
 * Indexes below are byte offsets into s, n its length. */
extern int gl_utf8;
void gl_chars_setup(void) GL_NOEXCEPT;
/* Bytes of the character at i (1 for a byte that starts none). */
int gl_char_len(const char *s, int i, int n) GL_NOEXCEPT;
/* The next character's start; i + 1 at or past the end. */
int gl_char_next(const char *s, int i, int n) GL_NOEXCEPT;
/* The previous character's start; -1 at the start. */
int gl_char_prev(const char *s, int i) GL_NOEXCEPT;
/* The start of the character holding byte i. */
int gl_char_start(const char *s, int i, int n) GL_NOEXCEPT;
/* Like gl_char_start, then back over zero-width marks to their base. */
int gl_cluster_start(const char *s, int i, int n) GL_NOEXCEPT;
/* A character with the zero-width marks after it is one unit for moves
 * and edits: the next unit's start (i + 1 at or past the end), and the
 * previous one's (-1 at the start). */
int gl_cluster_next(const char *s, int i, int n) GL_NOEXCEPT;
int gl_cluster_prev(const char *s, int i, int n) GL_NOEXCEPT;
/* Columns of the character at i, and of the characters in [from, to). */
int gl_char_cols(const char *s, int i, int n) GL_NOEXCEPT;
int gl_cols(const char *s, int from, int to) GL_NOEXCEPT;
/* The furthest character start reached from from within cols columns
 * (in byte mode simply from + cols). */
int gl_index_at(const char *s, int from, int n, int cols) GL_NOEXCEPT;
/* The bytes that show the character at i on screen; returns their count. */
int gl_char_shown(const char *s, int i, int n, char out[4]) GL_NOEXCEPT;
/* How many more bytes the start of a character in s[0..n) wants; 0 once
 * it is whole, or when it cannot become a character. */
int gl_char_wanted(const char *s, int n) GL_NOEXCEPT;
/* Whether key (a byte as gl_getc returns it) continues a character. */
int gl_char_continues(int key) GL_NOEXCEPT;

/* Columns of a prompt: bytes, or in UTF-8 columns less ESC [ sequences. */
size_t gl_text_width(const char *text) GL_NOEXCEPT;

/* ---- Keys (input.cpp) --------------------------------------------------------- */

/* The bytes of the character whose first byte c was read, read from the
 * keyboard (at most 4); a key read that does not continue it is left in
 * *stray, else *stray is GL_NO_KEY. */
int gl_read_char(int c, char bytes[4], int *stray) GL_NOEXCEPT;

/* Keys that arrive as escape sequences. */
enum gl_key_name {
    GL_KEY_NONE = -1, /* gl_read_escape: no sequence followed Escape */
    GL_KEY_UNKNOWN,
    GL_KEY_UP,
    GL_KEY_DOWN,
    GL_KEY_RIGHT,
    GL_KEY_LEFT,
    GL_KEY_HOME,
    GL_KEY_END,
    GL_KEY_DELETE,
    GL_KEY_WORD_RIGHT,
    GL_KEY_WORD_LEFT,
    GL_KEY_PASTE_START,
    GL_KEY_PASTE_END
};
/* After ESC and intro ('[' or 'O'): reads the sequence to its final byte
 * and names it.  A key read that cannot be part of a sequence ends it
 * unknown and is left in *stray, else *stray is GL_NO_KEY. */
int gl_read_sequence(int intro, int *stray) GL_NOEXCEPT;
/* After ESC: waits a moment for the next byte; when it starts a sequence,
 * reads and names it as gl_read_sequence does.  Otherwise returns
 * GL_KEY_NONE with that byte (or GL_READ_ERROR) in *stray, or GL_NO_KEY
 * when none came in time. */
int gl_read_escape(int *stray) GL_NOEXCEPT;

/* ---- Line buffer and redisplay (redisplay.cpp) ------------------------------ */

#define GL_KILL_SIZE 256
/* The longest line: "\n" and NUL must still fit after it. */
#define GL_LINE_MAX (GL_BUF_SIZE - 2)

extern char gl_buf[GL_BUF_SIZE];
extern int gl_pos, gl_cnt;
extern const char *gl_prompt;
extern int gl_overwrite, gl_extent;
extern char gl_killbuf[GL_KILL_SIZE];
extern int gl_width, gl_shift, gl_off_left, gl_off_right;

/* Columns of the row that may hold what the editor drew on it (cells past
 * the window's width included); 0 again after a line feed. */
extern int gl_row_extent;

void gl_redisplay(const char *prompt, int change, int cursor) GL_NOEXCEPT;
void gl_redraw(void) GL_NOEXCEPT;
void gl_addchar(int c) GL_NOEXCEPT;
/* Inserts (or overwrites with) the n bytes of one character; 0 when the
 * line has no room for it (the bell rang). */
int gl_addtext(const char *c, int n) GL_NOEXCEPT;
/* Puts the n bytes of one character in place of the one under the cursor
 * (and its marks); the cursor stays where it is. */
void gl_replace(const char *c, int n) GL_NOEXCEPT;
void gl_del(int dir, int save) GL_NOEXCEPT;
void gl_kill(int pos) GL_NOEXCEPT;
void gl_kill_word(int dir) GL_NOEXCEPT;
void gl_word(int dir) GL_NOEXCEPT;
void gl_yank(void) GL_NOEXCEPT;
void gl_transpose(void) GL_NOEXCEPT;
void gl_newline(void) GL_NOEXCEPT;
int gl_isspace(int c) GL_NOEXCEPT;

/* ---- History and search (history.cpp) ----------------------------------------- */

#define HIST_SLOTS 100

extern char *hist_ring[HIST_SLOTS];
extern char hist_blank[];
extern int hist_end, hist_cur;
extern char *hist_newest;

void hist_setup(void) GL_NOEXCEPT;
void hist_release(void) GL_NOEXCEPT;
char *hist_save(const char *line) GL_NOEXCEPT;
char *hist_older(void) GL_NOEXCEPT;
char *hist_newer(void) GL_NOEXCEPT;

extern int gl_search_active;
extern char srch_text[];
extern int srch_len;
extern char srch_prompt[];
extern int srch_anchor, srch_dir_forward;

void srch_set_text(int ch) GL_NOEXCEPT;
void srch_type(int ch) GL_NOEXCEPT;
/* The n bytes of one character, refused whole when they do not fit. */
void srch_type_char(const char *c, int n) GL_NOEXCEPT;
void srch_end(void) GL_NOEXCEPT;
void srch_older(int from_key) GL_NOEXCEPT;
void srch_newer(int from_key) GL_NOEXCEPT;

/* ---- Completion (complete.cpp, filename.cpp) --------------------------------- */

int gl_complete_word(char *buf, int *loc, size_t size, int list) GL_NOEXCEPT;
void gl_list_matches(int n) GL_NOEXCEPT;
int gl_match_cmp(const void *a, const void *b) GL_NOEXCEPT;
int gl_isalnum(int c) GL_NOEXCEPT;
/* A directory entry or match that is exactly "." or "..". */
int gl_is_dot_entry(const char *name) GL_NOEXCEPT;

extern DIR *fc_dir;
extern int fc_dir_len;
extern size_t fc_name_len;

/* ---- The key loop (keys.cpp) -------------------------------------------------- */

extern int gl_result;
extern int gl_vi_cmd;

#ifdef __cplusplus
}
#endif

#endif /* LINEEDIT_INTERNAL_H */
