// account_policy.cpp - the policy's part of the "-a" report: which policy
// (--policy host|cis|stig|FILE; the host's own by default), the "policy"
// object and "Policy:" lines of each record, and the policy itself in the
// summary of the audit.  The baselines cis and stig are files installed
// with the tool, found beside it.
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "driver/account_report.h"
#include "driver/driver.h"

namespace credcheck {
namespace {

constexpr const char *kBaselines[] = {"cis", "stig"};

// The folder of this program, from /proc/self/exe; "" when unknown.
std::string ProgramFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    std::string_view text(path, static_cast<std::size_t>(n));
    return std::string(text.substr(0, text.rfind('/')));
}

// An installed baseline: under the prefix the program is installed in, in
// the build tree beside the program, then where the build installs it.
std::string FindBaseline(const char *name) {
    std::string folder = ProgramFolder();
    for (std::string dir :
         {folder + "/../share/credcheck/policy", folder + "/share/credcheck/policy",
          std::string(CREDCHECK_POLICY_DIR)}) {
        std::string path = dir + "/" + name;
        char real[PATH_MAX];
        if (access(path.c_str(), R_OK) == 0) return realpath(path.c_str(), real) ? real : path;
    }
    return "";
}

// "the host writes" or "stig wants": who asks for what a gap lacks.
std::string Asker(const CredAccount &a, std::string_view rule) {
    if (std::string_view(a.policy.name) != "host") return PrintableName(a.policy.name) + " wants";
    return rule.ends_with("days.max") || rule.ends_with("days.min") ? "the host sets"
                                                                    : "the host writes";
}

// One gap in words: "sha512crypt, rounds=5000: the host writes yescrypt
// (/etc/pam.d/common-password:26)".
std::string GapText(const CredAccount &a, const CredPolicyGap &g, const std::string &params) {
    std::string_view rule = g.rule;
    std::string have;
    if (rule == "methods")
        have = std::string(g.have) + (params.empty() ? "" : ", " + params);
    else if (rule.find(".rounds.") != std::string_view::npos ||
             rule.find(".cost.") != std::string_view::npos)
        have = std::string(a.hash.method) + ", " + g.have;
    else
        have = std::string(rule.substr(0, rule.find('.'))) + " " + g.have;
    return have + ": " + Asker(a, rule) + " " + g.want + " (" + PrintableName(g.from) + ")";
}

}  // namespace

const CredPolicy &ReadPolicy(const AccountOptions &o, const char *program) {
    static CredPolicy policy;
    std::string_view name = o.policy != nullptr ? o.policy : "host";
    std::string path = std::string(name);
    char error[512];
    if (name == "host") {
        CredReadPolicy(nullptr, nullptr, &policy, error, sizeof error);
        return policy;
    }
    for (const char *baseline : kBaselines)
        if (name == baseline) {
            path = FindBaseline(baseline);
            if (path.empty())
                UsageError(program, "--policy " + std::string(name) +
                                        ": the baseline is not installed beside this program");
        }
    bool file = name.find('/') != std::string_view::npos || access(path.c_str(), F_OK) == 0;
    if (!file)
        UsageError(program,
                   "--policy: unknown policy " + Quoted(o.policy) + " (host, cis, stig, or a file)",
                   kAccountUsage);
    if (CredReadPolicy(path.c_str(), o.policy, &policy, error, sizeof error) != 0)
        UsageError(program, std::string("--policy: ") + error);
    return policy;
}

nlohmann::json PolicyJson(const CredAccount &a) {
    const CredPolicyJudgement &j = a.policy;
    nlohmann::json gaps = nlohmann::json::array();
    for (int i = 0; i < j.ngaps; ++i)
        gaps.push_back({{"rule", j.gaps[i].rule},
                        {"have", j.gaps[i].have},
                        {"want", j.gaps[i].want},
                        {"from", j.gaps[i].from}});
    return {{"name", j.name},
            {"meets", j.meets < 0 ? nlohmann::json(nullptr) : nlohmann::json(j.meets != 0)},
            {"gaps", gaps}};
}

void PrintPolicy(const CredAccount &a, const std::string &params) {
    const CredPolicyJudgement &j = a.policy;
    std::string name = PrintableName(j.name);
    if (j.meets < 0) return ReportLine("Policy:", name + ": no hash to judge");
    if (j.meets) return ReportLine("Policy:", name + ": meets it");
    ReportLine("Policy:",
               name + ": " + std::to_string(j.ngaps) + (j.ngaps == 1 ? " gap" : " gaps"));
    for (int i = 0; i < j.ngaps; ++i) ReportLine("", GapText(a, j.gaps[i], params));
}

nlohmann::json PolicySummaryJson(const CredPolicy &p) {
    nlohmann::json rules = nlohmann::json::array(), notes = nlohmann::json::array();
    for (int i = 0; i < p.nrules; ++i)
        rules.push_back(
            {{"rule", p.rules[i].rule}, {"value", p.rules[i].value}, {"from", p.rules[i].from}});
    for (int i = 0; i < p.nnotes; ++i) notes.push_back(p.notes[i]);
    return {{"name", p.name}, {"rules", rules}, {"notes", notes}};
}

void PrintPolicySummary(const CredPolicy &p) {
    std::string rules;
    for (int i = 0; i < p.nrules; ++i)
        rules += std::string(i ? "; " : "") + p.rules[i].rule + " " + p.rules[i].value + " (" +
                 PrintableName(p.rules[i].from) + ")";
    std::printf("Policy:   %s: %s\n", PrintableName(p.name).c_str(),
                rules.empty() ? "no rules" : rules.c_str());
    for (int i = 0; i < p.nnotes; ++i) std::printf("Policy note: %s\n", p.notes[i]);
}

}  // namespace credcheck
