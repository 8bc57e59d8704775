// sources.cpp - which name service source answered for a user: the
// database's line of nsswitch.conf, walked in order through each module's
// own lookup function, honouring "[STATUS=return]" and "[!STATUS=return]".
#include <dlfcn.h>
#include <nss.h>
#include <pwd.h>
#include <shadow.h>
#include <string.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "account/internal.h"
#include "cred/internal.h"

namespace credaccount {
namespace {

// The four statuses an action can name, in the order of their bits.
constexpr std::string_view kStatuses[] = {"SUCCESS", "NOTFOUND", "UNAVAIL", "TRYAGAIN"};

struct Source {
    std::string name;
    unsigned returnOn = 1;  // bit i: return after status kStatuses[i]
};

int StatusIndex(nss_status status) {
    switch (status) {
        case NSS_STATUS_SUCCESS:
            return 0;
        case NSS_STATUS_NOTFOUND:
            return 1;
        case NSS_STATUS_UNAVAIL:
            return 2;
        default:
            return 3;
    }
}

// One "[...]" block: each item is [!]STATUS=ACTION; "return" sets the bit,
// anything else ("continue", "merge") clears it.
void ApplyActions(std::string_view block, Source &source) {
    std::size_t at = 0;
    while (at < block.size()) {
        std::size_t end = block.find_first_of(" \t", at);
        if (end == std::string_view::npos) end = block.size();
        std::string_view item = block.substr(at, end - at);
        at = end + 1;
        bool negate = !item.empty() && item[0] == '!';
        if (negate) item.remove_prefix(1);
        std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) continue;
        bool ret = item.substr(eq + 1) == "return" || item.substr(eq + 1) == "RETURN";
        for (unsigned i = 0; i < 4; ++i) {
            bool named = item.substr(0, eq) == kStatuses[i];
            if (named != negate)
                source.returnOn = ret ? source.returnOn | (1u << i) : source.returnOn & ~(1u << i);
        }
    }
}

// The sources of database in the nsswitch file at path; "files" when the
// file or the line is missing, as the C library does.
std::vector<Source> ReadSources(const char *path, const char *database) {
    std::vector<Source> sources;
    char line[1024];
    if (NsswitchLine(path, database, line, sizeof line)) {
        std::string_view text = line;
        while (!text.empty()) {
            std::size_t skip = text.find_first_not_of(" \t");
            if (skip == std::string_view::npos) break;
            text.remove_prefix(skip);
            if (text[0] == '[') {
                std::size_t close = text.find(']');
                std::string_view block = text.substr(
                    1, close == std::string_view::npos ? std::string_view::npos : close - 1);
                if (!sources.empty()) ApplyActions(block, sources.back());
                text.remove_prefix(close == std::string_view::npos ? text.size() : close + 1);
                continue;
            }
            std::size_t end = text.find_first_of(" \t[");
            sources.push_back(Source{std::string(text.substr(0, end))});
            text.remove_prefix(end == std::string_view::npos ? text.size() : end);
        }
    }
    if (sources.empty()) sources.push_back(Source{"files"});
    return sources;
}

// One module lookup of user with a growing buffer; the entry is not kept.
template <typename Entry>
nss_status AskModule(void *function, const char *user, int *err) {
    using Lookup = nss_status (*)(const char *, Entry *, char *, std::size_t, int *);
    auto lookup = reinterpret_cast<Lookup>(function);
    for (std::size_t size = 1024; size <= (1u << 20); size *= 4) {
        std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
        if (!buffer) return NSS_STATUS_UNAVAIL;
        Entry entry;
        *err = 0;
        errno = 0;
        nss_status status = lookup(user, &entry, buffer.get(), size, err);
        if (status == NSS_STATUS_UNAVAIL && *err == 0) *err = errno;  // the files module's way
        explicit_bzero(buffer.get(), size);  // a shadow entry holds the hash
        if (!(status == NSS_STATUS_TRYAGAIN && *err == ERANGE)) return status;
    }
    return NSS_STATUS_UNAVAIL;
}

// The lookup function of source for database; the built-in "files" module
// lives in the C library, which dlsym finds through the stub's dependencies.
void *FindLookup(const std::string &source, std::string_view database) {
    std::string library = "libnss_" + source + ".so.2";
    void *handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    std::string symbol = "_nss_" + source + (database == "passwd" ? "_getpwnam_r" : "_getspnam_r");
    return dlsym(handle, symbol.c_str());  // the module stays loaded, as the C library keeps it
}

}  // namespace

std::vector<std::string> SourceNames(const char *nsswitch, const char *database) {
    std::vector<std::string> names;
    for (const Source &source : ReadSources(nsswitch, database)) names.push_back(source.name);
    return names;
}

bool NameSource(const char *nsswitch, const char *database, const char *user, char *out,
                std::size_t size) {
    out[0] = '\0';
    bool denied = false;
    try {
        for (const Source &source : ReadSources(nsswitch, database)) {
            void *function = FindLookup(source.name, database);
            nss_status status = NSS_STATUS_UNAVAIL;
            int err = 0;
            if (function != nullptr)
                status = std::string_view(database) == "passwd"
                             ? AskModule<struct passwd>(function, user, &err)
                             : AskModule<struct spwd>(function, user, &err);
            denied |= status == NSS_STATUS_UNAVAIL && (err == EACCES || err == EPERM);
            if (status == NSS_STATUS_SUCCESS) {
                CopyText(out, size, source.name);
                return denied;
            }
            if (source.returnOn & (1u << StatusIndex(status))) return denied;
        }
    } catch (...) {
        out[0] = '\0';  // no memory for the walk: no source named
    }
    return denied;
}

}  // namespace credaccount
