// audit.cpp - every user's account in one walk.  The user database is
// walked once (getpwent); the shadow entries come from the walk's index of
// the shadow database, read once; the source of each entry comes from one
// enumeration of each configured source.  A lookup per user would restart
// the files backend at the top of its file for every user.  Whatever the
// enumerations cannot tell (a source that does not enumerate, a name the
// index does not answer for) is asked by name, as the report of one user
// asks it, so each record is the one that report gives.
#include <dlfcn.h>
#include <nss.h>
#include <pwd.h>
#include <shadow.h>
#include <string.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "account/internal.h"
#include "cred/internal.h"

namespace credaccount {
namespace {

constexpr const char *kNsswitch = "/etc/nsswitch.conf";

// The names each source of a database lists, read once.
class SourceSets {
  public:
    explicit SourceSets(const char *database) : database_(database) {
        try {
            std::vector<std::string> names = SourceNames(kNsswitch, database);
            // A single source answered for every entry the C library found.
            if (names.size() == 1) {
                sources_.push_back({names[0], {}, true, false});
                single_ = true;
                return;
            }
            for (const std::string &name : names) sources_.push_back(Enumerate(name));
        } catch (...) {
            sources_.clear();  // no memory: every name is asked by name
        }
    }

    // The source that has name into out; "" when none.  Returns whether a
    // source refused this process on the way, as NameSource does.
    bool Name(const char *name, char *out, std::size_t size) const {
        if (single_) {
            CopyText(out, size, sources_[0].name.c_str());
            return false;
        }
        bool refused = false, listed = !sources_.empty();
        try {
            for (const Source &s : sources_) {
                refused |= s.refused;
                if (s.refused) continue;
                if (!s.listed) {
                    listed = false;  // this one must be asked by name
                    break;
                }
                if (s.names.count(name) != 0) {
                    CopyText(out, size, s.name.c_str());
                    return refused;
                }
            }
            if (listed) return refused;  // every source listed its names: none has it
        } catch (...) {
        }
        return NameSource(kNsswitch, database_, name, out, size);
    }

    // The sources other than the files that list no user: their users
    // never show in a walk (a directory that does not enumerate).
    std::string NotListed() const {
        std::string out;
        for (const Source &s : sources_) {
            if (s.name == "files" || s.name == "compat" || (s.listed && !s.names.empty())) continue;
            if (!out.empty()) out += ", ";
            out += s.name;
        }
        return out;
    }

  private:
    struct Source {
        std::string name;
        std::unordered_set<std::string> names;
        bool listed;   // the enumeration read to its end
        bool refused;  // the source denied this process access
    };

    Source Enumerate(const std::string &name) const {
        Source source{name, {}, false, false};
        std::string library = "libnss_" + name + ".so.2";
        void *handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
        if (handle == nullptr) return source;
        bool passwd = std::strcmp(database_, "passwd") == 0;
        std::string prefix = "_nss_" + name + "_";
        auto set = reinterpret_cast<nss_status (*)(int)>(
            dlsym(handle, (prefix + (passwd ? "setpwent" : "setspent")).c_str()));
        void *get = dlsym(handle, (prefix + (passwd ? "getpwent_r" : "getspent_r")).c_str());
        auto end = reinterpret_cast<nss_status (*)()>(
            dlsym(handle, (prefix + (passwd ? "endpwent" : "endspent")).c_str()));
        if (set == nullptr || get == nullptr || end == nullptr) return source;
        errno = 0;
        nss_status status = set(0);
        std::vector<char> buffer(1 << 16);
        int err = errno;
        while (status == NSS_STATUS_SUCCESS) {
            err = 0;
            if (passwd) {
                struct passwd pw;
                status =
                    reinterpret_cast<nss_status (*)(struct passwd *, char *, std::size_t, int *)>(
                        get)(&pw, buffer.data(), buffer.size(), &err);
                if (status == NSS_STATUS_SUCCESS) source.names.insert(pw.pw_name);
            } else {
                struct spwd sp;
                status =
                    reinterpret_cast<nss_status (*)(struct spwd *, char *, std::size_t, int *)>(
                        get)(&sp, buffer.data(), buffer.size(), &err);
                if (status == NSS_STATUS_SUCCESS) source.names.insert(sp.sp_namp);
            }
            if (status == NSS_STATUS_UNAVAIL && err == 0) err = errno;
        }
        end();
        explicit_bzero(buffer.data(), buffer.size());  // a shadow entry holds the hash
        source.refused = status == NSS_STATUS_UNAVAIL && (err == EACCES || err == EPERM);
        source.listed = status == NSS_STATUS_NOTFOUND;
        return source;
    }

    const char *database_;
    std::vector<Source> sources_;
    bool single_ = false;
};

// The names met so far, for a walk that meets each name once: open
// addressing over offsets into one text, kept at most half full, with no
// allocation per name.
class NameSet {
  public:
    // Adds name; false when it was there already.
    bool Insert(std::string_view name) {
        if (text_.size() + name.size() >= UINT32_MAX) throw std::bad_alloc();
        if (2 * (count_ + 1) > slots_.size()) Grow();
        const auto hash = static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
        std::size_t i = hash & (slots_.size() - 1);
        for (; slots_[i].at != 0; i = (i + 1) & (slots_.size() - 1))
            if (slots_[i].hash == hash && Name(slots_[i]) == name) return false;
        slots_[i] = {hash, static_cast<std::uint32_t>(text_.size() + 1)};
        text_.append(name).push_back('\0');
        ++count_;
        return true;
    }

  private:
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t at = 0;  // 1 + offset of the name in text_; 0 when free
    };
    std::string_view Name(const Slot &s) const { return text_.c_str() + s.at - 1; }
    void Grow() {
        std::vector<Slot> old(slots_.empty() ? 1024 : slots_.size() * 2);
        old.swap(slots_);
        for (const Slot &s : old) {
            if (s.at == 0) continue;
            std::size_t i = s.hash & (slots_.size() - 1);
            while (slots_[i].at != 0) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = s;
        }
    }
    std::vector<Slot> slots_;
    std::string text_;
    std::size_t count_ = 0;
};

// The entry that a lookup of the walk's entry pw would find, or null when
// none would, with buffer holding it.  Most entries are their own answer:
// only a name the report of one user refuses (the empty name) or one the
// files backend never matches by lookup (the "+" and "-" lines of the
// compat syntax, which it lists but does not read as users) are not.
const struct passwd *AsLookedUp(const struct passwd *pw, LookupBuffer &buffer,
                                struct passwd *entry) {
    if (pw->pw_name[0] == '\0') return nullptr;
    if (pw->pw_name[0] != '+' && pw->pw_name[0] != '-') return pw;
    struct passwd *found = nullptr;
    int err = ERANGE;
    while (err == ERANGE && buffer.Grow())
        err = getpwnam_r(pw->pw_name, entry, buffer.data.get(), buffer.size, &found);
    return found;
}

// The host's lookup of name, with a buffer that grows as asked; *sp is
// null when there is no entry, and the errno of the lookup is returned.
int LookUpShadow(const char *name, std::vector<char> &buffer, struct spwd *entry,
                 struct spwd **sp) {
    int err = ERANGE;
    for (std::size_t size = 4096; err == ERANGE && size <= (1u << 24); size *= 4) {
        if (!buffer.empty()) explicit_bzero(buffer.data(), buffer.size());
        buffer.resize(size);
        errno = 0;
        err = getspnam_r(name, entry, buffer.data(), buffer.size(), sp);
    }
    return *sp != nullptr ? 0 : (err != 0 ? err : errno);
}

bool Weak(const CredAccount &a) {
    return a.hasHash &&
           (a.hash.strength == CRED_STRENGTH_LEGACY || a.hash.strength == CRED_STRENGTH_DISABLED);
}

unsigned Findings(const CredAccount &a) {
    unsigned bits = 0;
    if (Weak(a)) bits |= a.locked ? CRED_FINDING_LOCKED_WEAK : CRED_FINDING_WEAK_HASH;
    if (a.empty) bits |= CRED_FINDING_EMPTY;
    if (a.verdict == CRED_VERDICT_UNREADABLE) bits |= CRED_FINDING_UNREADABLE;
    if (a.policy.judged && a.policy.meets == 0) bits |= CRED_FINDING_OFF_POLICY;
    if (a.verdict == CRED_VERDICT_OFFLINE) bits |= CRED_FINDING_OFFLINE;
    return bits;
}

// flags: the findings that make a user one of the flagged.
void Count(const CredAccount &a, unsigned findings, unsigned flags, CredAuditSummary *s) {
    ++s->users;
    ++s->verdicts[a.verdict];
    if (a.hasHash) {
        int i = 0;
        while (i < s->nmethods && std::strcmp(s->methods[i].method, a.hash.method) != 0) ++i;
        if (i < CRED_AUDIT_MAX_METHODS) {
            if (i == s->nmethods) s->methods[s->nmethods++].method = a.hash.method;
            ++s->methods[i].count;
        }
    }
    for (int bit = 0; bit < CRED_FINDING_COUNT; ++bit)
        if (findings & (1u << bit)) ++s->findings[bit];
    if ((findings & flags) != 0) ++s->flagged;
}

}  // namespace
}  // namespace credaccount

using namespace credaccount;

extern "C" unsigned long CredAuditHost(CredAuditVisit visit, void *context,
                                       CredAuditSummary *summary) noexcept {
    return CredAuditHostWith(visit, context, nullptr, summary);
}

extern "C" unsigned long CredAuditHostWith(CredAuditVisit visit, void *context,
                                           const CredAuditOptions *options,
                                           CredAuditSummary *summary) noexcept {
    if (summary == nullptr) {
        errno = EINVAL;
        return static_cast<unsigned long>(-1);
    }
    const CredPolicy *policy = options != nullptr ? options->policy : nullptr;
    unsigned flags = options != nullptr && options->policyCounts ? ~0u : ~CRED_FINDING_OFF_POLICY;
    std::memset(summary, 0, sizeof *summary);
    // Each source's enumeration runs to its end before the walk opens the
    // host's own, which a module keeps in one state per database.
    SourceSets passwdSources("passwd"), shadowSources("shadow");
    static CredAccount account;
    std::vector<char> spBuffer;
    try {
        NameSet seen;
        ShadowWalkBegin();
        KeepWalkAnswers(true);
        KeepSssdAnswers(true);
        setpwent();
        LookupBuffer pwBuffer;
        for (const struct passwd *pw; (pw = getpwent()) != nullptr;) {
            // A lookup by name finds the first entry of a name.
            if (pw->pw_name == nullptr || !seen.Insert(pw->pw_name)) continue;
            struct passwd lookedUp;
            pw = AsLookedUp(pw, pwBuffer, &lookedUp);
            if (pw == nullptr) continue;
            char passwdSource[CRED_SOURCE_SIZE], shadowSource[CRED_SOURCE_SIZE] = "";
            passwdSources.Name(pw->pw_name, passwdSource, sizeof passwdSource);
            if (passwdSource[0] == '\0') CopyText(passwdSource, sizeof passwdSource, "unknown");
            struct spwd entry, *sp = nullptr;
            int shadowErrno = 0;
            if (NeedsShadowLookup(pw, passwdSource)) {
                if (!ShadowWalkFind(pw->pw_name, &sp))
                    shadowErrno = LookUpShadow(pw->pw_name, spBuffer, &entry, &sp);
                bool refused = shadowSources.Name(pw->pw_name, shadowSource, sizeof shadowSource);
                // A later source's "not found" hides an earlier refusal.
                if (sp == nullptr && refused) shadowErrno = EACCES;
                if (sp != nullptr && shadowSource[0] == '\0')
                    CopyText(shadowSource, sizeof shadowSource, "unknown");
                if (sp == nullptr) shadowSource[0] = '\0';
            }
            CredAnalyzeEntry(pw, passwdSource, sp, shadowSource, shadowErrno, nullptr, nullptr, -1,
                             &account);
            if (policy != nullptr) CredJudgePolicy(policy, &account);
            unsigned findings = Findings(account);
            Count(account, findings, flags, summary);
            if (visit != nullptr) visit(&account, findings, context);
        }
    } catch (...) {
        summary->incomplete = 1;  // no memory for the names met
    }
    endpwent();
    ReadNologin(&summary->nologin);
    try {
        CopyText(summary->notListed, sizeof summary->notListed, passwdSources.NotListed());
    } catch (...) {
    }
    KeepWalkAnswers(false);
    KeepSssdAnswers(false);
    ShadowWalkEnd();
    if (!spBuffer.empty()) explicit_bzero(spBuffer.data(), spBuffer.size());
    return summary->flagged;
}

extern "C" const char *CredFindingName(unsigned finding) noexcept {
    switch (finding) {
        case CRED_FINDING_WEAK_HASH:
            return "weak-hash";
        case CRED_FINDING_LOCKED_WEAK:
            return "locked-weak-hash";
        case CRED_FINDING_EMPTY:
            return "empty-password";
        case CRED_FINDING_UNREADABLE:
            return "unreadable";
        case CRED_FINDING_OFF_POLICY:
            return "off-policy";
        case CRED_FINDING_OFFLINE:
            return "offline";
    }
    return nullptr;
}
