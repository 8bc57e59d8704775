// account_report.h - the "-a" report's pieces that the whole-host audit
// shows as well.
#ifndef DRIVER_ACCOUNT_REPORT_H
#define DRIVER_ACCOUNT_REPORT_H

#include <nlohmann/json_fwd.hpp>
#include <string>

#include "account/account.h"
#include "driver/account_options.h"

namespace credcheck {

// ---- account_view.cpp: the record's two views ----------------------------
// The record as the JSON object of "credcheck -a USER --json".
nlohmann::json AccountJson(const CredAccount &account);
// The record as the text report of "credcheck -a USER".
void PrintAccountText(const CredAccount &account);
// The sentence that names the cause behind the verdict.
std::string Reason(const CredAccount &account);
// A name as it may be shown: control and non-ASCII bytes as \xNN.
std::string PrintableName(const char *text);
// "-a --all [--json | --prometheus] [--output FILE]".  Ends the process.
[[noreturn]] void RunAuditMode(const AccountOptions &options, const CredPolicy &policy);
// ---- audit_metrics.cpp: the audit as Prometheus metrics -------------------
// The families of the audit; started: when the walk began (Unix time),
// duration: its length in seconds; without success, no counts.
void PrintMetrics(const CredAuditSummary &summary, bool success, double started, double duration);
// One line of the text report: the label in a column of its own.
void ReportLine(const char *label, const std::string &text);
// "FILE refuses every user but root", with the file's message when it has one.
std::string NologinSentence(const CredNologinGate &nologin);
// The nologin file as JSON: null when there is none.
nlohmann::json NologinJson(const CredNologinGate &nologin);
// Seconds since 1970 as "YYYY-MM-DD HH:MM UTC", and as ISO 8601 UTC (null
// for a negative time).
std::string Time(long long seconds);
nlohmann::json TimeJson(long long seconds);
// A text as JSON: null when there is none or it is empty.
nlohmann::json TextOrNull(const char *text);
// The account notes on the PAM run, which its own part of the report shows.
constexpr unsigned kPamNotes = CRED_ANOTE_PAM_OTHER | CRED_ANOTE_PAM_PERMIT_ONLY |
                               CRED_ANOTE_PAM_UNIX_NOT_ROOT | CRED_ANOTE_PAM_ASSUMED;

// ---- account_policy.cpp: the policy's part of the report ------------------
// The policy of --policy (the host's own without it), read once; a name or
// file that gives none is a usage error.
const CredPolicy &ReadPolicy(const AccountOptions &options, const char *program);
// The record's "policy" object and "Policy:" lines (params: the hash's
// parameters in words).
nlohmann::json PolicyJson(const CredAccount &account);
void PrintPolicy(const CredAccount &account, const std::string &params);
// The policy in the audit's summary: its name, rules and notes.
nlohmann::json PolicySummaryJson(const CredPolicy &policy);
void PrintPolicySummary(const CredPolicy &policy);

// ---- account_pam.cpp: the PAM run's part of the report --------------------
// The "pam" object (only when PAM ran), and the "PAM:" lines.
nlohmann::json PamJson(const CredAccount &account);
void PrintPam(const CredAccount &account);

// ---- account_ssh.cpp: sshd's part of the report ---------------------------
// The "ssh" object (only with the ssh option), and the "SSH:" lines.
nlohmann::json SshJson(const CredAccount &account);
void PrintSsh(const CredAccount &account);

// ---- account_holder.cpp: the credential's holder: the KDC and SSSD --------
// The "kerberos" and "sssd" objects (null when not asked), and the
// "Kerberos:" and "SSSD:" lines.
nlohmann::json KerberosJson(const CredAccount &account);
nlohmann::json SssdJson(const CredAccount &account);
void PrintHolder(const CredAccount &account);
// The reason when the KDC's answer gave the verdict, else "".
std::string KerberosReason(const CredAccount &account);

}  // namespace credcheck

#endif  // DRIVER_ACCOUNT_REPORT_H
