// pam_private.cpp - the private folder a PAM run reads its stack from, and
// the copies of the user's pam_faillock tallies that the copy's
// pam_faillock lines count into: whatever the module writes there changes
// nothing the report diagnoses.  The folder goes with everything in it.
#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "account/internal.h"

namespace credaccount {
namespace {

// Removes name in the folder dirfd, and what it holds (two levels at most).
void RemoveAt(int folder, const char *name, int depth) {
    if (unlinkat(folder, name, 0) == 0 || errno != EISDIR || depth == 0) return;
    int fd = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (dir == nullptr && fd >= 0) close(fd);
    while (dir != nullptr) {
        const dirent *entry = readdir(dir);
        if (entry == nullptr) break;
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            RemoveAt(dirfd(dir), entry->d_name, depth - 1);
    }
    if (dir != nullptr) closedir(dir);
    unlinkat(folder, name, AT_REMOVEDIR);
}

std::string Why(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

// Copies the open file from into a new file at path (mode 0600).
bool CopyFile(int from, const std::string &path, std::string *error) {
    int to = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (to < 0) {
        *error = Why("cannot copy the pam_faillock tally");
        return false;
    }
    char buffer[4096];
    ssize_t n;
    bool ok = true;
    while (ok && (n = read(from, buffer, sizeof buffer)) != 0)
        ok = n > 0 ? write(to, buffer, static_cast<std::size_t>(n)) == n : errno == EINTR;
    if (close(to) != 0) ok = false;
    if (!ok) *error = Why("cannot copy the pam_faillock tally");
    return ok;
}

// Makes mine, the private stand-in for the tally folder dir, with a copy
// of user's tally; *made is false when the tally stays where it is.
bool StandIn(const std::string &dir, const char *user, const std::string &mine, bool *made,
             std::string *error) {
    std::string tally = dir + "/" + user;
    int fd = open(tally.c_str(), O_RDONLY | O_CLOEXEC);
    bool absent = fd < 0 && (errno == ENOENT || errno == ENOTDIR);
    // A tally this process may not write stays where it is: pam_faillock,
    // run by this process, can neither change it nor open it (it opens the
    // tally for writing, also to read it), and answers as it would here.
    *made = absent || faccessat(AT_FDCWD, tally.c_str(), W_OK, AT_EACCESS) == 0;
    bool ok = !*made || mkdir(mine.c_str(), 0700) == 0;
    if (!ok) *error = Why("cannot make a private tally folder");
    // The copy holds what the module would read (nothing when the tally is
    // absent, or may be written but not read).
    if (ok && *made && fd >= 0) ok = CopyFile(fd, mine + "/" + user, error);
    if (fd >= 0) close(fd);
    return ok;
}

}  // namespace

PamPrivateFolder::~PamPrivateFolder() {
    if (!path_.empty()) RemoveAt(AT_FDCWD, path_.c_str(), 2);
}

bool PamPrivateFolder::Create(std::string *error) {
    // The folder's path goes into the stack's lines: only plain characters.
    const char *tmp = std::getenv("TMPDIR");
    if (tmp == nullptr || tmp[0] != '/' || std::strstr(tmp, "/.") != nullptr ||
        std::strspn(tmp, "/abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") !=
            std::strlen(tmp))
        tmp = "/tmp";
    std::string name = std::string(tmp) + "/credcheck-pam-XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        *error = Why(std::string("cannot make a private folder in ") + tmp);
        return false;
    }
    path_ = buffer.data();
    if (mkdir((path_ + "/pam.d").c_str(), 0700) == 0) return true;
    *error = Why("cannot make a private folder");
    return false;
}

bool PamPrivateFolder::Write(const PamFile &file, std::string *error) {
    std::string path = path_ + "/" + file.name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && write(fd, file.text.data(), file.text.size()) ==
                             static_cast<ssize_t>(file.text.size());
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (!ok) *error = Why("cannot write the private copy of the stack");
    return ok;
}

bool PamPrivateFolder::RedirectTallies(const PamStack &stack, const char *user,
                                       std::vector<std::string> *extraArgs, std::string *error) {
    extraArgs->assign(stack.lines.size(), "");
    std::vector<std::string> real, copy;  // tally folders, and what their lines point at
    for (std::size_t i = 0; i < stack.lines.size(); ++i) {
        const PamStackLine &line = stack.lines[i];
        if (line.substack || line.mustFail || BaseName(line.module) != "pam_faillock.so") continue;
        std::string dir = FaillockTallyDir(line.args);
        std::size_t k = 0;
        while (k < real.size() && real[k] != dir) ++k;
        if (k == real.size()) {
            real.push_back(dir);
            copy.emplace_back(path_ + "/faillock-" + std::to_string(k));
            bool made = false;
            if (!StandIn(dir, user, copy[k], &made, error)) return false;
            if (!made) copy[k].clear();
        }
        // The last dir= of a line wins over earlier ones and the file's.
        if (!copy[k].empty()) (*extraArgs)[i] = " dir=" + copy[k];
    }
    return true;
}

}  // namespace credaccount
