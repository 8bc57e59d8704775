// gates.cpp - what stops a login whatever the password: a nologin file,
// pam_faillock's tally, and a shell that refuses sessions.  Each is read,
// never written: the tally is opened read-only and never locked.
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "account/internal.h"

namespace credaccount {
namespace {

// pam_nologin looks for the first of these.
constexpr const char *kNologinFiles[] = {"/run/nologin", "/etc/nologin"};
constexpr const char *kFaillockConf = "/etc/security/faillock.conf";
constexpr std::size_t kNologinMessage = 200;

// Copies the first line of text into out, control characters as '?', at
// most limit characters.
void FirstLine(std::string_view text, std::size_t limit, char *out, std::size_t size) {
    std::string line;
    for (char c : text.substr(0, text.find('\n'))) {
        if (line.size() == limit) break;
        auto u = static_cast<unsigned char>(c);
        line += u < 0x20 || u == 0x7f ? '?' : c;
    }
    std::snprintf(out, size, "%s", line.c_str());
}

// pam_faillock's settings.
struct FaillockSettings {
    std::string dir = "/var/run/faillock";
    unsigned deny = 3;
    long failInterval = 900, unlockTime = 600, rootUnlockTime = -1;
    bool evenDenyRoot = false;
    std::string conf = kFaillockConf;
};

long Seconds(std::string_view value) {
    if (value == "never") return 0;
    return std::strtol(std::string(value).c_str(), nullptr, 10);
}

// One "key=value" or flag, from the file or from the module's arguments.
// Returns whether it named a setting.
bool Apply(std::string_view key, std::string_view value, FaillockSettings *s) {
    if (key == "dir") s->dir = value;
    else if (key == "deny") s->deny = static_cast<unsigned>(Seconds(value));
    else if (key == "fail_interval") s->failInterval = Seconds(value);
    else if (key == "unlock_time") s->unlockTime = Seconds(value);
    else if (key == "root_unlock_time") s->rootUnlockTime = Seconds(value);
    else if (key == "even_deny_root") s->evenDenyRoot = true;
    else if (key == "conf") s->conf = value;
    else return false;
    return true;
}

std::string_view Trim(std::string_view text) {
    std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return {};
    std::size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

void ReadConf(const std::string &path, FaillockSettings *s) {
    FILE *fp = std::fopen(path.c_str(), "re");
    if (fp == nullptr) return;
    char line[1024];
    while (std::fgets(line, sizeof line, fp) != nullptr) {
        std::string_view text = line;
        text = Trim(text.substr(0, text.find('#')));
        std::size_t eq = text.find('=');
        if (eq == std::string_view::npos)
            Apply(text, {}, s);
        else
            Apply(Trim(text.substr(0, eq)), Trim(text.substr(eq + 1)), s);
    }
    std::fclose(fp);
}

// Applies the module arguments in args (only conf= when confOnly).
// Returns whether one of them named a setting other than conf.
bool ApplyArgs(std::string_view args, bool confOnly, FaillockSettings *s) {
    bool changed = false;
    while (!(args = Trim(args)).empty()) {
        std::size_t end = args.find_first_of(" \t");
        std::string_view word = args.substr(0, end);
        args = end == std::string_view::npos ? std::string_view() : args.substr(end);
        std::size_t eq = word.find('=');
        std::string_view key = word.substr(0, eq);
        if (confOnly != (key == "conf")) continue;
        changed |= Apply(key, eq == std::string_view::npos ? std::string_view() : word.substr(eq + 1),
                         s) && !confOnly;
    }
    return changed;
}

// The settings of a pam_faillock line with arguments args: they override
// the file, which a conf= argument names.  *fromStack (may be null): one of
// them changed a setting.
FaillockSettings Settings(std::string_view args, bool *fromStack) {
    FaillockSettings s;
    ApplyArgs(args, true, &s);
    ReadConf(s.conf, &s);
    bool changed = ApplyArgs(args, false, &s);
    if (fromStack != nullptr) *fromStack = changed;
    return s;
}

// The arguments of the auth line of pam_faillock that refuses a locked
// user: its "preauth" line, else its first auth line.
std::string FaillockArgs(const char *service) {
    PamStack stack;
    if (!ReadPamStack(service, &stack)) return {};
    const PamStackLine *chosen = nullptr;
    for (const PamStackLine &line : stack.lines) {
        if (line.type != "auth" || BaseName(line.module) != "pam_faillock.so") continue;
        bool preauth = (" " + line.args + " ").find(" preauth ") != std::string::npos;
        if (chosen == nullptr || preauth) chosen = &line;
        if (preauth) break;
    }
    return chosen != nullptr ? chosen->args : std::string();
}

// The records of a tally file, as pam_faillock writes them.
struct TallyRecord {
    char source[52];
    std::uint16_t reserved;
    std::uint16_t status;
    std::uint64_t time;
};
static_assert(sizeof(TallyRecord) == 64);
constexpr std::uint16_t kTallyValid = 1;

}  // namespace

void ReadNologin(CredNologinGate *gate) {
    *gate = CredNologinGate{};
    for (const char *path : kNologinFiles) {
        FILE *fp = std::fopen(path, "re");
        if (fp == nullptr && errno == ENOENT) continue;
        gate->exists = 1;
        std::snprintf(gate->file, sizeof gate->file, "%s", path);
        if (fp == nullptr) return;
        char text[4 * kNologinMessage];
        std::size_t n = std::fread(text, 1, sizeof text - 1, fp);
        std::fclose(fp);
        FirstLine(std::string_view(text, n), kNologinMessage, gate->message, sizeof gate->message);
        return;
    }
}

void ReadFaillock(const char *service, const char *user, bool root, long long now,
                  CredFaillockGate *gate) {
    *gate = CredFaillockGate{};
    gate->lastFailure = gate->unlockAt = -1;
    bool fromStack = false;
    FaillockSettings s = Settings(FaillockArgs(service), &fromStack);
    gate->fromStack = fromStack;
    std::snprintf(gate->dir, sizeof gate->dir, "%s", s.dir.c_str());
    gate->deny = s.deny;
    gate->failInterval = s.failInterval;
    gate->unlockTime = root && s.rootUnlockTime >= 0 ? s.rootUnlockTime : s.unlockTime;
    gate->evenDenyRoot = s.evenDenyRoot;

    std::string path = s.dir + "/" + user;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        gate->readable = errno == ENOENT || errno == ENOTDIR;
        return;
    }
    gate->readable = gate->tally = 1;
    // The latest failure, then those within fail_interval of it.
    TallyRecord records[256];
    ssize_t n = read(fd, records, sizeof records);
    close(fd);
    std::size_t count = n > 0 ? static_cast<std::size_t>(n) / sizeof(TallyRecord) : 0;
    long long latest = -1;
    for (std::size_t i = 0; i < count; ++i)
        if ((records[i].status & kTallyValid) && static_cast<long long>(records[i].time) > latest)
            latest = static_cast<long long>(records[i].time);
    for (std::size_t i = 0; i < count; ++i)
        if ((records[i].status & kTallyValid) &&
            latest - static_cast<long long>(records[i].time) < gate->failInterval)
            ++gate->failures;
    gate->lastFailure = latest;
    if (gate->deny == 0 || gate->failures < gate->deny || (root && !gate->evenDenyRoot)) return;
    if (gate->unlockTime != 0 && latest + gate->unlockTime < now) return;
    gate->locked = 1;
    gate->unlockAt = gate->unlockTime == 0 ? -1 : latest + gate->unlockTime;
}

std::string FaillockTallyDir(std::string_view args) {
    return Settings(args, nullptr).dir;
}

void CheckShell(const char *field, CredShellGate *gate) {
    *gate = CredShellGate{};
    std::snprintf(gate->path, sizeof gate->path, "%s",
                  field != nullptr && field[0] != '\0' ? field : "/bin/sh");
    std::string_view name = BaseName(gate->path);
    struct stat st;
    if (name == "nologin" || name == "false")
        gate->problem = "refuses sessions";
    else if (stat(gate->path, &st) != 0)
        gate->problem = "missing";
    else if (!S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0)
        gate->problem = "not executable";
    gate->usable = gate->problem == nullptr;
}

}  // namespace credaccount
