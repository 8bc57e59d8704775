// ssh_keys.cpp - the authorized keys sshd would use: every AuthorizedKeysFile
// as sshd expands it, opened as the user could open it, StrictModes as sshd
// checks it, each line as sshd reads it, and the keys counted (never shown).
// Everything here only reads, and only what the user could read: this
// process may be root, so each folder is opened by itself without following
// a link, and every check is made on what was opened, never again by name.
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "account/internal.h"

namespace credaccount {
namespace {

constexpr std::size_t kLineLimit = 16 * 1024;         // the part of a line that is read
constexpr long long kFileLimit = 64LL * 1024 * 1024;  // bytes read from one file at most
constexpr int kLinkLimit = 40;                        // links followed on one path, as Linux does
constexpr std::size_t kDepthLimit = 256;              // folders on one path

// A descriptor closed when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int value = -1) : fd(value) {}
    Fd(Fd &&other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Fd &operator=(Fd &&other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

// The user whose keys are counted, as the kernel would see sshd acting
// for them.
struct User {
    const struct passwd *pw;
    std::vector<gid_t> groups;
};

// One folder on the way, opened by itself (O_PATH: for lookups only).
struct Folder {
    Fd fd;
    struct stat st;
    std::string path;
    std::string acl;  // its access ACL, or empty
};

// A key file reached from /: the folders of its resolved path, the file
// opened for reading, and what fstat said of it.
struct Reached {
    std::vector<Folder> folders;
    Fd file;
    struct stat st;
    std::string path;
};

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

// The access ACL of what fd refers to, in the kernel's format: empty when
// it has none.  False when it has one that cannot be read.
bool AccessAcl(int fd, std::string *acl) {
    char data[4096];
    ssize_t n = fgetxattr(fd, "system.posix_acl_access", data, sizeof data);
    if (n < 0 && errno == EBADF) {  // an O_PATH descriptor: ask through its /proc link
        std::string link = "/proc/self/fd/" + std::to_string(fd);
        n = getxattr(link.c_str(), "system.posix_acl_access", data, sizeof data);
    }
    acl->assign(data, n > 0 ? static_cast<std::size_t>(n) : 0);
    return n >= 0 || errno == ENODATA || errno == ENOTSUP || errno == ENOENT;
}

bool InGroupList(const User &user, gid_t gid) {
    return std::find(user.groups.begin(), user.groups.end(), gid) != user.groups.end();
}

// The kernel's decision by an ACL for a user other than the owner: the
// user's own entry, else the groups' entries (any that grants), else the
// others' entry; a named entry and the groups are limited by the mask.
bool AclGrants(std::string_view acl, const struct stat &st, const User &user, unsigned want) {
    enum : unsigned { kUser = 2, kGroupObj = 4, kGroup = 8, kMask = 0x10, kOther = 0x20 };
    auto number = [&](std::size_t at, int bytes) {
        unsigned v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(acl[at + i]);
        return v;
    };
    if (acl.size() < 4 || (acl.size() - 4) % 8 != 0 || number(0, 4) != 2) return false;
    unsigned mask = 7, other = 0, own = 0;
    bool named = false, member = false, groupGrants = false;
    for (std::size_t at = 4; at < acl.size(); at += 8) {
        unsigned tag = number(at, 2), perm = number(at + 2, 2), id = number(at + 4, 4);
        if (tag == kMask) mask = perm;
        if (tag == kOther) other = perm;
        if (tag == kUser && id == user.pw->pw_uid) named = true, own = perm;
        bool group = (tag == kGroupObj && InGroupList(user, st.st_gid)) ||
                     (tag == kGroup && InGroupList(user, static_cast<gid_t>(id)));
        member |= group;
        groupGrants |= group && (perm & want) == want;
    }
    if (named) return (own & mask & want) == want;
    if (member) return groupGrants && (mask & want) == want;
    return (other & want) == want;
}

// Whether the user has the permission want (S_IROTH or S_IXOTH) on st,
// with its ACL acl (empty: none), as the kernel decides: the owner's bits
// for the owner, else the ACL, else the group's bits for a member and the
// others' for the rest; root passes.
bool UserMay(const struct stat &st, std::string_view acl, const User &user, mode_t want) {
    if (user.pw->pw_uid == 0) return true;
    if (st.st_uid == user.pw->pw_uid) return st.st_mode & (want << 6);
    if (!acl.empty()) return AclGrants(acl, st, user, static_cast<unsigned>(want));
    if (InGroupList(user, st.st_gid)) return st.st_mode & (want << 3);
    return st.st_mode & want;
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

std::string Child(const std::string &folder, const std::string &name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The parts of path, last first, so that the next one is at the back.
void PushParts(std::string_view path, std::vector<std::string> *todo) {
    std::vector<std::string> parts = Words(path, '/');
    todo->insert(todo->end(), parts.rbegin(), parts.rend());
}

bool OpenRoot(std::vector<Folder> *folders) {
    folders->clear();
    Folder root{Fd(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)), {}, "/", {}};
    if (root.fd.fd < 0 || fstat(root.fd.fd, &root.st) != 0 || !AccessAcl(root.fd.fd, &root.acl))
        return false;
    folders->push_back(std::move(root));
    return true;
}

std::string ReadLink(int fd) {
    char target[PATH_MAX];
    ssize_t n = readlinkat(fd, "", target, sizeof target);
    return n > 0 && static_cast<std::size_t>(n) < sizeof target
               ? std::string(target, static_cast<std::size_t>(n))
               : std::string();
}

// Opens the regular file at the end of the walk (looked, an O_PATH
// descriptor) for reading, when the user may read it.  It is reopened
// through its /proc link, which names that very file, or, without /proc,
// by name without following a link, and then it must be the same file.
bool OpenFile(const Folder &here, const std::string &name, const Fd &looked, const User &user,
              Reached *out, CredSsh *ssh) {
    std::string path = Child(here.path, name);
    if (!S_ISREG(out->st.st_mode)) {
        AddProblem(ssh, path, "not a regular file");
        return false;
    }
    constexpr int kRead = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    std::string link = "/proc/self/fd/" + std::to_string(looked.fd);
    out->file = Fd(open(link.c_str(), kRead & ~O_NOFOLLOW));
    if (out->file.fd < 0) out->file = Fd(openat(here.fd.fd, name.c_str(), kRead));
    struct stat now;
    std::string acl;
    if (out->file.fd < 0 || fstat(out->file.fd, &now) != 0 || now.st_dev != out->st.st_dev ||
        now.st_ino != out->st.st_ino || !S_ISREG(now.st_mode))
        return false;
    if (!AccessAcl(out->file.fd, &acl) || !UserMay(now, acl, user, S_IROTH)) {
        AddProblem(ssh, path, "not readable by the user");
        return false;
    }
    out->st = now;
    out->path = path;
    return true;
}

// The walk from / to the file at path, each part looked up in the folder
// opened before it, with the user's permission to search that folder.  A
// link is read and its target walked in turn; ".." goes back one folder of
// the resolved path, as the kernel resolves it.  False when the user could
// not reach a regular file there (why in ssh->problems, unless it is
// simply missing).
bool Reach(const std::string &path, const User &user, Reached *out, CredSsh *ssh) {
    std::vector<std::string> todo;
    PushParts(path, &todo);
    if (!OpenRoot(&out->folders)) return false;
    int links = 0;
    while (!todo.empty()) {
        std::string name = std::move(todo.back());
        todo.pop_back();
        if (name == ".") continue;
        if (name == "..") {
            if (out->folders.size() > 1) out->folders.pop_back();
            continue;
        }
        const Folder &here = out->folders.back();
        if (!UserMay(here.st, here.acl, user, S_IXOTH)) {
            AddProblem(ssh, here.path, "not searchable by the user");
            return false;
        }
        Fd fd(openat(here.fd.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (fd.fd < 0 || fstat(fd.fd, &st) != 0) return false;
        if (S_ISLNK(st.st_mode)) {
            std::string target = ReadLink(fd.fd);
            if (target.empty() || ++links > kLinkLimit) return false;
            if (target[0] == '/') out->folders.resize(1);
            PushParts(target, &todo);
            continue;
        }
        if (todo.empty()) {
            out->st = st;
            return OpenFile(here, name, fd, user, out, ssh);
        }
        std::string acl;
        if (!S_ISDIR(st.st_mode) || out->folders.size() >= kDepthLimit || !AccessAcl(fd.fd, &acl))
            return false;
        out->folders.push_back(Folder{std::move(fd), st, Child(here.path, name), std::move(acl)});
    }
    AddProblem(ssh, out->folders.back().path, "not a regular file");
    return false;
}

// StrictModes on what was opened: the file, then each folder above it up
// to the home (when the file is under it) or up to /.  Reports the first
// path refused.
bool StrictModesAccept(const Reached &r, const std::string &home, uid_t uid, CredSsh *ssh) {
    if (const char *bad = BadOwnerOrMode(r.st, uid)) {
        AddProblem(ssh, r.path, bad);
        return false;
    }
    for (auto folder = r.folders.rbegin(); folder != r.folders.rend(); ++folder) {
        if (const char *bad = BadOwnerOrMode(folder->st, uid)) {
            AddProblem(ssh, folder->path, bad);
            return false;
        }
        if (folder->path == home) break;
    }
    return true;
}

// ---- one line, as sshd reads it ------------------------------------------------

std::string_view SkipSpace(std::string_view text) {
    std::size_t n = 0;
    while (n < text.size() && (text[n] == ' ' || text[n] == '\t')) ++n;
    return text.substr(n);
}

std::string_view FirstWord(std::string_view text) {
    return text.substr(0, std::min(text.find_first_of(" \t"), text.size()));
}

// Base64 as sshd decodes it: white space skipped, padding checked, no bits
// left over; false for anything else.
bool DecodeBase64(std::string_view text, std::string *out) {
    static constexpr std::string_view kDigits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    unsigned bits = 0;
    int nbits = 0;
    std::size_t pad = 0, digits = 0;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (c == '=') {
            ++pad;
            continue;
        }
        std::size_t value = kDigits.find(c);
        if (value == std::string_view::npos || pad > 0) return false;
        ++digits;
        bits = (bits << 6) | static_cast<unsigned>(value);
        nbits += 6;
        if (nbits >= 8) {
            nbits -= 8;
            out->push_back(static_cast<char>((bits >> nbits) & 0xff));
        }
    }
    std::size_t partial = digits % 4;
    if (partial == 1 || (bits & ((1u << nbits) - 1)) != 0) return false;
    return pad == 0 ? partial == 0 : pad == 4 - partial && partial != 0;
}

// Whether word (a key's base64) decodes to a key blob of type: a 32-bit
// length and the type's name first.
bool BlobOfType(std::string_view word, std::string_view type) {
    std::string blob;
    if (!DecodeBase64(word, &blob) || blob.size() < 4) return false;
    auto byte = [&](int i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(blob[i]));
    };
    std::uint32_t length = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    return length == type.size() && blob.size() - 4 >= length &&
           std::string_view(blob).substr(4, length) == type;
}

// A key at the start of text: its type, a space, its base64.  Sets *type
// and *bad (why the key is unusable, or null) when the text has that shape.
bool ReadKey(std::string_view text, std::string_view *type, const char **bad) {
    std::string_view word = FirstWord(text);
    std::string_view data = SkipSpace(text.substr(word.size()));
    if (word.empty() || data.empty() || word.size() == text.size()) return false;
    bool looksLikeKey = word.rfind("ssh-", 0) == 0 || word.rfind("ecdsa-", 0) == 0 ||
                        word.rfind("sk-", 0) == 0 || word.rfind("rsa-", 0) == 0;
    if (!BlobOfType(FirstWord(data), word)) {
        if (!looksLikeKey) return false;
        *bad = "its base64 does not decode to a key of the type its line names";
    }
    *type = word;
    return true;
}

// The end of a line's options: the first blank outside double quotes.
std::size_t OptionsEnd(std::string_view line, bool *unterminated) {
    bool quoted = false;
    std::size_t i = 0;
    for (; i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '"')
            ++i;
        else if (line[i] == '"')
            quoted = !quoted;
    }
    *unterminated = quoted;
    return i;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// YYYYMMDD[HHMM[SS]] in local time, or in UTC with a trailing Z (or UTC),
// as sshd takes expiry-time; -1 when malformed.
long long AbsoluteTime(std::string value) {
    bool utc = false;
    if (value.size() > 1 && (value.back() == 'Z' || value.back() == 'z')) {
        utc = true;
        value.pop_back();
    } else if (value.size() > 3 &&
               SameName(std::string_view(value).substr(value.size() - 3), "UTC")) {
        utc = true;
        value.resize(value.size() - 3);
    }
    if (value.size() != 8 && value.size() != 12 && value.size() != 14) return -1;
    std::string iso = value.substr(0, 4) + "-" + value.substr(4, 2) + "-" + value.substr(6, 2);
    const char *format = "%Y-%m-%d";
    if (value.size() >= 12) {
        iso += "T" + value.substr(8, 2) + ":" + value.substr(10, 2);
        format = value.size() == 12 ? "%Y-%m-%dT%H:%M" : "%Y-%m-%dT%H:%M:%S";
        if (value.size() == 14) iso += ":" + value.substr(12, 2);
    }
    struct tm tm {};
    const char *end = strptime(iso.c_str(), format, &tm);
    if (end == nullptr || *end != '\0') return -1;
    time_t t = utc ? timegm(&tm) : mktime(&tm);
    return t <= 0 ? -1 : static_cast<long long>(t);
}

// What a line's options ask of sshd, as far as counting needs it.
struct KeyOptions {
    bool certAuthority = false, command = false, principals = false;
    bool from = false;
    std::string fromHosts;
    long long expires = 0;  // 0: no expiry-time
};

// sshd's options: flags (some may be negated with "no-") and NAME="VALUE"
// items, separated by commas.  Null when sshd takes them, else why not.
const char *ParseOptions(std::string_view text, KeyOptions *o) {
    static constexpr std::string_view kFlags[] = {"restrict", "cert-authority"};
    static constexpr std::string_view kNegatable[] = {"port-forwarding", "agent-forwarding",
                                                      "x11-forwarding",  "touch-required",
                                                      "verify-required", "pty",
                                                      "user-rc"};
    static constexpr std::string_view kValued[] = {"command",      "principals",  "from",
                                                   "expiry-time",  "environment", "permitopen",
                                                   "permitlisten", "tunnel"};
    while (!text.empty()) {
        bool quoted = false;
        std::size_t end = 0;
        for (; end < text.size() && (quoted || text[end] != ','); ++end) {
            if (text[end] == '\\' && end + 1 < text.size() && text[end + 1] == '"')
                ++end;
            else if (text[end] == '"')
                quoted = !quoted;
        }
        std::string_view item = text.substr(0, end);
        text = end < text.size() ? text.substr(end + 1) : std::string_view();
        std::size_t eq = item.find('=');
        std::string_view name = item.substr(0, eq);
        if (eq == std::string_view::npos) {
            std::string_view plain =
                name.size() > 3 && SameName(name.substr(0, 3), "no-") ? name.substr(3) : name;
            bool known = false;
            for (std::string_view f : kFlags) known |= SameName(name, f);
            for (std::string_view f : kNegatable) known |= SameName(plain, f);
            if (!known) return "an option sshd does not know";
            o->certAuthority |= SameName(name, "cert-authority");
            continue;
        }
        std::string_view quotedValue = item.substr(eq + 1);
        if (quotedValue.size() < 2 || quotedValue.front() != '"' || quotedValue.back() != '"')
            return "an option value sshd does not take";
        std::string value;
        for (std::size_t i = 1; i + 1 < quotedValue.size(); ++i) {
            if (quotedValue[i] == '\\' && quotedValue[i + 1] == '"') ++i;
            value += quotedValue[i];
        }
        bool known = false;
        for (std::string_view v : kValued) known |= SameName(name, v);
        if (!known) return "an option sshd does not know";
        if (SameName(name, "command")) {
            if (o->command) return "two command options";
            o->command = true;
        } else if (SameName(name, "from")) {
            if (o->from) return "two from options";
            o->from = true;
            o->fromHosts = value;
        } else if (SameName(name, "principals")) {
            o->principals = true;
        } else if (SameName(name, "expiry-time")) {
            long long t = AbsoluteTime(value);
            if (t < 0) return "an expiry-time sshd cannot read";
            o->expires = o->expires == 0 ? t : std::min(o->expires, t);
        }
    }
    return nullptr;
}

// The names a key of type can sign with: an RSA key (and its certificate)
// with SHA-2 as well as SHA-1.
std::vector<std::string> SignatureNames(std::string_view type) {
    if (type == "ssh-rsa") return {"rsa-sha2-512", "rsa-sha2-256", "ssh-rsa"};
    if (type == "ssh-rsa-cert-v01@openssh.com")
        return {"rsa-sha2-512-cert-v01@openssh.com", "rsa-sha2-256-cert-v01@openssh.com",
                "ssh-rsa-cert-v01@openssh.com"};
    return {std::string(type)};
}

bool Listed(std::string_view type, std::string_view list) {
    if (list.empty()) return true;
    for (const std::string &name : SignatureNames(type))
        if (MatchPatternList(name, list, false) == 1) return true;
    return false;
}

// Whether sshd accepts a key of type: for a cert-authority line, the
// authority's signatures and some certificate; else the key's own names.
const char *TypeRefused(std::string_view type, const KeyOptions &o, const KeyRules &rules) {
    if (!o.certAuthority)
        return Listed(type, rules.accepted) ? nullptr
                                            : "its type is not in PubkeyAcceptedAlgorithms";
    if (!Listed(type, rules.caAlgorithms)) return "its type is not in CASignatureAlgorithms";
    bool certificates = rules.accepted.empty() ||
                        rules.accepted.find("-cert-v01@openssh.com") != std::string_view::npos;
    return certificates ? nullptr : "PubkeyAcceptedAlgorithms takes no certificate";
}

// Why sshd would not use the key on a line, or null when it would; false
// when the line holds no key at all.  sshd tries the line as a key, then
// as options followed by a key.
bool LineKey(std::string_view line, const char *address, const KeyRules &rules, const char **bad) {
    line = SkipSpace(line);
    if (line.empty() || line[0] == '#' || line[0] == '\r') return false;
    std::string_view type, options;
    *bad = nullptr;
    if (!ReadKey(line, &type, bad)) {
        bool unterminated = false;
        std::size_t end = OptionsEnd(line, &unterminated);
        if (unterminated) return false;
        options = line.substr(0, end);
        if (!ReadKey(SkipSpace(line.substr(end)), &type, bad)) return false;
    }
    if (*bad != nullptr) return true;
    KeyOptions o;
    if ((*bad = ParseOptions(options, &o)) != nullptr) return true;
    if (o.principals && !o.certAuthority)
        *bad = "principals on a key that is no cert-authority";
    else if ((*bad = TypeRefused(type, o, rules)) != nullptr) {
    } else if (o.expires != 0 && o.expires < rules.now)
        *bad = "its expiry-time has passed";
    else if (rules.forcedOnly && !o.command)
        *bad = "it forces no command";
    else if (o.from && !MatchHosts(address, o.fromHosts))
        *bad = "its from= does not admit the address";
    return true;
}

// The keys in an open file, reading at most kFileLimit bytes, whatever
// they are, and the first kLineLimit bytes of each line.
void CountKeys(int fd, const char *address, const KeyRules &rules, KeyTally *tally) {
    std::string line;
    auto take = [&]() {
        const char *bad = nullptr;
        std::string_view text(line.c_str());  // sshd reads a line up to a NUL byte
        if (LineKey(text, address, rules, &bad)) {
            if (bad == nullptr) {
                ++tally->usable;
            } else if (tally->unusable++ == 0) {
                tally->why = bad;
            }
        }
        line.clear();
    };
    std::vector<char> chunk(64 * 1024);
    long long total = 0;
    while (total < kFileLimit) {
        std::size_t want = static_cast<std::size_t>(
            std::min<long long>(static_cast<long long>(chunk.size()), kFileLimit - total));
        ssize_t n = read(fd, chunk.data(), want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!line.empty()) take();  // a last line without its newline
            return;
        }
        total += n;
        for (const char *p = chunk.data(), *end = p + n; p < end;) {
            const char *newline = static_cast<const char *>(std::memchr(p, '\n', end - p));
            const char *stop = newline != nullptr ? newline : end;
            std::size_t room = kLineLimit - 1 - std::min(line.size(), kLineLimit - 1);
            line.append(p, std::min(room, static_cast<std::size_t>(stop - p)));
            if (newline == nullptr) break;
            take();
            p = newline + 1;
        }
    }
}

}  // namespace

KeyTally CountAuthorizedKeys(const struct passwd *pw, std::string_view files, const KeyRules &rules,
                             CredSsh *ssh) {
    User user{pw, GroupsOf(pw)};
    std::string home = RealPath(pw->pw_dir != nullptr ? pw->pw_dir : "");
    std::set<std::pair<dev_t, ino_t>> seen;
    KeyTally tally;
    for (const std::string &pattern : Words(files)) {
        std::string path;
        Reached reached;
        if (pattern == "none" || !Expand(pattern, pw, &path) || !Reach(path, user, &reached, ssh))
            continue;
        if (!seen.insert({reached.st.st_dev, reached.st.st_ino}).second) continue;
        if (rules.strictModes && !StrictModesAccept(reached, home, pw->pw_uid, ssh)) continue;
        CountKeys(reached.file.fd, ssh->address, rules, &tally);
    }
    return tally;
}

}  // namespace credaccount
