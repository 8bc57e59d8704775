/*
 * lineedit.h - a terminal line editor: masked password entry and a full
 * line editor with emacs-like and vi-like keys, history, incremental
 * search and completion.
 *
 * One thread only.  Memory that crosses this interface (matches returned
 * by a completion function, gl_home_path) is allocated with malloc and
 * released with free.
 */
#ifndef LINEEDIT_LINEEDIT_H
#define LINEEDIT_LINEEDIT_H

#include <stddef.h>

#include "credcheck/export.h"

CREDCHECK_BEGIN_DECLS

#define GL_BUF_SIZE 2048

/* ---- Reading lines ------------------------------------------------------- */

/* Edit one line at the terminal.  Returns the editor's own buffer holding
 * the line and a "\n" (valid until the next call), the empty string after
 * an interrupt, quit or suspend character, or null at end of input or on
 * a read error.  Ends the process with status 1 when standard input or
 * output is not a terminal. */
char *gl_getline(const char *prompt) GL_NOEXCEPT;

/* Read a secret into buf (size bytes, at least 4), echoing one asterisk
 * per character (per byte unless the locale is UTF-8).  Returns buf,
 * always NUL-terminated. */
char *gl_getpass(const char *prompt, char *buf, int size) GL_NOEXCEPT;

/* Result of the last gl_getline: 0 accepted, -1 end of input or read
 * error, -2 interrupt or quit character, -3 suspend character. */
int   gl_last_result(void) GL_NOEXCEPT;

/* Restore the terminal and release the history. */
void  gl_dispose(void) GL_NOEXCEPT;

/* 1: while gl_getline reads keys the terminal is asked to mark pastes
 * (ESC [ ? 2004 h; ESC [ ? 2004 l on every way out of the call), and a
 * paste is then taken as text: a line end or tab in it becomes a space,
 * other control characters are dropped, nothing in it acts as a key.
 * 0 (the default): the terminal is not asked.  gl_getpass never asks.
 * Paste marks that arrive anyway never reach the line or the secret. */
void  gl_bracketed_paste(int on) GL_NOEXCEPT;

/* ---- Screen settings --------------------------------------------------- */

/* Width in columns (21 to 250; also switches to one-column scrolling). */
void  gl_setwidth(int width) GL_NOEXCEPT;
/* Height in rows (10 or more). */
void  gl_setheight(int height) GL_NOEXCEPT;
extern int gl_termw, gl_termh, gl_scroll, gl_vi_mode;

/* ---- History ------------------------------------------------------------- */

/* Store a copy of line (blank lines and immediate repeats are dropped). */
void  gl_add_history(const char *line) GL_NOEXCEPT;
/* Write the stored lines, oldest first, to a file created mode 0600.  The
 * file is replaced whole (a new copy beside it, synced, renamed over it)
 * under an advisory lock; an existing file keeps its mode and owner, a
 * symbolic link is followed, and a failed write leaves the old file. */
void  gl_write_history(const char *path) GL_NOEXCEPT;
/* Add every line of a file to the history. */
void  gl_read_history(const char *path) GL_NOEXCEPT;

/* ---- Completion ---------------------------------------------------------- */

/* Called with the word before the cursor and an index 0, 1, 2, ...;
 * returns a malloc'ed match (the editor frees it) or null when done. */
typedef char *(*gl_completion_fn)(const char *word, int index);
extern gl_completion_fn gl_completer;
/* Install fn, or the filename completer when fn is null. */
void  gl_set_completer(gl_completion_fn fn) GL_NOEXCEPT;
char *gl_filename_completer(const char *word, int index) GL_NOEXCEPT;
extern char      **gl_matches;            /* matches of the running completion */
extern int         gl_completion_suffix;  /* put after a single match */
extern int         gl_quote_completions;  /* >0 always, 0 never, <0 file names */
extern const char *gl_quote_trigger_chars;
extern int         gl_show_completion_progress;

/* Remember dir as the home directory, or look it up when dir is null. */
void  gl_set_home_directory(const char *dir) GL_NOEXCEPT;
extern char *gl_home_path;

/* ---- Hooks ----------------------------------------------------------------- */

extern int    (*gl_load_hook)(char *buf);
extern int    (*gl_accept_hook)(char *buf);
extern int    (*gl_tab_handler)(char *buf, int promptWidth, int *loc, size_t bufSize);
extern size_t (*gl_prompt_width)(const char *prompt);
/* The default TAB handler: spaces up to the next multiple of 8 columns. */
int   gl_tab_spaces(char *buf, int promptWidth, int *loc, size_t bufSize) GL_NOEXCEPT;

CREDCHECK_END_DECLS

#endif /* LINEEDIT_LINEEDIT_H */
