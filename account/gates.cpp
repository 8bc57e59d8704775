// gates.cpp - what stops a login whatever the password: a nologin file,
// pam_faillock's tally, and a shell that refuses sessions; and the home
// folder and primary group, which are only notes.  Each is read, never
// written: the tally is opened read-only and never locked.  A walk over
// every user keeps the answers that are the same for all (KeepWalkAnswers).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <nss.h>
#include <pwd.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "account/internal.h"

namespace credaccount {
namespace {

// pam_nologin looks for the first of these.
constexpr const char *kNologinFiles[] = {"/run/nologin", "/etc/nologin"};
constexpr const char *kFaillockConf = "/etc/security/faillock.conf";
constexpr std::size_t kNologinMessage = 200;
// faillock.conf and the shells file are read up to this size (real ones
// hold a few hundred bytes).
constexpr std::size_t kMaxConfBytes = 1 << 20;

// The lines of text, as fgets reads them from a file with a buffer of
// size bytes (a longer line goes on as a line of its own).
template <typename Each>
void EachLine(std::string_view text, std::size_t size, Each each) {
    while (!text.empty()) {
        std::size_t n = std::min(std::min(text.find('\n'), text.size() - 1) + 1, size - 1);
        each(std::string_view(text.data(), strnlen(text.data(), n)));
        text.remove_prefix(n);
    }
}

// The file's existence refuses the login, as pam_nologin finds it; its
// first line is the message, read only from a regular file (a FIFO or a
// device there still refuses, with no message).
void ReadNologinFile(CredNologinGate *gate) {
    *gate = CredNologinGate{};
    for (const char *path : kNologinFiles) {
        std::string text;
        if (ReadRegularFile(path, 4 * kNologinMessage, &text) == FileRead::kMissing &&
            errno == ENOENT)
            continue;
        gate->exists = 1;
        CopyText(gate->file, sizeof gate->file, path);
        std::string_view first(text.data(), strnlen(text.data(), text.size()));
        CopyPrintable(gate->message, sizeof gate->message, first.substr(0, first.find('\n')),
                      kNologinMessage);
        return;
    }
}

// ---- pam_faillock ----------------------------------------------------------

struct FaillockSettings {
    std::string dir = "/var/run/faillock";
    unsigned deny = 3;
    long failInterval = 900, unlockTime = 600, rootUnlockTime = -1;
    bool evenDenyRoot = false, fromStack = false;
    std::string conf = kFaillockConf;
};

long Seconds(std::string_view value) {
    if (value == "never") return 0;
    return std::strtol(std::string(value).c_str(), nullptr, 10);
}

// One "key=value" or flag, from the file or from the module's arguments.
// Returns whether it named a setting.
bool Apply(std::string_view key, std::string_view value, FaillockSettings *s) {
    if (key == "dir")
        s->dir = value;
    else if (key == "deny")
        s->deny = static_cast<unsigned>(Seconds(value));
    else if (key == "fail_interval")
        s->failInterval = Seconds(value);
    else if (key == "unlock_time")
        s->unlockTime = Seconds(value);
    else if (key == "root_unlock_time")
        s->rootUnlockTime = Seconds(value);
    else if (key == "even_deny_root")
        s->evenDenyRoot = true;
    else if (key == "conf")
        s->conf = value;
    else
        return false;
    return true;
}

void ReadConf(const std::string &path, FaillockSettings *s) {
    std::string conf;
    ReadRegularFile(path.c_str(), kMaxConfBytes, &conf);
    EachLine(conf, 1024, [s](std::string_view text) {
        text = Trim(text.substr(0, text.find('#')));
        std::size_t eq = text.find('=');
        if (eq == std::string_view::npos)
            Apply(text, {}, s);
        else
            Apply(Trim(text.substr(0, eq)), Trim(text.substr(eq + 1)), s);
    });
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
        std::string_view value =
            eq == std::string_view::npos ? std::string_view() : word.substr(eq + 1);
        changed |= Apply(key, value, s) && !confOnly;
    }
    return changed;
}

// The arguments of the auth line of pam_faillock that refuses a locked
// user: its "preauth" line, else its first auth line.
std::string FaillockArgs(const PamStack *stack) {
    if (stack == nullptr) return {};
    const PamStackLine *chosen = nullptr;
    for (const PamStackLine &line : stack->lines) {
        if (line.type != "auth" || BaseName(line.module) != "pam_faillock.so") continue;
        bool preauth = (" " + line.args + " ").find(" preauth ") != std::string::npos;
        if (chosen == nullptr || preauth) chosen = &line;
        if (preauth) break;
    }
    return chosen != nullptr ? chosen->args : std::string();
}

// The settings of a pam_faillock line with arguments args: they override
// the file, which a conf= argument names.
FaillockSettings SettingsOf(std::string_view args) {
    FaillockSettings s;
    ApplyArgs(args, true, &s);
    ReadConf(s.conf, &s);
    s.fromStack = ApplyArgs(args, false, &s);
    return s;
}

// The settings that decide a lock for a service of that stack (null: none).
FaillockSettings LoadFaillockSettings(const PamStack *stack) {
    return SettingsOf(FaillockArgs(stack));
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
constexpr std::size_t kMaxRecords = 1024;

// Counts as pam_faillock does: the latest valid failure, and the valid
// failures within fail_interval of it.
void CountTally(const std::string &tally, CredFaillockGate *gate) {
    std::size_t count = tally.size() / sizeof(TallyRecord);
    std::unique_ptr<TallyRecord[]> records(new (std::nothrow) TallyRecord[count]);
    if (!records) count = 0;
    if (count > 0) std::memcpy(records.get(), tally.data(), count * sizeof(TallyRecord));
    long long latest = -1;
    for (std::size_t i = 0; i < count; ++i)
        if ((records[i].status & kTallyValid) && static_cast<long long>(records[i].time) > latest)
            latest = static_cast<long long>(records[i].time);
    for (std::size_t i = 0; i < count; ++i)
        if ((records[i].status & kTallyValid) &&
            latest - static_cast<long long>(records[i].time) < gate->failInterval)
            ++gate->failures;
    gate->lastFailure = latest;
}

// ---- The walk's answers ------------------------------------------------------

struct WalkAnswers {
    bool nologinRead = false;
    CredNologinGate nologin;
    std::string faillockService;
    bool faillockRead = false, talliesListed = false;
    FaillockSettings faillock;
    std::unordered_set<std::string> tallies;  // the users the tally folder has a file for
    std::unordered_map<std::string, std::pair<const char *, bool>> shells;  // problem, listed
    std::unordered_map<gid_t, bool> groups;                                 // has an entry
    std::string stackService;
    bool stackRead = false, stackFound = false;
    ServiceAuth stack;
    // The entries of each folder that holds homes, with their types; a
    // folder that cannot be listed maps to nothing.
    std::unordered_map<std::string, std::unique_ptr<std::unordered_map<std::string, unsigned char>>>
        folders;
};
WalkAnswers *g_walk = nullptr;

const FaillockSettings &Settings(const char *service, const PamStack *stack,
                                 FaillockSettings *own) {
    if (g_walk == nullptr) return *own = LoadFaillockSettings(stack);
    if (!g_walk->faillockRead || g_walk->faillockService != service) {
        g_walk->faillock = LoadFaillockSettings(stack);
        g_walk->faillockService = service;
        g_walk->faillockRead = true;
        g_walk->tallies.clear();
        DIR *dir = opendir(g_walk->faillock.dir.c_str());
        g_walk->talliesListed = dir != nullptr || errno == ENOENT;
        while (dir != nullptr) {
            struct dirent *e = readdir(dir);
            if (e == nullptr) break;
            g_walk->tallies.insert(e->d_name);
        }
        if (dir != nullptr) closedir(dir);
    }
    return g_walk->faillock;
}

// A walk's listing of the tally folder shows the user has no tally.
bool KnownWithoutTally(const char *user) {
    return g_walk != nullptr && g_walk->talliesListed && g_walk->tallies.count(user) == 0;
}

const char *ShellProblem(const char *path) {
    std::string_view name = BaseName(path);
    struct stat st;
    if (name == "nologin" || name == "false") return "refuses sessions";
    if (stat(path, &st) != 0) return "missing";
    if (!S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0) return "not executable";
    return nullptr;
}

bool ReadShellListed(const char *path, const char *shell) {
    std::string shells;
    ReadRegularFile(path, kMaxConfBytes, &shells);
    bool found = false;
    EachLine(shells, 4096, [&found, shell](std::string_view text) {
        text = Trim(text.substr(0, text.find('#')));
        found = found || (!text.empty() && text == shell);
    });
    return found;
}

bool GroupExists(gid_t gid) {
    if (g_walk != nullptr) {
        auto found = g_walk->groups.find(gid);
        if (found != g_walk->groups.end()) return found->second;
    }
    bool exists = LookUpGroup(gid, nullptr) != 0;
    if (g_walk != nullptr) g_walk->groups.emplace(gid, exists);
    return exists;
}

enum class Entry { Missing, Folder, Other, Unknown };

// In a walk, what the listing of its folder says of path; Unknown when
// only a stat can tell (a link, a folder that cannot be listed, not in a
// walk).  Homes mostly share a folder: one listing stands for a stat per user.
Entry Listed(std::string_view path) {
    std::size_t slash = path.rfind('/');
    if (g_walk == nullptr || slash == std::string_view::npos || slash + 1 == path.size() ||
        path.substr(slash + 1) == "." || path.substr(slash + 1) == "..")
        return Entry::Unknown;
    try {
        std::string folder(path.substr(0, slash == 0 ? 1 : slash));
        auto found = g_walk->folders.find(folder);
        if (found == g_walk->folders.end()) {
            std::unique_ptr<std::unordered_map<std::string, unsigned char>> entries;
            if (DIR *dir = opendir(folder.c_str())) {
                entries = std::make_unique<std::unordered_map<std::string, unsigned char>>();
                while (struct dirent *e = readdir(dir)) entries->emplace(e->d_name, e->d_type);
                closedir(dir);
            }
            found = g_walk->folders.emplace(folder, std::move(entries)).first;
        }
        if (!found->second) return Entry::Unknown;
        auto entry = found->second->find(std::string(path.substr(slash + 1)));
        if (entry == found->second->end()) return Entry::Missing;
        if (entry->second == DT_DIR) return Entry::Folder;
        return entry->second == DT_REG ? Entry::Other : Entry::Unknown;
    } catch (...) {
        return Entry::Unknown;  // no memory for the listing: a stat tells
    }
}

// The group ids of the files source, read once per walk: with private
// primary groups every user has a gid of its own, and a lookup per gid
// would read the group file from its top for every user.  It answers as
// the host's lookup by gid would, and only where it can tell: an id the
// file has, when the files source comes first (the lookup stops at its
// first success), and an id the file lacks only when no other source is
// configured.  Everything else is asked of the host.
class GroupIndex {
  public:
    GroupIndex() {
        try {
            std::vector<std::string> sources = SourceNames("/etc/nsswitch.conf", "group");
            if (sources.empty() || sources[0] != "files") return;
            alone_ = sources.size() == 1;
            read_ = ReadFiles();
            std::sort(gids_.begin(), gids_.end());
        } catch (...) {
            read_ = false;  // no memory for the ids: the host is asked
        }
    }

    // 1: the group has an entry, 0: none, -1: only the host can tell.
    int Find(gid_t gid) const {
        if (!read_) return -1;
        if (std::binary_search(gids_.begin(), gids_.end(), gid)) return 1;
        return alone_ ? 0 : -1;
    }

  private:
    // The files module's own enumeration, which parses the lines as its
    // lookups do; true when it read to the end.
    bool ReadFiles() {
        void *handle = dlopen("libnss_files.so.2", RTLD_LAZY | RTLD_LOCAL);
        if (handle == nullptr) return false;
        using Get = nss_status (*)(struct group *, char *, std::size_t, int *);
        auto set = reinterpret_cast<nss_status (*)(int)>(dlsym(handle, "_nss_files_setgrent"));
        auto get = reinterpret_cast<Get>(dlsym(handle, "_nss_files_getgrent_r"));
        auto end = reinterpret_cast<nss_status (*)()>(dlsym(handle, "_nss_files_endgrent"));
        if (set == nullptr || get == nullptr || end == nullptr) return false;
        std::vector<char> buffer(1 << 16);
        nss_status status = set(0);
        while (status == NSS_STATUS_SUCCESS) {
            struct group entry;
            int err = 0;
            status = get(&entry, buffer.data(), buffer.size(), &err);
            if (status == NSS_STATUS_TRYAGAIN && err == ERANGE && buffer.size() < (1u << 24)) {
                buffer.resize(buffer.size() * 4);  // the module reads the same line again
                status = NSS_STATUS_SUCCESS;
                continue;
            }
            // The lookup by gid never matches a "+" or "-" line.
            if (status == NSS_STATUS_SUCCESS && entry.gr_name != nullptr &&
                entry.gr_name[0] != '+' && entry.gr_name[0] != '-')
                gids_.push_back(entry.gr_gid);
        }
        end();
        return status == NSS_STATUS_NOTFOUND;
    }

    std::vector<gid_t> gids_;
    bool read_ = false, alone_ = false;
};
GroupIndex *g_groups = nullptr;

}  // namespace

int LookUpGroup(gid_t gid, std::string *name) {
    if (g_groups != nullptr && name == nullptr) {
        int found = g_groups->Find(gid);
        if (found >= 0) return found;
    }
    LookupBuffer buffer;
    struct group entry, *found = nullptr;
    int err = ERANGE;
    while (err == ERANGE && buffer.Grow())
        err = getgrgid_r(gid, &entry, buffer.data.get(), buffer.size, &found);
    if (found == nullptr) return err == 0 || err == ENOENT || err == ESRCH ? 0 : -1;
    if (name != nullptr) *name = found->gr_name;
    return 1;
}

void KeepWalkAnswers(bool keep) {
    delete g_walk;
    g_walk = keep ? new (std::nothrow) WalkAnswers : nullptr;
    delete g_groups;
    g_groups = keep ? new (std::nothrow) GroupIndex : nullptr;
    KeepLineNames(keep);
}

bool InWalk() {
    return g_walk != nullptr;
}

// The stack and its holder lines; false when the service has none.
bool ReadServiceAuth(const char *service, ServiceAuth *auth) {
    if (!ReadPamStack(service, &auth->stack)) return false;
    FindHolderLines(auth);
    return true;
}

const ServiceAuth *ServiceStack(const char *service, ServiceAuth *own) {
    if (g_walk == nullptr) return ReadServiceAuth(service, own) ? own : nullptr;
    if (!g_walk->stackRead || g_walk->stackService != service) {
        g_walk->stack = ServiceAuth{};
        g_walk->stackFound = ReadServiceAuth(service, &g_walk->stack);
        g_walk->stackService = service;
        g_walk->stackRead = true;
    }
    return g_walk->stackFound ? &g_walk->stack : nullptr;
}

void ReadNologin(CredNologinGate *gate) {
    if (g_walk == nullptr) return ReadNologinFile(gate);
    if (!g_walk->nologinRead) ReadNologinFile(&g_walk->nologin);
    g_walk->nologinRead = true;
    *gate = g_walk->nologin;
}

void ReadFaillock(const char *service, const PamStack *stack, const char *user, bool root,
                  long long now, CredFaillockGate *gate) {
    *gate = CredFaillockGate{};
    gate->lastFailure = gate->unlockAt = -1;
    FaillockSettings own;
    const FaillockSettings &s = Settings(service, stack, &own);
    CopyText(gate->dir, sizeof gate->dir, s.dir.c_str());
    gate->deny = s.deny;
    gate->failInterval = s.failInterval;
    gate->unlockTime = root && s.rootUnlockTime >= 0 ? s.rootUnlockTime : s.unlockTime;
    gate->evenDenyRoot = s.evenDenyRoot;
    gate->fromStack = s.fromStack;
    gate->readable = 1;
    if (KnownWithoutTally(user)) return;
    // Only a regular file is read, never through a link, and no further
    // than pam_faillock reads.
    std::string path = s.dir + "/" + user, tally;
    FileRead read =
        ReadRegularFile(path.c_str(), kMaxRecords * sizeof(TallyRecord), &tally, nullptr, false);
    if (read != FileRead::kRead) {
        gate->readable = read == FileRead::kMissing && (errno == ENOENT || errno == ENOTDIR);
        return;
    }
    gate->tally = 1;
    CountTally(tally, gate);
    if (gate->deny == 0 || gate->failures < gate->deny || (root && !gate->evenDenyRoot)) return;
    if (gate->unlockTime != 0 && gate->lastFailure + gate->unlockTime < now) return;
    gate->locked = 1;
    gate->unlockAt = gate->unlockTime == 0 ? -1 : gate->lastFailure + gate->unlockTime;
}

std::string FaillockTallyDir(std::string_view args) {
    return SettingsOf(args).dir;
}

std::string FaillockConfFile(std::string_view args) {
    FaillockSettings s;
    ApplyArgs(args, true, &s);
    return s.conf;
}

void CheckShell(const char *field, const char *shellsFile, CredShellGate *gate, bool *listed) {
    *gate = CredShellGate{};
    if (field == nullptr) field = "";
    CopyText(gate->path, sizeof gate->path, field[0] != '\0' ? field : "/bin/sh");
    auto answer = [&] {
        return std::make_pair(ShellProblem(gate->path),
                              field[0] != '\0' && ReadShellListed(shellsFile, field));
    };
    std::pair<const char *, bool> got;
    try {
        if (g_walk == nullptr) throw std::bad_alloc();
        auto found = g_walk->shells.find(field);
        if (found == g_walk->shells.end()) found = g_walk->shells.emplace(field, answer()).first;
        got = found->second;
    } catch (...) {
        got = answer();  // not in a walk, or no memory to keep the answer
    }
    gate->problem = got.first;
    gate->usable = gate->problem == nullptr;
    *listed = got.second;
}

unsigned HomeAndGroupNotes(const struct passwd *pw) {
    const char *home = pw->pw_dir != nullptr ? pw->pw_dir : "";
    Entry entry = Listed(home);
    struct stat st;
    if (entry == Entry::Unknown)
        entry = stat(home, &st) != 0  ? Entry::Missing
                : S_ISDIR(st.st_mode) ? Entry::Folder
                                      : Entry::Other;
    unsigned notes = entry == Entry::Missing ? CRED_ANOTE_HOME_MISSING
                     : entry == Entry::Other ? CRED_ANOTE_HOME_NOT_FOLDER
                                             : 0;
    if (!GroupExists(pw->pw_gid)) notes |= CRED_ANOTE_NO_GROUP;
    return notes;
}

}  // namespace credaccount
