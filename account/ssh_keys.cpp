// ssh_keys.cpp - the authorized keys sshd would use: every AuthorizedKeysFile
// as sshd expands it, StrictModes as sshd checks it, and the keys counted
// (never shown).  Everything here only reads.
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "account/internal.h"

namespace credaccount {
namespace {

constexpr std::size_t kLineLimit = 16 * 1024;         // the part of a line that is read
constexpr long long kFileLimit = 64LL * 1024 * 1024;  // bytes read from one file at most

// %h, %u, %U and %% as sshd expands them; false for another token.
bool Expand(std::string_view pattern, const struct passwd *pw, std::string *out) {
    out->clear();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            *out += pattern[i];
            continue;
        }
        char token = ++i < pattern.size() ? pattern[i] : '\0';
        if (token == 'h')
            *out += pw->pw_dir != nullptr ? pw->pw_dir : "";
        else if (token == 'u')
            *out += pw->pw_name;
        else if (token == 'U')
            *out += std::to_string(pw->pw_uid);
        else if (token == '%')
            *out += '%';
        else
            return false;
    }
    // A relative path is under the home.
    if (out->empty() || (*out)[0] != '/')
        *out = std::string(pw->pw_dir ? pw->pw_dir : "") + "/" + *out;
    return true;
}

std::string RealPath(const std::string &path) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

// What StrictModes refuses in one path: owned by neither the user nor
// root, or writable by group or others.
const char *BadOwnerOrMode(const struct stat &st, uid_t uid) {
    if (st.st_uid != 0 && st.st_uid != uid) return "owned by neither the user nor root";
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return "writable by group or others";
    return nullptr;
}

// Each path once, however many files sit under it.
void AddProblem(CredSsh *ssh, const std::string &path, const char *problem) {
    for (int i = 0; i < ssh->nproblems; ++i)
        if (path.compare(0, sizeof ssh->problems[i].path - 1, ssh->problems[i].path) == 0) return;
    if (ssh->nproblems == CRED_SSH_MAX_PROBLEMS) return;
    CredSshProblem &p = ssh->problems[ssh->nproblems++];
    CopyText(p.path, sizeof p.path, path);
    p.problem = problem;
}

// StrictModes: the file, then each folder above it up to the home (when
// the file is under it) or up to /.  Reports the first path refused.
bool StrictModesAccept(const std::string &real, const struct stat &st, const struct passwd *pw,
                       CredSsh *ssh) {
    if (const char *bad = BadOwnerOrMode(st, pw->pw_uid)) {
        AddProblem(ssh, real, bad);
        return false;
    }
    std::string home = RealPath(pw->pw_dir != nullptr ? pw->pw_dir : "");
    std::string folder = real;
    while (folder != "/") {
        std::size_t slash = folder.rfind('/');
        folder = slash == 0 ? "/" : folder.substr(0, slash);
        struct stat dir;
        const char *bad = stat(folder.c_str(), &dir) != 0 ? "cannot be examined"
                                                          : BadOwnerOrMode(dir, pw->pw_uid);
        if (bad != nullptr) {
            AddProblem(ssh, folder, bad);
            return false;
        }
        if (folder == home) break;
    }
    return true;
}

// Whether the user may read the file (sshd opens it as the user).
bool UserMayRead(const struct stat &st, const struct passwd *pw) {
    if (pw->pw_uid == 0) return true;
    if (st.st_uid == pw->pw_uid) return st.st_mode & S_IRUSR;
    if (InGroups(pw, st.st_gid)) return st.st_mode & S_IRGRP;
    return st.st_mode & S_IROTH;
}

const char *SkipSpace(const char *p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

// Whether the options of a key let sshd use it from address.
bool OptionsAdmit(const std::string &options, const char *address, bool forcedOnly) {
    if (forcedOnly && options.find("command=\"") == std::string::npos) return false;
    std::size_t from = options.find("from=\"");
    if (from == std::string::npos) return true;
    std::size_t start = from + 6, end = options.find('"', start);
    return end != std::string::npos &&
           MatchHosts(address, std::string_view(options).substr(start, end - start));
}

// Whether a line of authorized_keys holds a key that sshd would use from
// address: a key type word ("ssh-ed25519", "ecdsa-sha2-nistp256",
// "sk-ssh-ed25519@openssh.com", ...) followed by its base64 text, after
// options that admit it.
bool HoldsKey(const char *line, const char *address, bool forcedOnly) {
    line = SkipSpace(line);
    if (*line == '#' || *line == '\0' || *line == '\n' || *line == '\r') return false;
    for (const char *p = line; *p != '\0'; p = SkipSpace(p + std::strcspn(p, " \t"))) {
        bool type = std::strncmp(p, "ssh-", 4) == 0 || std::strncmp(p, "ecdsa-", 6) == 0 ||
                    std::strncmp(p, "sk-", 3) == 0;
        const char *data = SkipSpace(p + std::strcspn(p, " \t"));
        std::size_t base64 =
            std::strspn(data, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=");
        if (type && base64 >= 16)
            return OptionsAdmit(std::string(line, static_cast<std::size_t>(p - line)), address,
                                forcedOnly);
    }
    return false;
}

// The keys in an open file, reading at most kFileLimit bytes and the first
// kLineLimit bytes of each line.
int CountKeys(int fd, const char *address, bool forcedOnly) {
    std::unique_ptr<FILE, decltype(&std::fclose)> f(fdopen(fd, "r"), &std::fclose);
    if (!f) {
        close(fd);
        return 0;
    }
    std::vector<char> line(kLineLimit);
    int keys = 0;
    long long read = 0;
    bool lineStart = true;
    while (read < kFileLimit && std::fgets(line.data(), static_cast<int>(line.size()), f.get())) {
        std::size_t n = std::strlen(line.data());
        read += static_cast<long long>(n);
        if (lineStart && HoldsKey(line.data(), address, forcedOnly)) ++keys;
        lineStart = n > 0 && line[n - 1] == '\n';
    }
    return keys;
}

// The keys of one file, or 0 when sshd would not read it.
int KeysOfFile(const std::string &path, const struct passwd *pw, bool strictModes, bool forcedOnly,
               std::set<std::string> *seen, CredSsh *ssh) {
    std::string real = RealPath(path);
    struct stat st;
    if (real.empty() || !seen->insert(real).second || stat(real.c_str(), &st) != 0) return 0;
    if (!S_ISREG(st.st_mode)) {
        AddProblem(ssh, real, "not a regular file");
        return 0;
    }
    if (strictModes && !StrictModesAccept(real, st, pw, ssh)) return 0;
    if (!UserMayRead(st, pw)) {
        AddProblem(ssh, real, "not readable by the user");
        return 0;
    }
    int fd = open(real.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return 0;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return 0;
    }
    return CountKeys(fd, ssh->address, forcedOnly);
}

}  // namespace

int CountAuthorizedKeys(const struct passwd *pw, std::string_view files, bool strictModes,
                        bool forcedOnly, CredSsh *ssh) {
    std::set<std::string> seen;
    int keys = 0;
    for (const std::string &pattern : Words(files)) {
        if (pattern == "none") continue;
        std::string path;
        if (Expand(pattern, pw, &path))
            keys += KeysOfFile(path, pw, strictModes, forcedOnly, &seen, ssh);
    }
    return keys;
}

}  // namespace credaccount
