// holder.cpp - who holds a user's credential: the local entry, or another
// module of the service's auth stack that the stack's jumps reach and that
// can authenticate the user (pam_krb5, pam_sss, pam_ldap, pam_winbind).
// For a Kerberos credential (pam_krb5, or SSSD's krb5 provider) also the
// principal, and whether the module checks its tickets against the host
// keytab.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "account/internal.h"

namespace credaccount {
namespace {

constexpr const char *kSssdConf = "/etc/sssd/sssd.conf";
constexpr std::size_t kSssdConfLimit = 1 << 20;

// The value of the first "name=value" among a line's arguments, if any.
std::optional<std::string> Argument(const std::string &args, std::string_view name) {
    for (const std::string &word : Words(args))
        if (word.size() > name.size() && word.starts_with(name) && word[name.size()] == '=')
            return word.substr(name.size() + 1);
    return std::nullopt;
}

// The answers a module may give: pam_permit only success, pam_deny only a
// failure; any other module anything.
bool MayAnswer(std::string_view module, int value) {
    if (module == "pam_permit.so") return value == PAM_SUCCESS;
    if (module == "pam_deny.so") return value == PAM_AUTH_ERR;
    return true;
}

// Which auth lines of stack some run can reach, following each action a
// line's answers may take.
std::vector<bool> Reachable(const PamStack &stack) {
    std::vector<std::size_t> auth;
    for (std::size_t i = 0; i < stack.lines.size(); ++i)
        if (stack.lines[i].type == "auth") auth.push_back(i);
    std::vector<bool> seen(auth.size(), false);
    std::vector<std::size_t> todo;
    if (!auth.empty()) todo.push_back(0);
    while (!todo.empty()) {
        std::size_t n = todo.back();
        todo.pop_back();
        if (n >= auth.size() || seen[n]) continue;
        seen[n] = true;
        const PamStackLine &line = stack.lines[auth[n]];
        std::string_view module = BaseName(line.module);
        for (int value = 0; value < kPamValues; ++value) {
            if (!MayAnswer(module, value)) continue;
            int action = line.actions[value];
            if (action == kActionDone || action == kActionDie) {
                // The end of the stack; in a substack, of the substack only.
                std::size_t to = n + 1;
                while (to < auth.size() && stack.lines[auth[to]].level >= line.level) ++to;
                if (line.level > 0) todo.push_back(to);
                continue;
            }
            if (action <= 0) {
                todo.push_back(n + 1);
                continue;
            }
            // A jump skips that many lines of its own level.
            std::size_t to = n + 1;
            for (int skip = action; skip > 0 && to < auth.size(); ++to)
                if (stack.lines[auth[to]].level == line.level) --skip;
            while (to < auth.size() && stack.lines[auth[to]].level > line.level) ++to;
            todo.push_back(to);
        }
    }
    return seen;
}

}  // namespace

std::vector<SssdDomain> ReadSssdConf(const char *path, bool *readable) {
    std::vector<SssdDomain> domains;
    std::string text;
    *readable = ReadRegularFile(path != nullptr ? path : kSssdConf, kSssdConfLimit, &text) ==
                FileRead::kRead;
    std::vector<std::string> order;
    SssdDomain *current = nullptr;
    std::vector<SssdDomain> sections;
    EachLine(text, [&](std::string_view line, int) {
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') return true;
        if (line.front() == '[' && line.back() == ']') {
            sections.push_back({std::string(Trim(line.substr(1, line.size() - 2))), {}});
            current = &sections.back();
            return true;
        }
        std::size_t eq = line.find('=');
        if (current != nullptr && eq != std::string_view::npos)
            current->options.emplace_back(std::string(Trim(line.substr(0, eq))),
                                          std::string(Trim(line.substr(eq + 1))));
        return true;
    });
    // The domains of the [sssd] section, in its order.
    for (const SssdDomain &s : sections)
        if (s.name == "sssd")
            for (std::string_view list = s.Get("domains"); !list.empty();) {
                std::size_t comma = list.find(',');
                order.emplace_back(Trim(list.substr(0, comma)));
                list = comma == std::string_view::npos ? "" : list.substr(comma + 1);
            }
    for (const std::string &name : order)
        for (SssdDomain &s : sections)
            if (s.name == "domain/" + name) {
                s.name = name;
                domains.push_back(std::move(s));
                break;
            }
    return domains;
}

std::string_view SssdDomain::Get(std::string_view key, std::string_view fallback) const {
    for (const auto &[k, v] : options)
        if (k == key) return v;
    return fallback;
}

bool SssdDomain::Flag(std::string_view key, bool fallback) const {
    std::string v = Lower(std::string(Get(key, fallback ? "true" : "false")).c_str());
    return v == "true" || v == "1" || v == "yes";
}

void FindHolderLines(ServiceAuth *auth) {
    static const char *const kHolders[] = {"pam_krb5.so", "pam_sss.so", "pam_ldap.so",
                                           "pam_winbind.so"};
    std::vector<bool> reach = Reachable(auth->stack);
    std::size_t n = 0;
    for (std::size_t i = 0; i < auth->stack.lines.size(); ++i) {
        const PamStackLine &line = auth->stack.lines[i];
        if (line.type != "auth" || !reach[n++]) continue;
        std::string_view module = BaseName(line.module);
        if (module == "pam_unix.so") auth->unixReachable = true;
        for (const char *holder : kHolders)
            if (module == holder) auth->holderLines.push_back(i);
    }
}

Holder FindHolder(const ServiceAuth &auth, const struct passwd *pw, const char *passwdSource) {
    Holder holder;
    holder.unixReachable = auth.unixReachable;
    std::string_view source = passwdSource != nullptr ? passwdSource : "";
    for (std::size_t i : auth.holderLines) {
        const PamStackLine &line = auth.stack.lines[i];
        std::string module(BaseName(line.module));
        if (module == "pam_krb5.so") {
            std::optional<std::string> minimum = Argument(line.args, "minimum_uid");
            if (minimum && pw->pw_uid < std::strtoul(minimum->c_str(), nullptr, 10)) continue;
            holder.kerberos = true;
            holder.target.principal = pw->pw_name;
            std::optional<std::string> realm = Argument(line.args, "realm");
            if (realm && !realm->empty()) holder.target.principal += "@" + *realm;
            // pam_krb5 checks tickets against the host keytab when it has one.
            holder.target.validate = true;
        } else if (module == "pam_sss.so" && source == "sss") {
            if (!auth.sssdRead) {
                bool readable = false;
                auth.sssd = ReadSssdConf(nullptr, &readable);
                auth.sssdRead = true;
            }
            for (const SssdDomain &d : auth.sssd) {
                std::string_view auth = d.Get("auth_provider", d.Get("id_provider"));
                if (auth != "krb5" && auth != "ipa" && auth != "ad") continue;
                holder.kerberos = true;
                holder.target.principal = pw->pw_name;
                std::string_view realm = d.Get("krb5_realm");
                if (!realm.empty()) holder.target.principal += "@" + std::string(realm);
                holder.target.validate = holder.target.mustValidate =
                    d.Flag("krb5_validate", auth != "krb5");
                holder.ccacheDir = std::string(d.Get("krb5_ccachedir", "/tmp"));
                break;
            }
        } else if (!((module == "pam_ldap.so" && source == "ldap") ||
                     (module == "pam_winbind.so" && source == "winbind") ||
                     (module == "pam_sss.so" && source == "sss"))) {
            continue;
        }
        holder.module = module;
        return holder;
    }
    return holder;
}

std::vector<std::string> TicketCaches(const std::string &dir, uid_t uid) {
    std::vector<std::string> names;
    if (dir.empty()) return names;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return names;
    std::string prefix = "krb5cc_" + std::to_string(uid);
    while (const struct dirent *e = readdir(d)) {
        std::string_view name(e->d_name);
        if (name.substr(0, prefix.size()) == prefix &&
            (name.size() == prefix.size() || name[prefix.size()] == '_'))
            names.emplace_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveNewTicketCaches(const std::string &dir, uid_t uid,
                           const std::vector<std::string> &before) {
    std::vector<std::string> now = TicketCaches(dir, uid);
    if (now.empty()) return;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    for (const std::string &name : now) {
        struct stat st;
        if (std::binary_search(before.begin(), before.end(), name) ||
            fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != uid)
            continue;
        unlinkat(fd, name.c_str(), 0);
    }
    close(fd);
}

}  // namespace credaccount
