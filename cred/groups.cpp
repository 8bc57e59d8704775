// Supplementary group lists: the running process's groups or a scan of
// /etc/group, and a traced setgroups().
#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cred/internal.h"

int CredGroupListMethod = 2;

namespace {

constexpr const char kGroupPath[] = "/etc/group";
constexpr size_t kOwnLineSize = 512;
constexpr size_t kKeyNameMax = 37;
constexpr int kHostGroupsMax = 32;

char *g_groupBuf = nullptr;
size_t g_groupBufSize = 0;

// ",name," with the name cut to 37 characters.
void BuildMatchKey(char (&key)[kKeyNameMax + 3], const char *user) {
    size_t len = strnlen(user, kKeyNameMax);
    key[0] = ',';
    memcpy(key + 1, user, len);
    key[len + 1] = ',';
    key[len + 2] = '\0';
}

// True when line (just read into a buffer with room for one more
// character) is the whole line or the last piece of one: it ends in a
// newline or the stream ends right after it.
bool IsLastPiece(char *line, size_t len, FILE *fp) {
    if (len > 0 && line[len - 1] == '\n') return true;
    int c = getc(fp);
    if (c == EOF) return true;
    ungetc(c, fp);
    return false;
}

// The group id of a line name:password:gid:members whose end is a comma,
// in *gid; true when the user's key is in the member field.
bool MatchLine(char *line, const char *key, int32_t *gid) {
    char *colon[3];
    char *p = line;
    for (char *&c : colon) {
        c = strchr(p, ':');
        if (c == nullptr) return false;
        *c = '\0';
        p = c + 1;
    }
    // atoi's reading, without its undefined overflow: the value wraps.
    *gid = static_cast<int32_t>(strtol(colon[1] + 1, nullptr, 10));
    *colon[2] = ',';
    return strstr(colon[2], key) != nullptr;
}

// One line or piece: skip comments, empty lines and the leading pieces of
// a long line; the closing newline (or the end of the file) becomes a
// comma so that every member stands between two commas.
bool ExamineLine(char *line, FILE *fp, const char *key, int32_t *gid) {
    if (line[0] == '#' || line[0] == '\n') return false;
    size_t len = strlen(line);
    if (!IsLastPiece(line, len, fp)) return false;
    if (len > 0 && line[len - 1] == '\n') --len;
    line[len] = ',';
    line[len + 1] = '\0';
    return MatchLine(line, key, gid);
}

int FromProcess(int32_t *gids, size_t maxg) {
    gid_t list[kHostGroupsMax];
    int n = getgroups(kHostGroupsMax, list);
    if (n <= 0) return -1;
    size_t count = static_cast<size_t>(n) < maxg ? static_cast<size_t>(n) : maxg;
    for (size_t i = 0; i < count; ++i) gids[i] = static_cast<int32_t>(list[i]);
    return static_cast<int>(count);
}

int FromGroupFile(int32_t *gids, size_t maxg, const char *user) {
    gids[0] = -1;
    FILE *fp = fopen(kGroupPath, "r");
    if (fp == nullptr) return -1;
    char own[kOwnLineSize];
    const bool registered = g_groupBuf != nullptr && g_groupBufSize > kOwnLineSize;
    char *buf = registered ? g_groupBuf : own;
    const size_t size = registered ? g_groupBufSize : sizeof own;
    int count = ScanGroupStream(fp, gids, maxg, user, buf, size);
    fclose(fp);
    if (registered) explicit_bzero(buf, size);
    return count;
}

int InvalidMethod(int32_t *gids, size_t maxg, const char *user) {
    CredTrace("GetUserGroups maxg=%lu u=%s method=%d (invalid!)\n",
              static_cast<unsigned long>(maxg), user, CredGroupListMethod);
    gids[0] = -1;
    errno = EINVAL;
    return -1;
}

}  // namespace

extern "C" int ScanGroupStream(FILE *fp, int32_t *gids, size_t maxg, const char *user, char *buf,
                               size_t size) noexcept {
    // Each read leaves room for the comma that replaces the newline.
    if (size < 3) return 0;
    const int readSize = static_cast<int>(size - 1 < INT_MAX ? size - 1 : INT_MAX);
    char key[kKeyNameMax + 3];
    BuildMatchKey(key, user);
    size_t stored = 0;
    while (fgets(buf, readSize, fp) != nullptr) {
        int32_t gid;
        if (ExamineLine(buf, fp, key, &gid) && stored < maxg) gids[stored++] = gid;
    }
    return static_cast<int>(stored);
}

extern "C" int GetUserGroups(int32_t *gids, size_t maxg, const char *user) noexcept {
    EnsureCredInit();
    if (maxg == 0 || gids == nullptr || user == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const unsigned long shownMax = maxg;
    if (CredGroupListMethod == 1) {
        CredTrace("GetUserGroups maxg=%lu u=%s method=getgroups()\n", shownMax, user);
        int n = FromProcess(gids, maxg);
        if (n > 0) return n;
    }
    if (CredGroupListMethod == 2) {
        CredTrace("GetUserGroups maxg=%lu u=%s method=/etc/group\n", shownMax, user);
        return FromGroupFile(gids, maxg, user);
    }
    return InvalidMethod(gids, maxg, user);
}

extern "C" void SetGroupFileBuffer(char *buf, size_t size) noexcept {
    g_groupBuf = buf;
    g_groupBufSize = buf != nullptr ? size : 0;
}

extern "C" int Setgroups(int n, const gid_t *list) noexcept {
    EnsureCredInit();
    int rc = n < 0 ? (errno = EINVAL, -1) : setgroups(static_cast<size_t>(n), list);
    CredTrace("setgroups rc=%d\n", rc);
    return rc;
}
