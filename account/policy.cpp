// policy.cpp - each hash and account against a policy: the rules of a
// policy file, and the judgement of one record.  A cost is compared as its
// method counts it: the rule's cost goes through the host's crypt_gensalt
// and the setting it makes is decoded like any hash, so the comparison
// never rests on a table of our own.
#include <crypt.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "account/internal.h"

namespace credaccount {
namespace {

// The methods a cost rule may name: the prefix that crypt_gensalt takes,
// and the word of the rule ("rounds" or "cost").
struct CostMethod {
    std::string_view method, prefix, word;
};
constexpr CostMethod kCostMethods[] = {{"sha256crypt", "$5$", "rounds"},
                                       {"sha512crypt", "$6$", "rounds"},
                                       {"bcrypt", "$2b$", "cost"},
                                       {"yescrypt", "$y$", "cost"},
                                       {"gost-yescrypt", "$gy$", "cost"}};

// The aging rules: the rule, and whether it is an upper bound.
struct AgingRule {
    std::string_view rule;
    bool most;
};
constexpr AgingRule kAgingRules[] = {{"max_days.max", true},
                                     {"min_days.min", false},
                                     {"warn_days.min", false},
                                     {"inactive.max", true}};

unsigned long long Param(const CredHashInfo &info, std::string_view name) {
    for (int i = 0; i < info.nparams; ++i)
        if (name == info.params[i].name) return info.params[i].value;
    return 0;
}

// The cost of a decoded hash as its method counts it: rounds, bcrypt's
// cost, yescrypt's N times r (its memory, which the cost factor sets).
unsigned long long Measure(const CredHashInfo &info) {
    std::string_view method = info.method;
    if (Yescrypt(method)) return Param(info, "N") * Param(info, "r");
    if (method.starts_with("bcrypt")) return Param(info, "cost");
    return Param(info, "rounds");
}

// The parameters that make the measure, as "rounds=5000" or "N=4096 r=32".
std::string MeasureText(const CredHashInfo &info) {
    std::string_view method = info.method;
    if (Yescrypt(method))
        return "N=" + std::to_string(Param(info, "N")) + " r=" + std::to_string(Param(info, "r"));
    if (method.starts_with("bcrypt")) return "cost=" + std::to_string(Param(info, "cost"));
    return "rounds=" + std::to_string(Param(info, "rounds"));
}

// What crypt_gensalt makes of cost for the method, decoded; false when it
// refuses the cost.
bool GensaltFor(const CostMethod &m, unsigned long cost, CredHashInfo *info) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    std::string prefix(m.prefix);
    if (crypt_gensalt_rn(prefix.c_str(), cost, nullptr, 0, setting, sizeof setting) == nullptr)
        return false;
    *info = {};
    DecodeHash(setting, info);  // the parameters are read before the missing digest
    explicit_bzero(setting, sizeof setting);
    return true;
}

std::string Join(const std::vector<std::string> &words) {
    std::string out;
    for (const std::string &w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

bool KnownMethod(std::string_view name) {
    std::size_t count = 0;
    const HashMethod *rows = HashMethods(&count);
    for (std::size_t i = 0; i < count; ++i)
        if (name == rows[i].name && name != "unknown") return true;
    return false;
}

bool TakeNumber(std::string_view text, unsigned long long *out) {
    if (text.empty() || text.size() > 9) return false;
    *out = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        *out = *out * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

// Fills the rule's limit and want text for a cost rule; "" or what is wrong.
std::string CostRule(const CostMethod &m, std::string_view value, CredPolicyRule *r) {
    unsigned long long cost = 0;
    CredHashInfo info{};
    if (!TakeNumber(value, &cost)) return "not a number: " + std::string(value);
    if (!GensaltFor(m, static_cast<unsigned long>(cost), &info) || Measure(info) == 0)
        return std::string(m.method) + " has no cost " + std::string(value);
    r->limit = Measure(info);
    std::string want = MeasureText(info) + " or more";
    if (Yescrypt(m.method))
        want = "cost " + std::string(value) + " (" + MeasureText(info) + ") or more";
    CopyText(r->want, sizeof r->want, want);
    return "";
}

std::string FillRule(std::string_view rule, std::string_view value, CredPolicyRule *r) {
    if (rule == "methods") {
        std::string want;
        for (const std::string &word : Words(value)) {
            if (!KnownMethod(word)) return "unknown method " + word;
            want += (want.empty() ? "" : " or ") + word;
        }
        if (want.empty()) return "methods needs a method";
        CopyText(r->want, sizeof r->want, want);
        CopyText(r->value, sizeof r->value, Join(Words(value)));
        return "";
    }
    bool one = value.find_first_of(" \t") == std::string_view::npos;
    std::string oneNumber = "one number after " + std::string(rule);
    for (const CostMethod &m : kCostMethods)
        if (rule == std::string(m.method) + "." + std::string(m.word) + ".min")
            return one ? CostRule(m, value, r) : oneNumber;
    for (const AgingRule &a : kAgingRules) {
        if (rule != a.rule) continue;
        if (!one) return oneNumber;
        if (!TakeNumber(value, &r->limit)) return "not a number: " + std::string(value);
        CopyText(r->want, sizeof r->want,
                 (a.most ? "at most " : "at least ") + std::to_string(r->limit));
        return "";
    }
    return "unknown rule " + std::string(rule);
}

// ---- judging ------------------------------------------------------------------

void AddGap(CredAccount *a, const CredPolicyRule &r, const std::string &have) {
    CredPolicyJudgement &j = a->policy;
    j.meets = 0;
    if (j.ngaps == CRED_POLICY_MAX_GAPS) return;
    CredPolicyGap &g = j.gaps[j.ngaps++];
    CopyText(g.rule, sizeof g.rule, r.rule);
    CopyPrintable(g.have, sizeof g.have, have, sizeof g.have - 1);
    CopyText(g.want, sizeof g.want, r.want);
    CopyText(g.from, sizeof g.from, r.from);
}

// Whether the words of list (between single spaces, as a rule keeps them)
// hold word; without an allocation, as it runs for every user of a walk.
bool HasWord(std::string_view list, std::string_view word) {
    for (std::size_t at = 0; at < list.size();) {
        std::size_t end = std::min(list.find(' ', at), list.size());
        if (list.substr(at, end - at) == word) return true;
        at = end + 1;
    }
    return false;
}

void JudgeMethod(const CredPolicyRule &r, CredAccount *a) {
    if (!HasWord(r.value, a->hash.method)) AddGap(a, r, a->hash.method);
}

void JudgeCost(const CostMethod &m, const CredPolicyRule &r, CredAccount *a) {
    std::string_view method = a->hash.method;
    bool same = m.method == "bcrypt" ? method.starts_with("bcrypt") : method == m.method;
    if (same && a->hash.valid && Measure(a->hash) < r.limit) AddGap(a, r, MeasureText(a->hash));
}

void JudgeAging(const AgingRule &rule, const CredPolicyRule &r, CredAccount *a) {
    long have = rule.rule == "max_days.max"    ? a->maxDays
                : rule.rule == "min_days.min"  ? a->minDays
                : rule.rule == "warn_days.min" ? a->warnDays
                                               : a->inactiveDays;
    // An unset maximum is none at all; an unset minimum is 0.
    auto limit = static_cast<long long>(r.limit);
    bool gap = rule.most ? have < 0 || have > limit : (have < 0 ? 0 : have) < limit;
    if (gap) AddGap(a, r, have < 0 ? std::string("unset") : std::to_string(have));
}

void JudgeRule(const CredPolicyRule &r, bool usable, CredAccount *a) {
    std::string_view rule = r.rule;
    if (rule == "methods") return JudgeMethod(r, a);
    for (const CostMethod &m : kCostMethods)
        if (rule.starts_with(m.method) && rule.substr(m.method.size()).starts_with('.'))
            return JudgeCost(m, r, a);
    for (const AgingRule &aging : kAgingRules)
        if (rule == aging.rule && usable) JudgeAging(aging, r, a);
}

std::string ReadPolicyFile(const char *path, CredPolicy *out) {
    std::string data, wrong;
    bool more = false;
    FileRead read = ReadRegularFile(path, 1 << 20, &data, &more);
    if (read == FileRead::kSpecial) return std::string(path) + ": not a regular file";
    if (read != FileRead::kRead) return std::string(path) + ": " + std::strerror(errno);
    if (more) return std::string(path) + ": larger than 1 MiB";
    EachLine(data, [&](std::string_view text, int number) {
        std::string from = std::string(path) + ":" + std::to_string(number);
        if (text.size() >= 1024) return wrong = from + ": line too long", false;
        text = text.substr(0, text.find('#'));
        std::vector<std::string> words = Words(text);
        if (words.empty()) return true;
        std::string value(text.substr(text.find(words[0]) + words[0].size()));
        std::size_t first = value.find_first_not_of(" \t"), last = value.find_last_not_of(" \t");
        value = first == std::string::npos ? "" : value.substr(first, last - first + 1);
        std::string rule =
            value.empty() ? words[0] + " needs a value" : AddPolicyRule(out, words[0], value, from);
        if (!rule.empty()) wrong = from + ": " + rule;
        return rule.empty();
    });
    return wrong;
}

}  // namespace

bool Yescrypt(std::string_view method) {
    return method == "yescrypt" || method == "gost-yescrypt";
}

std::string AddPolicyRule(CredPolicy *policy, std::string_view rule, std::string_view value,
                          std::string_view from) {
    for (int i = 0; i < policy->nrules; ++i)
        if (rule == policy->rules[i].rule) return std::string(rule) + " is given twice";
    if (policy->nrules == CRED_POLICY_MAX_RULES) return "too many rules";
    CredPolicyRule r{};
    if (rule.size() >= sizeof r.rule) return "unknown rule " + std::string(rule);
    std::string wrong = FillRule(rule, value, &r);
    if (!wrong.empty()) return wrong;
    CopyText(r.rule, sizeof r.rule, rule);
    if (r.value[0] == '\0') CopyPrintable(r.value, sizeof r.value, value, sizeof r.value - 1);
    CopyPrintable(r.from, sizeof r.from, from, sizeof r.from - 1);
    policy->rules[policy->nrules++] = r;
    return "";
}

void AddPolicyNote(CredPolicy *policy, std::string_view note) {
    if (policy->nnotes < CRED_POLICY_MAX_NOTES)
        CopyPrintable(policy->notes[policy->nnotes++], CRED_MESSAGE_SIZE, note,
                      CRED_MESSAGE_SIZE - 1);
}

}  // namespace credaccount

using namespace credaccount;

extern "C" int CredReadPolicy(const char *path, const char *name, CredPolicy *out, char *error,
                              unsigned long size) noexcept {
    if (out == nullptr) {
        if (size > 0 && error != nullptr) CopyText(error, size, "no policy record was given");
        errno = EINVAL;
        return -1;
    }
    std::memset(out, 0, sizeof *out);
    if (size > 0) error[0] = '\0';
    try {
        if (path == nullptr) {
            CopyText(out->name, sizeof out->name, "host");
            out->host = 1;
            ReadHostPolicy(out);
            return 0;
        }
        CopyText(out->name, sizeof out->name, name != nullptr ? name : path);
        std::string wrong = ReadPolicyFile(path, out);
        if (wrong.empty()) return 0;
        if (size > 0) CopyPrintable(error, size, wrong, size - 1);
    } catch (...) {
        if (size > 0) CopyText(error, size, "no memory for the policy");
    }
    return -1;
}

extern "C" void CredJudgePolicy(const CredPolicy *policy, CredAccount *account) noexcept {
    if (account == nullptr) return;
    CredPolicyJudgement &j = account->policy;
    std::memset(&j, 0, offsetof(CredPolicyJudgement, gaps));
    if (policy == nullptr) return;
    j.judged = 1;
    CopyText(j.name, sizeof j.name, policy->name);
    if (!account->hasHash) {
        j.meets = -1;  // nothing to judge
        return;
    }
    j.meets = 1;
    const CredAccount &a = *account;
    bool usable = !a.locked && !a.disabled && !a.empty;
    try {
        for (int i = 0; i < policy->nrules; ++i) JudgeRule(policy->rules[i], usable, account);
    } catch (...) {
        j.meets = -1;  // no memory: nothing is claimed
    }
}
