// The history ring, history files and incremental search.
//
// The ring has HIST_SLOTS slots; the slot at hist_end always holds the
// shared empty line hist_blank, so at most HIST_SLOTS - 1 lines are kept.
// A slot is null (never used), hist_blank, or a malloc'ed copy.
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lineedit/internal.h"

namespace {
constexpr int kSearchTextMax = 77;  // so that "text? " fits an 80-byte prompt
}  // namespace

char *hist_ring[HIST_SLOTS];
char hist_blank[1] = "";
int hist_end, hist_cur;
char *hist_newest;

int gl_search_active;
char srch_text[kSearchTextMax + 1];
int srch_len;
char srch_prompt[kSearchTextMax + 3];
int srch_anchor, srch_dir_forward;

namespace {

int older(int slot) {
    return (slot + HIST_SLOTS - 1) % HIST_SLOTS;
}
int newer(int slot) {
    return (slot + 1) % HIST_SLOTS;
}
bool owned(const char *line) {
    return line != nullptr && line != hist_blank;
}

// The ring is set up on first use, whichever operation comes first.
void ensure_setup() {
    if (hist_ring[hist_end] != hist_blank) hist_setup();
}

// Copies a history line into the line buffer, cut to what it can hold.
void load_line(const char *line) {
    size_t n = strnlen(line, GL_BUF_SIZE - 1);
    std::memcpy(gl_buf, line, n);
    gl_buf[n] = '\0';
}

// text is line past its leading blanks; only a newline there shortens the
// compared length.
bool is_repeat(const char *line, const char *text) {
    size_t n = std::strlen(line);
    if (std::strchr(text, '\n') != nullptr) --n;
    return hist_newest != nullptr && std::strlen(hist_newest) == n &&
           std::strncmp(hist_newest, line, n) == 0;
}

void store(const char *line) {
    hist_newest = hist_ring[hist_end] = hist_save(line);
    hist_end = newer(hist_end);
    if (owned(hist_ring[hist_end])) std::free(hist_ring[hist_end]);
    hist_ring[hist_end] = hist_blank;
}

struct File {
    FILE *f;
    ~File() {
        if (f) std::fclose(f);
    }
};

// Follows symbolic links from path to the file they name, which need not
// exist yet.  False when the name grows too long or the links loop.
bool resolve_links(const char *path, char (&out)[PATH_MAX]) {
    if (std::strlen(path) >= sizeof out) return false;
    std::strcpy(out, path);
    for (int hops = 0; hops < 40; ++hops) {
        char link[PATH_MAX];
        ssize_t n = readlink(out, link, sizeof link - 1);
        if (n < 0) return true;  // not a link: this is the file
        link[n] = '\0';
        const char *slash = std::strrchr(out, '/');
        size_t dir = link[0] == '/' || slash == nullptr ? 0 : static_cast<size_t>(slash - out) + 1;
        if (dir + static_cast<size_t>(n) >= sizeof out) return false;
        std::memcpy(out + dir, link, static_cast<size_t>(n) + 1);
    }
    return false;
}

// The history file, held under an exclusive advisory lock while it is
// replaced, so that two programs saving at once take turns.
struct LockedFile {
    int fd = -1;
    bool created = false;  // by us, to have something to lock
    struct stat st {};
    ~LockedFile() {
        if (fd >= 0) close(fd);
    }
};

bool lock_file(const char *path, LockedFile &file) {
    for (int tries = 0; tries < 100; ++tries) {
        file.fd = open(path, O_RDONLY | O_CLOEXEC);
        file.created = file.fd < 0 && errno == ENOENT;
        if (file.created) file.fd = open(path, O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (file.fd < 0) {
            if (errno == EEXIST) continue;  // made by another writer meanwhile
            return false;
        }
        struct stat now;
        if (flock(file.fd, LOCK_EX) == 0 && fstat(file.fd, &file.st) == 0 &&
            stat(path, &now) == 0 && now.st_ino == file.st.st_ino && now.st_dev == file.st.st_dev)
            return true;
        // Replaced by another writer while we waited: lock the new one.
        close(file.fd);
        file.fd = -1;
    }
    return false;
}

// The lines oldest first into fd, synced.  The blank slot at the end of
// the ring and the one after it (the oldest line of a full ring) are left
// out, so a full ring writes its newest 98 lines.
bool write_lines(int fd) {
    FILE *f = fdopen(fd, "w");
    if (f == nullptr) {
        close(fd);
        return false;
    }
    File file{f};
    // Counted from the end of the ring, not from the browsing position: a
    // user who browsed before the program saved would otherwise lose the
    // lines at and after that position and get the rest out of order.
    for (int k = 2; k < HIST_SLOTS; ++k) {
        const char *line = hist_ring[(hist_end + k) % HIST_SLOTS];
        if (line != nullptr && line[0] != '\0') std::fprintf(f, "%s\n", line);
    }
    bool ok = std::fflush(f) == 0 && !std::ferror(f) && fsync(fd) == 0;
    file.f = nullptr;
    return std::fclose(f) == 0 && ok;
}

// Writes a new copy beside the file, with the old one's mode and owner,
// and renames it over the file.  Any failure leaves the file as it was.
bool replace_file(const char *path, const LockedFile &old) {
    char temp[PATH_MAX];
    if (std::snprintf(temp, sizeof temp, "%s.XXXXXX", path) >= static_cast<int>(sizeof temp))
        return false;
    int fd = mkostemp(temp, O_CLOEXEC);  // mode 0600
    if (fd < 0) return false;
    bool ok = fchmod(fd, old.st.st_mode & 07777) == 0;
    if (ok && fchown(fd, old.st.st_uid, old.st.st_gid) != 0) {
        // Only the owner or root may give a file away; it stays ours.
    }
    ok = write_lines(fd) && ok && rename(temp, path) == 0;
    if (!ok) unlink(temp);
    return ok;
}

void rebuild_search_prompt() {
    std::snprintf(srch_prompt, sizeof srch_prompt, "%s? ", srch_text);
}

void start_search() {
    hist_cur = hist_end;
    srch_anchor = hist_cur;
    srch_set_text(0);
    gl_search_active = 1;
    gl_buf[0] = '\0';
    gl_redisplay(srch_prompt, 0, 0);
}

// Steps through the history with next until a line holds the search text,
// or an empty line says that the end has been passed.
void search_from_here(char *(*next)(), int from_key) {
    for (;;) {
        const char *line = next();
        if (line[0] == '\0') {
            gl_buf[0] = '\0';
            gl_redisplay(srch_prompt, 0, 0);
            return;
        }
        if (const char *hit = std::strstr(line, srch_text)) {
            load_line(line);
            gl_redisplay(srch_prompt, 0, static_cast<int>(hit - line));
            if (from_key) srch_anchor = hist_cur;
            return;
        }
    }
}

void search(int forward, char *(*next)(), int from_key) {
    ensure_setup();
    srch_dir_forward = forward;
    if (!gl_search_active)
        start_search();
    else if (srch_len >= 1)
        search_from_here(next, from_key);
    else
        gl_beep();
}

}  // namespace

void hist_setup(void) noexcept {
    hist_ring[0] = hist_blank;
    for (int i = 1; i < HIST_SLOTS; ++i) hist_ring[i] = nullptr;
    hist_end = hist_cur = 0;
}

void hist_release(void) noexcept {
    for (char *&slot : hist_ring) {
        if (owned(slot)) std::free(slot);
        slot = nullptr;
    }
    hist_setup();
    hist_newest = nullptr;
}

void gl_add_history(const char *line) noexcept {
    if (gl_init_state == -1) {
        hist_setup();
        gl_init_state = 0;
    }
    ensure_setup();
    if (line == nullptr) return;
    const char *text = line + std::strspn(line, " \t\n");
    if (*text != '\0' && !is_repeat(line, text)) store(line);
    hist_cur = hist_end;
}

// A line ending in "\n" or "\r" (or holding one anywhere) loses its last
// character.
char *hist_save(const char *line) noexcept {
    size_t n = std::strlen(line);
    if (std::strpbrk(line, "\n\r") != nullptr) --n;
    char *copy = static_cast<char *>(std::malloc(n + 1));
    if (copy == nullptr) gl_error("\n*** Error: hist_save() failed on malloc\n");
    std::memcpy(copy, line, n);
    copy[n] = '\0';
    return copy;
}

char *hist_older(void) noexcept {
    ensure_setup();
    int k = older(hist_cur);
    char *line = nullptr;
    if (hist_ring[hist_cur] != nullptr && k != hist_end) {
        hist_cur = k;
        line = hist_ring[k];
    }
    if (line == nullptr) {
        gl_beep();
        return hist_blank;
    }
    return line;
}

char *hist_newer(void) noexcept {
    ensure_setup();
    char *line = nullptr;
    if (hist_cur != hist_end) {
        hist_cur = newer(hist_cur);
        line = hist_ring[hist_cur];
    }
    if (line == nullptr) {
        gl_beep();
        return hist_blank;
    }
    return line;
}

// Replaces the file as a whole (a crash or a full disk leaves the old
// one), through symbolic links, one writer at a time.
void gl_write_history(const char *path) noexcept {
    if (path == nullptr) return;
    ensure_setup();
    char target[PATH_MAX];
    LockedFile old;
    if (!resolve_links(path, target) || !lock_file(target, old)) return;
    if (!replace_file(target, old) && old.created) unlink(target);
}

// Reads a file in pieces of at most 253 characters; each piece becomes a
// history line (blank lines and repeats are dropped as usual).
void gl_read_history(const char *path) noexcept {
    if (path == nullptr) return;
    File file{std::fopen(path, "r")};
    if (!file.f) return;
    char piece[256];
    for (;;) {
        std::memset(piece, 0, sizeof piece);
        if (!std::fgets(piece, 254, file.f)) break;
        gl_add_history(piece);
    }
}

// ch 0 resets the text, ch > 0 appends it, ch < 0 removes the last one.
void srch_set_text(int ch) noexcept {
    if (ch == 0) {
        srch_len = 0;
    } else if (ch > 0) {
        if (srch_len >= kSearchTextMax) {
            gl_beep();
            return;
        }
        srch_text[srch_len++] = static_cast<char>(ch);
    } else if (srch_len < 1) {
        gl_beep();
        hist_cur = hist_end;
        return;
    } else {
        srch_len = gl_char_prev(srch_text, srch_len);
    }
    srch_text[srch_len] = '\0';
    rebuild_search_prompt();
}

// A typed character (ch > 0, bytes above 127 as 128..255) or a removal
// (ch < 0).  A character that no longer fits rings the bell and is dropped.
void srch_type(int ch) noexcept {
    if (ch > 0 && srch_len >= kSearchTextMax) {
        gl_beep();
        return;
    }
    srch_set_text(ch);
    if (ch < 0) {
        if (srch_len < 1) {
            hist_cur = hist_end;
            gl_buf[0] = '\0';
        } else {
            hist_cur = srch_anchor;
            const char *line = hist_ring[hist_cur];
            load_line(line != nullptr ? line : "");
        }
    }
    if (const char *hit = std::strstr(gl_buf, srch_text))
        gl_redisplay(srch_prompt, 0, static_cast<int>(hit - gl_buf));
    else if (srch_dir_forward)
        srch_newer(0);
    else
        srch_older(0);
}

// The leading bytes of a character are added quietly; its last one
// searches and redraws as a typed byte does.
void srch_type_char(const char *c, int n) noexcept {
    if (n > 1 && srch_len + n > kSearchTextMax) {
        gl_beep();
        return;
    }
    for (int k = 0; k < n - 1; ++k) srch_text[srch_len++] = c[k];
    srch_type(c[n - 1] & 0xFF);
}

void srch_end(void) noexcept {
    gl_search_active = 0;
    if (gl_buf[0] == '\0') hist_cur = hist_end;
    if (gl_load_hook) {
        gl_load_hook(gl_buf);
        gl_buf[GL_BUF_SIZE - 1] = '\0';
    }
    gl_redisplay(gl_prompt, 0, gl_pos);
}

void srch_older(int from_key) noexcept {
    search(0, hist_older, from_key);
}

void srch_newer(int from_key) noexcept {
    search(1, hist_newer, from_key);
}
