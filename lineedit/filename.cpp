// The filename completer and the home directory.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "lineedit/internal.h"

char *gl_home_path = nullptr;
DIR *fc_dir = nullptr;
int fc_dir_len = 0;
size_t fc_name_len = 0;

namespace {

struct FreeDeleter {
    void operator()(char *p) const { std::free(p); }
};
using Owned = std::unique_ptr<char, FreeDeleter>;

void close_listing() {
    if (fc_dir != nullptr) closedir(fc_dir);
    fc_dir = nullptr;
}

// Opens the directory part of word.  False when there is nothing to list
// (no memory, no home directory for "~").
bool open_listing(const char *word) {
    const char *slash = std::strrchr(word, '/');
    Owned copy;
    const char *dir = ".";
    fc_dir_len = 0;
    if (slash == word) {
        dir = "/";
        fc_dir_len = 1;
    } else if (slash != nullptr) {
        copy.reset(strndup(word, static_cast<size_t>(slash - word)));
        if (!copy) return false;
        dir = copy.get();
        fc_dir_len = static_cast<int>(slash - word) + 1;
    }
    if (std::strcmp(dir, "~") == 0) {
        if (gl_home_path == nullptr) gl_set_home_directory(nullptr);
        if (gl_home_path == nullptr) return false;
        dir = gl_home_path;
    }
    fc_dir = opendir(dir);
    fc_name_len = std::strlen(word + fc_dir_len);
    return true;
}

// "~" or "~/..." with the home directory put in place of the tilde.
void expand_tilde(char **entry) {
    char *m = *entry;
    if (m[0] != '~' || (m[1] != '\0' && m[1] != '/') || gl_home_path == nullptr) return;
    size_t hl = std::strlen(gl_home_path);
    if (hl > 0 && gl_home_path[hl - 1] == '/') --hl;
    size_t rest = std::strlen(m + 1);
    // A home of "/" leaves nothing in place of the tilde: the rest only
    // moves down within the block it has.
    if (hl == 0) {
        std::memmove(m, m + 1, rest + 1);
        return;
    }
    char *grown = static_cast<char *>(std::realloc(m, hl + rest + 1));
    if (grown == nullptr) return;
    std::memmove(grown + hl, grown + 1, rest + 1);
    std::memcpy(grown, gl_home_path, hl);
    *entry = grown;
}

// The only match of a completion: expand its tilde, and end a directory
// with a slash instead of a space.
void finish_single_match() {
    if (gl_matches == nullptr || gl_matches[0] == nullptr) return;
    expand_tilde(&gl_matches[0]);
    struct stat st;
    if (lstat(gl_matches[0], &st) == 0 && S_ISDIR(st.st_mode)) gl_completion_suffix = '/';
}

// The directory part of word as typed, then name.
char *make_match(const char *word, const char *name) {
    size_t dl = static_cast<size_t>(fc_dir_len), nl = std::strlen(name);
    char *m = static_cast<char *>(std::malloc(dl + nl + 1));
    if (m == nullptr) return nullptr;
    std::memcpy(m, word, dl);
    std::memcpy(m + dl, name, nl + 1);
    return m;
}

}  // namespace

char *gl_filename_completer(const char *word, int index) GL_NOEXCEPT {
    if (index == 0) close_listing();
    if (fc_dir == nullptr && !open_listing(word)) return nullptr;
    if (fc_dir == nullptr) return nullptr;
    const char *name_part = word + fc_dir_len;
    while (struct dirent *e = readdir(fc_dir)) {
        if (gl_is_dot_entry(e->d_name)) continue;
        if (fc_name_len == 0 || std::strncmp(e->d_name, name_part, fc_name_len) == 0)
            return make_match(word, e->d_name);
    }
    close_listing();
    if (index == 1) finish_single_match();
    return nullptr;
}

namespace {

const struct passwd *own_user_entry() {
    const struct passwd *pw = getpwuid(getuid());
    if (pw != nullptr) return pw;
    const char *name = std::getenv("LOGNAME");
    if (name == nullptr) name = std::getenv("USER");
    if (name == nullptr) name = getlogin();
    return name != nullptr ? getpwnam(name) : nullptr;
}

}  // namespace

void gl_set_home_directory(const char *dir) GL_NOEXCEPT {
    // Copy before releasing: dir may be gl_home_path itself.
    char *copy = nullptr;
    if (dir == nullptr) {
        const struct passwd *pw = own_user_entry();
        if (pw != nullptr && pw->pw_dir != nullptr) copy = strdup(pw->pw_dir);
    } else {
        copy = strdup(dir);
    }
    std::free(gl_home_path);
    gl_home_path = copy;
}
