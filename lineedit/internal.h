/*
 * internal.h - the line editor's inner layers, for its own files and tests.
 *
 * terminal.cpp  raw mode, byte I/O, screen settings, fatal errors
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

/* ---- Line buffer and redisplay (redisplay.cpp) ------------------------------ */

#define GL_KILL_SIZE 256

extern char gl_buf[GL_BUF_SIZE];
extern int gl_pos, gl_cnt;
extern const char *gl_prompt;
extern int gl_overwrite, gl_extent;
extern char gl_killbuf[GL_KILL_SIZE];
extern int gl_width, gl_shift, gl_off_left, gl_off_right;

void gl_redisplay(const char *prompt, int change, int cursor) GL_NOEXCEPT;
void gl_redraw(void) GL_NOEXCEPT;
void gl_addchar(int c) GL_NOEXCEPT;
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
