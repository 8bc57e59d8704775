// ssh_sshd.cpp - sshd's own answer: its settings for one user, host and
// address, as "sshd -T -C" prints them.  sshd only prints in that mode; it
// neither starts a server nor changes a file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "account/internal.h"

namespace credaccount {
namespace {

constexpr std::size_t kOutputLimit = 1024 * 1024;  // sshd -T prints a few kilobytes
constexpr std::size_t kErrorLimit = 4096;
constexpr long kDeadlineMs = 10000;

// /usr/sbin/sshd, else the first sshd in PATH's absolute folders.
std::string FindSshd() {
    auto runnable = [](const std::string &p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
    };
    if (runnable("/usr/sbin/sshd")) return "/usr/sbin/sshd";
    const char *path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "";
    while (!rest.empty()) {
        std::size_t colon = rest.find(':');
        std::string folder(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (!folder.empty() && folder[0] == '/' && runnable(folder + "/sshd"))
            return folder + "/sshd";
    }
    return "";
}

long NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Reads both pipes until they close, the deadline passes or the output
// outgrows its limit.  False when cut short.
bool Collect(int outFd, int errFd, std::string *out, std::string *err, std::size_t outputLimit,
             long deadlineMs) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string *into[2] = {out, err};
    std::size_t limit[2] = {outputLimit, kErrorLimit};
    long deadline = NowMs() + deadlineMs;
    int open = 2;
    while (open > 0) {
        long left = deadline - NowMs();
        if (left <= 0 || poll(fds, 2, static_cast<int>(left)) < 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char chunk[4096];
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n <= 0) {
                fds[i].fd = -1;
                --open;
            } else if (into[i]->size() < limit[i]) {
                into[i]->append(chunk, static_cast<std::size_t>(n));
            } else if (i == 0) {
                return false;
            }
        }
    }
    return true;
}

bool Unavailable(CredSsh *ssh, const char *why) {
    ssh->unavailable = why;
    return false;
}

}  // namespace

std::string FirstLine(std::string_view text) {
    std::string_view line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    return std::string(line);
}

ChildAnswer RunChild(const char *const argv[], std::size_t outputLimit, long deadlineMs) {
    const char *envp[] = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C", nullptr};
    ChildAnswer answer;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return answer;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]), close(out[1]);
        return answer;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char **>(argv),
                              const_cast<char **>(envp));
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]), close(err[1]);
    answer.started = spawned == 0;
    answer.whole = answer.started &&
                   Collect(out[0], err[0], &answer.out, &answer.err, outputLimit, deadlineMs);
    close(out[0]), close(err[0]);
    if (!answer.started) return answer;
    if (!answer.whole) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    answer.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return answer;
}

bool AskSshd(const char *user, const char *address, std::string *settings, CredSsh *ssh) {
    std::string sshd = FindSshd();
    if (sshd.empty())
        return Unavailable(ssh, "sshd is not installed (neither /usr/sbin/sshd nor one in PATH)");
    std::string connection = std::string("user=") + user + ",host=" + address + ",addr=" + address;
    const char *argv[] = {sshd.c_str(), "-T", "-C", connection.c_str(), nullptr};
    ChildAnswer answer = RunChild(argv, kOutputLimit, kDeadlineMs);
    if (!answer.started) return Unavailable(ssh, "sshd could not be started");
    if (!answer.whole)
        return Unavailable(ssh, "sshd did not print its settings in time, or printed too much");
    if (answer.status != 0) {
        // The first line of sshd's complaint, printable and short.
        CopyPrintable(ssh->detail, sizeof ssh->detail, FirstLine(answer.err), 200);
        return Unavailable(ssh, "sshd could not print its settings");
    }
    *settings = std::move(answer.out);
    return true;
}

}  // namespace credaccount
