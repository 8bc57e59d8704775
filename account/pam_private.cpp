// pam_private.cpp - the private folder a PAM run reads its stack from, and
// the copies of the user's pam_faillock tallies that the copy's
// pam_faillock lines count into: whatever the module writes there changes
// nothing the report diagnoses.  The folder goes with everything in it,
// also when a signal ends the process.  Nothing in it holds the password.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
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

// Removes name in the folder dirfd, and what it holds (depth levels at
// most).  Async-signal-safe: a signal's handler calls it too.
void RemoveAt(int folder, const char *name, int depth) {
    if (unlinkat(folder, name, 0) == 0 || errno != EISDIR || depth == 0) return;
    int fd = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    alignas(dirent64) char entries[2048];
    ssize_t n;
    while (fd >= 0 && (n = getdents64(fd, entries, sizeof entries)) > 0)
        for (ssize_t at = 0; at < n;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(entries + at);
            at += entry->d_reclen;
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                RemoveAt(fd, entry->d_name, depth - 1);
        }
    if (fd >= 0) close(fd);
    unlinkat(folder, name, AT_REMOVEDIR);
}

// ---- The folder goes also when a signal ends the process ---------------------

// The folder a signal removes (one at a time), the process that made it
// (a module's child between fork and exec must not remove it), and the
// dispositions found before: only signals whose default ends the process
// and that were left at the default are caught.
char g_folder[PATH_MAX];
volatile sig_atomic_t g_armed = 0;
pid_t g_owner = 0;
struct sigaction g_before[NSIG];
bool g_caught[NSIG];

extern "C" void RemoveAndDie(int signal) {
    if (g_armed && getpid() == g_owner) RemoveAt(AT_FDCWD, g_folder, 2);
    g_armed = 0;
    // Ends the process as the signal would have: by its default action.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    raise(signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

bool EndsProcess(int signal) {
    for (int other :
         {SIGKILL, SIGSTOP, SIGCHLD, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU, SIGURG, SIGWINCH})
        if (signal == other) return false;
    return true;
}

void RemoveOnSignals(const std::string &folder) {
    if (g_armed || folder.size() >= sizeof g_folder) return;
    std::memcpy(g_folder, folder.c_str(), folder.size() + 1);
    g_owner = getpid();
    struct sigaction action {};
    action.sa_handler = RemoveAndDie;
    sigfillset(&action.sa_mask);  // one signal at a time removes the folder
    for (int signal = 1; signal < NSIG; ++signal)
        g_caught[signal] =
            EndsProcess(signal) && sigaction(signal, nullptr, &g_before[signal]) == 0 &&
            !(g_before[signal].sa_flags & SA_SIGINFO) && g_before[signal].sa_handler == SIG_DFL &&
            sigaction(signal, &action, nullptr) == 0;
    g_armed = 1;
}

void KeepSignals() {
    g_armed = 0;
    for (int signal = 1; signal < NSIG; ++signal)
        if (g_caught[signal]) sigaction(signal, &g_before[signal], nullptr);
}

std::string Why(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

// Writes text into a new file at path (mode 0600).
bool WriteNew(const std::string &path, const std::string &text) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0 && close(fd) != 0) ok = false;
    return ok;
}

// A tally larger than this is not pam_faillock's (a real one holds a few
// records of 64 bytes): the copy refuses it rather than fill TMPDIR.  Nor
// does a module of the run read a settings or nologin file this large.
constexpr std::size_t kMaxTallyBytes = 1 << 20;

// Why a module of the run would hang on a file it reads besides its tally
// (a FIFO, a device, a huge sparse file), or "": the run is then not made.
std::string BlockingFile(const PamStackLine &line) {
    std::string_view module = BaseName(line.module);
    std::vector<std::string> files;
    if (module == "pam_faillock.so") files = {FaillockConfFile(line.args)};
    if (module == "pam_nologin.so") {
        files = {"/var/run/nologin", "/etc/nologin"};
        for (const std::string &word : Words(line.args))
            if (word.rfind("file=", 0) == 0) files = {word.substr(5)};
    }
    struct stat st;
    for (const std::string &file : files) {
        if (stat(file.c_str(), &st) != 0) continue;
        const char *problem = !S_ISREG(st.st_mode) ? "is not a regular file"
                              : static_cast<std::size_t>(st.st_size) > kMaxTallyBytes
                                  ? "is larger than 1 MiB"
                                  : nullptr;
        if (problem != nullptr)
            return std::string(module) + " reads " + file + ", which " + problem;
    }
    return "";
}

// Makes mine, the private stand-in for the tally folder dir, with a copy
// of user's tally; *made is false when the tally stays where it is.
bool StandIn(const std::string &dir, const char *user, const std::string &mine, bool *made,
             std::string *error) {
    std::string tally = dir + "/" + user, text;
    bool more = false;
    // Never through a link, and never a FIFO or a device: pam_faillock
    // would block on one or read it without end.
    FileRead read = ReadRegularFile(tally.c_str(), kMaxTallyBytes, &text, &more, false);
    bool absent = read == FileRead::kMissing && (errno == ENOENT || errno == ENOTDIR);
    const char *wrong = read == FileRead::kSpecial  ? "is not a regular file"
                        : read == FileRead::kFailed ? "cannot be read"
                        : more                      ? "is larger than 1 MiB"
                                                    : nullptr;
    if (wrong != nullptr) {
        *error = "the pam_faillock tally " + tally + " " + wrong;
        return false;
    }
    // A tally this process may not write stays where it is: pam_faillock,
    // run by this process, can neither change it nor open it (it opens the
    // tally for writing, also to read it), and answers as it would here.
    *made = absent || faccessat(AT_FDCWD, tally.c_str(), W_OK, AT_EACCESS) == 0;
    bool ok = !*made || mkdir(mine.c_str(), 0700) == 0;
    if (!ok) *error = Why("cannot make a private tally folder");
    // The copy holds what the module would read (nothing when the tally is
    // absent, or may be written but not read).
    if (ok && *made && read == FileRead::kRead && !WriteNew(mine + "/" + user, text)) {
        *error = Why("cannot copy the pam_faillock tally");
        ok = false;
    }
    return ok;
}

}  // namespace

PamPrivateFolder::~PamPrivateFolder() {
    if (path_.empty()) return;
    // Removed before the handlers go: a signal in between removes it too.
    RemoveAt(AT_FDCWD, path_.c_str(), 2);
    if (g_armed && path_ == g_folder) KeepSignals();
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
    RemoveOnSignals(path_);
    if (mkdir((path_ + "/pam.d").c_str(), 0700) == 0) return true;
    *error = Why("cannot make a private folder");
    return false;
}

bool PamPrivateFolder::Write(const PamFile &file, std::string *error) {
    bool ok = WriteNew(path_ + "/" + file.name, file.text);
    if (!ok) *error = Why("cannot write the private copy of the stack");
    return ok;
}

bool PamPrivateFolder::RedirectTallies(const PamStack &stack, const char *user,
                                       std::vector<std::string> *extraArgs, std::string *error) {
    extraArgs->assign(stack.lines.size(), "");
    std::vector<std::string> real, copy;  // tally folders, and what their lines point at
    for (std::size_t i = 0; i < stack.lines.size(); ++i) {
        const PamStackLine &line = stack.lines[i];
        if (line.substack || line.mustFail) continue;
        if (!(*error = BlockingFile(line)).empty()) return false;
        if (BaseName(line.module) != "pam_faillock.so") continue;
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
