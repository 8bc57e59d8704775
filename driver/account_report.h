// account_report.h - the "-a" report's pieces that the whole-host audit
// shows as well.
#ifndef DRIVER_ACCOUNT_REPORT_H
#define DRIVER_ACCOUNT_REPORT_H

#include <nlohmann/json_fwd.hpp>
#include <string>

#include "account/account.h"
#include "driver/account_options.h"

namespace credcheck {

// The record as the JSON object of "credcheck -a USER --json".
nlohmann::json AccountJson(const CredAccount &account);
// A name as it may be shown: control and non-ASCII bytes as \xNN.
std::string PrintableName(const char *text);
// "-a --all [--json]".  Ends the process.
[[noreturn]] void RunAuditMode(const AccountOptions &options);

}  // namespace credcheck

#endif  // DRIVER_ACCOUNT_REPORT_H
