// sssd.cpp - SSSD's own state for a user whose entry or credential is
// SSSD's: whether it runs, the user's domain, online or offline and the
// server it uses (sssctl domain-status, which asks InfoPipe), whether the
// domain caches credentials (SSSD's parsed settings, config.ldb), and
// whether the user has a cached credential and when the user last logged in
// online (the domain's cache, cache_DOMAIN.ldb).  The databases are opened
// read-only through libldb, loaded when first needed, so that a host
// without SSSD needs no libldb; the cached hash itself is never read.
#include <dlfcn.h>
#include <ldb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <talloc.h>
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

// The few libldb calls used, found in the library at first use.
struct Ldb {
    decltype(&ldb_init) init = nullptr;
    decltype(&ldb_connect) connect = nullptr;
    decltype(&ldb_search) search = nullptr;
    decltype(&ldb_dn_new) dnNew = nullptr;
    decltype(&ldb_binary_encode_string) encode = nullptr;
    decltype(&ldb_msg_find_attr_as_string) text = nullptr;
    decltype(&ldb_msg_find_attr_as_int64) number = nullptr;
    decltype(&_talloc_free) free = nullptr;

    static const Ldb *Get() {
        static const Ldb ldb = Load();
        return ldb.free != nullptr ? &ldb : nullptr;
    }

  private:
    static Ldb Load() {
        Ldb l;
#if defined(__SANITIZE_ADDRESS__)
        // libldb loads its modules with RTLD_DEEPBIND, which the sanitizer's
        // runtime refuses by ending the process.
        return l;
#endif
        void *h = dlopen("libldb.so.2", RTLD_LAZY | RTLD_LOCAL);
        if (h == nullptr) return l;
        auto find = [h](auto &fn, const char *name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(h, name));
            return fn != nullptr;
        };
        if (!(find(l.init, "ldb_init") && find(l.connect, "ldb_connect") &&
              find(l.search, "ldb_search") && find(l.dnNew, "ldb_dn_new") &&
              find(l.encode, "ldb_binary_encode_string") &&
              find(l.text, "ldb_msg_find_attr_as_string") &&
              find(l.number, "ldb_msg_find_attr_as_int64") && find(l.free, "_talloc_free")))
            l.free = nullptr;
        return l;
    }
};

// One of SSSD's databases, opened read-only (never created).
class Database {
  public:
    explicit Database(const std::string &path) : ldb_(Ldb::Get()) {
        struct stat st;
        if (ldb_ == nullptr || lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
        ctx_ = ldb_->init(nullptr, nullptr);
        if (ctx_ == nullptr) return;
        std::string url = "tdb://" + path;
        // No modules: a plain read needs none, and some complain on stderr.
        const char *options[] = {"modules:", nullptr};
        if (ldb_->connect(ctx_, url.c_str(), LDB_FLG_RDONLY | LDB_FLG_DONT_CREATE_DB, options) !=
            LDB_SUCCESS)
            Close();
    }
    ~Database() { Close(); }
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;
    bool Open() const { return ctx_ != nullptr; }

    // Calls each(message) for the entries under base (scope) that match
    // filter, with only attrs read; false when the search failed.
    template <typename Each>
    bool Search(const char *base, ldb_scope scope, const char *filter, const char *const *attrs,
                Each each) const {
        if (ctx_ == nullptr) return false;
        void *tmp = ldb_->dnNew(ctx_, ctx_, "");  // a talloc parent for this search
        ldb_dn *dn = ldb_->dnNew(tmp, ctx_, base);
        ldb_result *res = nullptr;
        bool ok = dn != nullptr &&
                  ldb_->search(ctx_, tmp, &res, dn, scope, attrs, "%s", filter) == LDB_SUCCESS;
        for (unsigned i = 0; ok && res != nullptr && i < res->count; ++i) each(*res->msgs[i]);
        ldb_->free(tmp, __location__);
        return ok;
    }
    // filter's value text, escaped for a filter.
    std::string Escape(const char *value) const {
        char *e = ldb_->encode(ctx_, value);
        std::string out = e != nullptr ? e : "";
        if (e != nullptr) ldb_->free(e, __location__);
        return out;
    }
    const Ldb &Calls() const { return *ldb_; }

  private:
    void Close() {
        if (ctx_ != nullptr) ldb_->free(ctx_, __location__);
        ctx_ = nullptr;
    }
    const Ldb *ldb_;
    ldb_context *ctx_ = nullptr;
};

// What SSSD answers for one domain, the same for every user of a walk.
struct Domain {
    std::string name, server, uris;
    int online = -1, cacheAllowed = -1;
    std::string unknown;
    std::unique_ptr<Database> cache;
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

std::string FirstLine(std::string_view text) {
    std::string_view line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    return std::string(line);
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

// SSSD's parsed settings: its domains, and each domain's caching and URIs.
void ReadSettings(State *s) {
    Database config(std::string(kDbFolder) + "/config.ldb");
    if (!config.Open()) {
        s->unknown = Ldb::Get() == nullptr ? "SSSD's settings and cache: libldb cannot be loaded"
                                           : "SSSD's settings cannot be read (config.ldb)";
        return;
    }
    const char *attrs[] = {"domains", nullptr};
    config.Search("cn=sssd,cn=config", LDB_SCOPE_BASE, "(distinguishedName=*)", attrs,
                  [&](const ldb_message &m) {
                      const char *v = config.Calls().text(&m, "domains", "");
                      for (std::string &w : Words(v, ','))
                          if (!Words(w).empty()) s->domains.push_back(Words(w).front());
                  });
    for (const std::string &name : s->domains) {
        Domain d;
        d.name = name;
        const char *dattrs[] = {"cache_credentials", "ldap_uri", nullptr};
        std::string base = "cn=" + name + ",cn=domain,cn=config";
        config.Search(base.c_str(), LDB_SCOPE_BASE, "(distinguishedName=*)", dattrs,
                      [&](const ldb_message &m) {
                          // SSSD's default is not to cache credentials.
                          std::string v = Lower(config.Calls().text(&m, "cache_credentials", ""));
                          d.cacheAllowed = v == "true" || v == "yes" || v == "1";
                          d.uris = config.Calls().text(&m, "ldap_uri", "");
                      });
        s->answers.push_back(std::move(d));
    }
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
        d.cache = std::make_unique<Database>(std::string(kDbFolder) + "/cache_" + d.name + ".ldb");
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
    if (d.cache == nullptr || !d.cache->Open()) return e;
    std::string name = std::strchr(user, '@') != nullptr ? user : std::string(user) + "@" + d.name;
    std::string base = "cn=users,cn=" + d.name + ",cn=sysdb";
    std::string match = "(name=" + d.cache->Escape(name.c_str()) + ")";
    const char *attrs[] = {"lastOnlineAuth", nullptr};
    d.cache->Search(base.c_str(), LDB_SCOPE_ONELEVEL, match.c_str(), attrs,
                    [&](const ldb_message &m) {
                        e.found = true;
                        e.lastOnline = d.cache->Calls().number(&m, "lastOnlineAuth", -1);
                    });
    // Whether the credential is there, without reading it.
    const char *none[] = {"name", nullptr};
    std::string cached = "(&" + match + "(cachedPassword=*))";
    d.cache->Search(base.c_str(), LDB_SCOPE_ONELEVEL, cached.c_str(), none,
                    [&](const ldb_message &) { e.cached = true; });
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
