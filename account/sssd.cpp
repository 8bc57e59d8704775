// sssd.cpp - SSSD's own state for a user whose entry or credential is
// SSSD's: whether it runs, the user's domain, online or offline and the
// server it uses (sssctl domain-status, which asks InfoPipe), whether the
// domain caches credentials (sssd.conf), and whether the user has a cached
// credential and when the user last logged in online (the domain's cache,
// cache_DOMAIN.ldb, searched read-only by ldbsearch); the cached hash
// itself is never read.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "account/internal.h"

namespace credaccount {
namespace {

constexpr const char *kNsswitch = "/etc/nsswitch.conf";
constexpr const char *kDbFolder = "/var/lib/sss/db";
constexpr const char *kNssSocket = "/var/lib/sss/pipes/nss";
constexpr const char *kSssctl = "/usr/sbin/sssctl";
constexpr std::size_t kStatusLimit = 64 * 1024;  // domain-status prints a few lines
constexpr long kStatusDeadlineMs = 10000;
constexpr const char *kLdbsearch = "/usr/bin/ldbsearch";
constexpr std::size_t kSearchLimit = 256 * 1024;  // one entry's few attributes

// A search of one of SSSD's databases by ldbsearch, a child of its own
// (libldb is not loaded here: it loads its modules in ways a sanitized
// process cannot), read-only and without modules: each entry found, as
// its attributes' first values.
using Entry = std::vector<std::pair<std::string, std::string>>;

std::string_view Value(const Entry &e, std::string_view name) {
    for (const auto &[k, v] : e)
        if (k == name) return v;
    return {};
}

bool Search(const std::string &path, const std::string &base, const char *scope,
            const std::string &filter, const char *attr, std::vector<Entry> *found) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(kLdbsearch, X_OK) != 0)
        return false;
    std::string url = "tdb://" + path;
    const char *argv[] = {kLdbsearch,   "-H", url.c_str(), "-s",           scope, "-b",
                          base.c_str(), "-o", "modules:",  filter.c_str(), attr,  nullptr};
    ChildAnswer a = RunChild(argv, kSearchLimit, kStatusDeadlineMs);
    if (!a.whole || a.status != 0) return false;
    Entry entry;
    auto flush = [&] {
        if (!entry.empty()) found->push_back(std::move(entry));
        entry.clear();
    };
    EachLine(a.out, [&](std::string_view line, int) {
        if (line.empty()) flush();
        std::size_t colon = line.find(": ");
        if (line.empty() || line[0] == '#' || colon == std::string_view::npos) return true;
        entry.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(colon + 2)));
        return true;
    });
    flush();
    return true;
}

// A value as a filter may hold it: "*", "(", ")", "\\" and NUL escaped.
std::string Escape(std::string_view value) {
    std::string out;
    for (char c : value) {
        if (c == '*' || c == '(' || c == ')' || c == '\\') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "\\%02x", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

// What SSSD answers for one domain, the same for every user of a walk.
struct Domain {
    std::string name, server, uris;
    int online = -1, cacheAllowed = -1;
    std::string unknown;
    std::string cache;  // the path of its cache
};

struct State {
    bool read = false;
    bool running = false;
    std::vector<std::string> domains;  // as SSSD's settings list them
    std::string unknown;
    std::vector<Domain> answers;
};

bool keep = false;
State kept;

// Whether sssd runs: its NSS responder takes a connection on its socket,
// which anyone may open (the pid file is root's alone).
bool SssdRunning() {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    CopyText(address.sun_path, sizeof address.sun_path, kNssSocket);
    bool answers = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return answers;
}

// sssctl domain-status: online or offline, and the active server.
void AskDomainStatus(Domain *d) {
    if (access(kSssctl, X_OK) != 0) {
        d->unknown = "online or offline: sssctl is not installed";
        return;
    }
    const char *argv[] = {kSssctl, "domain-status", d->name.c_str(), nullptr};
    ChildAnswer a = RunChild(argv, kStatusLimit, kStatusDeadlineMs);
    bool said = false;
    EachLine(a.out, [&](std::string_view line, int) {
        constexpr std::string_view kOnline = "Online status: ", kLdap = "LDAP: ";
        if (line.substr(0, kOnline.size()) == kOnline) {
            std::string_view v = line.substr(kOnline.size());
            d->online = v == "Online" ? 1 : v == "Offline" ? 0 : -1;
            said = d->online >= 0;
        } else if (d->server.empty() && line.substr(0, kLdap.size()) == kLdap &&
                   line.substr(kLdap.size()) != "not connected") {
            d->server = std::string(line.substr(kLdap.size()));
        }
        return true;
    });
    if (!said)
        d->unknown = "online or offline: sssctl domain-status did not tell (" +
                     FirstLine(!a.whole ? "it did not answer in time" : a.err) + ")";
}

// The URI of ldap_uri whose host is the active server; else the first.
std::string ServerUri(const std::string &uris, const std::string &active) {
    std::vector<std::string> each = Words(uris, ',');
    for (std::string &uri : each) {
        std::size_t b = uri.find_first_not_of(' ');
        uri = uri.substr(b == std::string::npos ? uri.size() : b);
        std::size_t at = uri.find("://");
        std::string_view host = std::string_view(uri).substr(at == std::string::npos ? 0 : at + 3);
        if (!active.empty() && host.substr(0, active.size()) == active &&
            (host.size() == active.size() || host[active.size()] == ':' ||
             host[active.size()] == '/'))
            return uri;
    }
    return !active.empty() ? active : each.empty() ? "" : each.front();
}

// SSSD's settings: its domains, and each domain's caching and URIs.
void ReadSettings(State *s) {
    bool readable = false;
    for (const SssdDomain &domain : ReadSssdConf(nullptr, &readable)) {
        Domain d;
        d.name = domain.name;
        s->domains.push_back(domain.name);
        // SSSD's default is not to cache credentials.
        d.cacheAllowed = domain.Flag("cache_credentials", false);
        d.uris = std::string(domain.Get("ldap_uri"));
        s->answers.push_back(std::move(d));
    }
    if (!readable) s->unknown = "SSSD's settings cannot be read (sssd.conf)";
}

State &Read() {
    if (keep && kept.read) return kept;
    kept = State();
    kept.read = true;
    kept.running = SssdRunning();
    if (!kept.running) return kept;
    if (geteuid() != 0) {
        kept.unknown =
            "the domain, online or offline, and cached credentials: SSSD tells them only to root";
        return kept;
    }
    ReadSettings(&kept);
    for (Domain &d : kept.answers) {
        AskDomainStatus(&d);
        d.server = ServerUri(d.uris, d.server);
        d.cache = std::string(kDbFolder) + "/cache_" + d.name + ".ldb";
    }
    return kept;
}

// The user's entry in a domain's cache: whether it is there, whether it
// holds a cached credential, and the last online login.
struct CacheEntry {
    bool found = false, cached = false;
    long long lastOnline = -1;
};

CacheEntry LookUpCache(const Domain &d, const char *user) {
    CacheEntry e;
    std::string name = std::strchr(user, '@') != nullptr ? user : std::string(user) + "@" + d.name;
    std::string base = "cn=users,cn=" + d.name + ",cn=sysdb";
    std::string match = "(name=" + Escape(name) + ")";
    std::vector<Entry> found;
    if (!Search(d.cache, base, "one", match, "lastOnlineAuth", &found) || found.empty()) return e;
    e.found = true;
    std::string last(Value(found.front(), "lastOnlineAuth"));
    if (!last.empty()) e.lastOnline = std::strtoll(last.c_str(), nullptr, 10);
    // Whether the credential is there, without reading it.
    found.clear();
    e.cached = Search(d.cache, base, "one", "(&" + match + "(cachedPassword=*))", "name", &found) &&
               !found.empty();
    return e;
}

std::string Unreachable(const CredSssd &s) {
    return std::string("the domain ") + s.domain + " is offline" +
           (s.server[0] ? std::string(" (server ") + s.server + " unreachable)" : "");
}

}  // namespace

bool SssdListed() {
    for (const std::string &name : SourceNames(kNsswitch, "passwd"))
        if (name == "sss") return true;
    return false;
}

void CheckSssd(const char *user, CredAccount *out) {
    CredSssd &s = out->sssd;
    s.involved = 1;
    const State &state = Read();
    s.running = state.running;
    bool credential = !out->exists || out->directory;
    if (!state.running) {
        CopyText(s.unknown, sizeof s.unknown,
                 "the domain, online or offline, and cached credentials: sssd is not running");
        if (credential)
            MarkOffline(out, out->exists ? "sssd is not running: the credential cannot be checked"
                                         : "sssd is not running: its users cannot be looked up");
        return;
    }
    CopyText(s.unknown, sizeof s.unknown, state.unknown);
    if (state.answers.empty()) return;
    // The user's domain: the first whose cache has the user, else the first.
    const Domain *d = &state.answers.front();
    CacheEntry entry;
    for (const Domain &each : state.answers) {
        CacheEntry e = LookUpCache(each, user);
        if (!e.found) continue;
        d = &each, entry = e;
        break;
    }
    CopyText(s.domain, sizeof s.domain, d->name);
    CopyPrintable(s.server, sizeof s.server, d->server, sizeof s.server - 1);
    s.online = d->online;
    s.cacheAllowed = d->cacheAllowed;
    if (s.cacheAllowed >= 0) s.cachedCredentials = s.cacheAllowed && entry.cached;
    s.lastOnlineLogin = entry.lastOnline > 0 ? entry.lastOnline : -1;
    if (!d->unknown.empty()) CopyPrintable(s.unknown, sizeof s.unknown, d->unknown, 200);
    if (s.online != 0 || !credential) return;
    if (!out->exists) {
        MarkOffline(out, Unreachable(s) + ": its users cannot be looked up");
    } else if (out->pamAuthenticateRun && out->pamAuthenticate.status == 0) {
        out->accountNotes |= CRED_ANOTE_SSSD_OFFLINE;
    } else if (s.cacheAllowed == 0) {
        MarkOffline(out, Unreachable(s) + " and it caches no credentials");
    } else if (s.cachedCredentials == 0) {
        MarkOffline(out, Unreachable(s) + " and " + out->user + " has no cached credential");
    }
}

void KeepSssdAnswers(bool on) {
    keep = on;
    if (!on) kept = State();
}

}  // namespace credaccount
