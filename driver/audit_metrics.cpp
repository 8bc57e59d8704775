// audit_metrics.cpp - "-a --all --prometheus": the audit's counts in
// Prometheus's text exposition format (0.0.4), as node_exporter's textfile
// collector reads it.  Every verdict and finding is written, zeros included,
// so that an alert never sees a series vanish; no label names a user (the
// per-user detail is the JSON Lines form's).
#include <cstdio>
#include <string>
#include <string_view>

#include "account/account.h"
#include "driver/account_report.h"

namespace credcheck {
namespace {

// A label value with the escapes of the format: backslash, quote, line end.
std::string LabelValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

void Family(const char *name, const char *help) {
    std::printf("# HELP %s %s\n# TYPE %s gauge\n", name, help, name);
}

void Sample(const char *name, const char *label, std::string_view value, double number) {
    if (label == nullptr)
        std::printf("%s %.17g\n", name, number);
    else
        std::printf("%s{%s=\"%s\"} %.17g\n", name, label, LabelValue(value).c_str(), number);
}

void PrintCounts(const CredAuditSummary &s) {
    Family("credcheck_accounts", "Users per verdict of the account report.");
    for (int v = 0; v <= CRED_VERDICT_MAX; ++v) {
        std::string_view name = CredVerdictName(static_cast<CredVerdict>(v));
        if (name != "unknown")
            Sample("credcheck_accounts", "verdict", name, static_cast<double>(s.verdicts[v]));
    }
    Family("credcheck_findings", "Users per kind of finding of the audit.");
    for (int bit = 0; bit < CRED_FINDING_COUNT; ++bit)
        Sample("credcheck_findings", "finding", CredFindingName(1u << bit),
               static_cast<double>(s.findings[bit]));
    Family("credcheck_hash_methods", "Readable hashes per libxcrypt method name.");
    for (int i = 0; i < s.nmethods; ++i)
        Sample("credcheck_hash_methods", "method", s.methods[i].method,
               static_cast<double>(s.methods[i].count));
}

}  // namespace

void PrintMetrics(const CredAuditSummary &summary, bool success, double started, double duration) {
    Family("credcheck_build_info", "The credcheck version that wrote these metrics.");
    Sample("credcheck_build_info", "version", CREDCHECK_VERSION, 1);
    Family("credcheck_audit_timestamp_seconds", "When the audit's walk began, in Unix time.");
    Sample("credcheck_audit_timestamp_seconds", nullptr, "", started);
    Family("credcheck_audit_duration_seconds", "How long the audit's walk took.");
    Sample("credcheck_audit_duration_seconds", nullptr, "", duration);
    Family("credcheck_audit_success",
           "1 when the walk read the user database to its end, 0 when it could not.");
    Sample("credcheck_audit_success", nullptr, "", success ? 1 : 0);
    // A walk that failed has no counts to give: zeros would read as a clean host.
    if (success) PrintCounts(summary);
}

}  // namespace credcheck
