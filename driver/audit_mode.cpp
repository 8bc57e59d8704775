// audit_mode.cpp - "-a --all": every user's account in one walk, one line
// per user and a summary, or JSON Lines (one object per user with the keys
// of the "-a" report, then one summary object).  The library makes the
// records and the counts; this file formats them.
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "account/account.h"
#include "driver/account_report.h"
#include "driver/driver.h"

namespace credcheck {
namespace {

struct Audit {
    bool json = false;
    bool metrics = false;  // only the counts: nothing per user
    const CredPolicy *policy = nullptr;
    // The names behind each finding, in walk order, for the summary.
    std::vector<std::string> named[CRED_FINDING_COUNT];
};

// Adds item to a list with sep between items.
void Append(std::string &list, const char *sep, const std::string &item) {
    if (!list.empty()) list += sep;
    list += item;
}

// "name count".
std::string Counted(const char *name, unsigned long count) {
    std::string out = name;
    out += ' ';
    out += std::to_string(count);
    return out;
}

// The name as it may be shown; most names need no escapes.
std::string Shown(const char *name) {
    for (const char *p = name; *p != '\0'; ++p)
        if (*p < 0x20 || *p >= 0x7f || *p == '\\') return PrintableName(name);
    return name;
}

std::string FindingsText(unsigned findings) {
    std::string out;
    for (unsigned bit = 1; bit < (1u << CRED_FINDING_COUNT); bit <<= 1)
        if (findings & bit) Append(out, ",", CredFindingName(bit));
    return out;
}

nlohmann::json FindingsJson(unsigned findings) {
    nlohmann::json out = nlohmann::json::array();
    for (unsigned bit = 1; bit < (1u << CRED_FINDING_COUNT); bit <<= 1)
        if (findings & bit) out.push_back(CredFindingName(bit));
    return out;
}

void PrintJson(const nlohmann::json &j) {
    std::printf("%s\n", j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

void VisitOne(const CredAccount *account, unsigned findings, void *context) {
    auto *audit = static_cast<Audit *>(context);
    const CredAccount &a = *account;
    if (audit->metrics) return;
    for (int bit = 0; bit < CRED_FINDING_COUNT; ++bit)
        if (findings & (1u << bit)) audit->named[bit].push_back(a.user);
    if (audit->json) {
        nlohmann::json j = AccountJson(a);
        j["findings"] = FindingsJson(findings);
        PrintJson(j);
        return;
    }
    char source[2 * CRED_SOURCE_SIZE];
    std::snprintf(source, sizeof source, "%s%s%s", a.passwdSource, a.shadowSource[0] ? "/" : "",
                  a.shadowSource);
    std::printf("%-16s %-18s %-15s %s%s%s%s", Shown(a.user).c_str(), source,
                CredVerdictName(a.verdict), a.hasHash ? a.hash.method : "-", a.hasHash ? " (" : "",
                a.hasHash ? CredStrengthName(a.hash.strength) : "", a.hasHash ? ")" : "");
    if (findings != 0) std::printf("  [%s]", FindingsText(findings).c_str());
    std::putchar('\n');
}

// The library's walk calls this; nothing may be thrown through it.
void Visit(const CredAccount *account, unsigned findings, void *context) {
    try {
        VisitOne(account, findings, context);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "credcheck: %s\n", e.what());
        Finish(1);
    }
}

const char *const kFindingLabels[CRED_FINDING_COUNT] = {
    "Weak hash:",      "Locked, weak hash under the lock:",
    "Empty password:", "Hash not readable:",
    "Off policy:",     "Offline:"};

void PrintSummary(const CredAuditSummary &s, const Audit &audit) {
    std::printf("\nSummary: %lu users, %lu with a finding\n", s.users, s.flagged);
    std::string verdicts, methods;
    for (int v = 0; v <= CRED_VERDICT_MAX; ++v)
        if (s.verdicts[v] != 0)
            Append(verdicts, ", ",
                   Counted(CredVerdictName(static_cast<CredVerdict>(v)), s.verdicts[v]));
    for (int i = 0; i < s.nmethods; ++i)
        Append(methods, ", ", Counted(s.methods[i].method, s.methods[i].count));
    std::printf("Verdicts: %s\n", verdicts.empty() ? "none" : verdicts.c_str());
    std::printf("Methods:  %s\n", methods.empty() ? "none" : methods.c_str());
    for (int bit = 0; bit < CRED_FINDING_COUNT; ++bit) {
        std::string names;
        for (const std::string &n : audit.named[bit]) Append(names, " ", Shown(n.c_str()));
        std::printf("%s %s\n", kFindingLabels[bit], names.empty() ? "none" : names.c_str());
    }
    PrintPolicySummary(*audit.policy);
    if (s.nologin.exists) std::printf("Nologin:  %s\n", NologinSentence(s.nologin).c_str());
    if (s.notListed[0] != '\0')
        std::printf(
            "Not listed: %s: the users of these sources do not show in a walk "
            "(a source that does not enumerate)\n",
            s.notListed);
}

// Where, when (ISO 8601, UTC) and by which version the audit ran.
void AddOrigin(nlohmann::json &summary) {
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    char when[32] = "";
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (gmtime_r(&now, &utc) != nullptr)
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
    summary["host"] = host;
    summary["time"] = when;
    summary["version"] = CREDCHECK_VERSION;
}

nlohmann::json SummaryJson(const CredAuditSummary &s, const Audit &audit) {
    nlohmann::json verdicts = nlohmann::json::object(), methods = nlohmann::json::object();
    for (int v = 0; v <= CRED_VERDICT_MAX; ++v)
        if (s.verdicts[v] != 0)
            verdicts[CredVerdictName(static_cast<CredVerdict>(v))] = s.verdicts[v];
    for (int i = 0; i < s.nmethods; ++i) methods[s.methods[i].method] = s.methods[i].count;
    nlohmann::json j = {
        {"users", s.users}, {"flagged", s.flagged}, {"verdicts", verdicts}, {"methods", methods}};
    for (int bit = 0; bit < CRED_FINDING_COUNT; ++bit)
        j[CredFindingName(1u << bit)] = audit.named[bit];
    j["policy"] = PolicySummaryJson(*audit.policy);
    j["nologin"] = NologinJson(s.nologin);
    nlohmann::json notListed = nlohmann::json::array();
    for (std::string_view rest = s.notListed; !rest.empty();) {
        std::size_t comma = rest.find(", ");
        notListed.push_back(std::string(rest.substr(0, comma)));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 2);
    }
    j["not_listed"] = notListed;
    AddOrigin(j);
    return nlohmann::json{{"summary", j}};
}

double Now() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

void RunAuditMode(const AccountOptions &options, const CredPolicy &policy) {
    Audit audit;
    audit.policy = &policy;
    // Without --policy, off-policy is shown but leaves the exit status as it was.
    CredAuditOptions walk{&policy, options.policy != nullptr ? 1 : 0};
    audit.json = options.json;
    audit.metrics = options.prometheus;
    if (options.output != nullptr) BeginOutput(options.output);
    CredAuditSummary summary;
    try {
        double started = Now();
        unsigned long flagged = CredAuditHostWith(Visit, &audit, &walk, &summary);
        double duration = Now() - started;
        if (audit.metrics)
            PrintMetrics(summary, summary.users != 0 && !summary.incomplete, started, duration);
        else if (audit.json)
            PrintJson(SummaryJson(summary, audit));
        else
            PrintSummary(summary, audit);
        if (OutputToFile()) CommitOutput();
        // An audit that saw nobody, or not everybody, has not found the host clean.
        if (summary.users == 0)
            std::fprintf(stderr,
                         "credcheck: no user found: the user database is empty or "
                         "this process may not read it\n");
        if (summary.incomplete)
            std::fprintf(stderr, "credcheck: no memory: the walk ended after %lu users\n",
                         summary.users);
        FinishReport(flagged != 0 || summary.users == 0 || summary.incomplete ? 1 : 0);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "credcheck: %s\n", e.what());
        Finish(1);
    }
}

}  // namespace credcheck
