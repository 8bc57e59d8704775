// output.cpp - "--output FILE": the audit goes to a temporary file in FILE's
// folder, which replaces FILE only when the whole report was written, so a
// reader (node_exporter's textfile collector) sees the old file or the new
// one, never a part.  A failed or interrupted audit leaves FILE as it was and
// nothing else in the folder.
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/driver.h"

namespace credcheck {
namespace {

// The temporary file while it is not yet renamed; "" otherwise.  A fixed
// buffer, so that a signal handler may remove it.
char pending[4096];
std::string target;

void RemovePending() {
    if (pending[0] != '\0') unlink(pending);
    pending[0] = '\0';
}

void OnSignal(int signal) {
    if (pending[0] != '\0') unlink(pending);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

[[noreturn]] void Fail(const std::string &what, int error) {
    RemovePending();
    std::fprintf(stderr, "credcheck: %s: %s%s%s\n", Quoted(target.c_str()).c_str(), what.c_str(),
                 error != 0 ? ": " : "", error != 0 ? std::strerror(error) : "");
    std::_Exit(kUsageStatus);
}

std::string Folder(const std::string &file) {
    std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

}  // namespace

void BeginOutput(const char *file) {
    target = file;
    std::string base = target.substr(target.rfind('/') + 1);
    // A dot name without the ".prom" ending: the collector does not read it.
    std::string temp = Folder(target) + "/." + base + ".XXXXXX";
    if (base.empty() || temp.size() >= sizeof pending) Fail("not a file name", 0);
    // Only a regular file is replaced: never a device, a FIFO or a link.
    struct stat st {};
    if (lstat(file, &st) == 0 && !S_ISREG(st.st_mode)) Fail("not a regular file", 0);
    std::memcpy(pending, temp.c_str(), temp.size() + 1);
    std::atexit(RemovePending);
    for (int s : {SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM})
        signal(s, OnSignal);
    int fd = mkstemp(pending);
    if (fd < 0) {
        int error = errno;
        pending[0] = '\0';
        Fail("cannot write a file in its folder", error);
    }
    std::fflush(stdout);
    if (dup2(fd, STDOUT_FILENO) < 0) Fail("cannot write", errno);
    close(fd);
}

bool OutputToFile() {
    return pending[0] != '\0';
}

void CommitOutput() {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) Fail("cannot write", errno);
    // Flushed to the disk before it takes FILE's name; mode 0644 whatever
    // the umask, as the collector's files are.
    if (fsync(STDOUT_FILENO) != 0) Fail("cannot write", errno);
    if (fchmod(STDOUT_FILENO, 0644) != 0) Fail("cannot set its mode", errno);
    if (rename(pending, target.c_str()) != 0) Fail("cannot replace it", errno);
    pending[0] = '\0';
    int folder = open(Folder(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}

}  // namespace credcheck
