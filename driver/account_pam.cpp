// account_pam.cpp - the PAM run's part of the "-a" report: its steps, what
// the modules said, the stack and the module that decided.
#include <nlohmann/json.hpp>
#include <string>

#include "driver/account_report.h"

namespace credcheck {
namespace {

nlohmann::json Step(int run, const CredPamStep &s) {
    return {{"ok", run ? nlohmann::json(s.status == 0) : nlohmann::json(nullptr)},
            {"text", s.text}};
}

}  // namespace

nlohmann::json PamJson(const CredAccount &a) {
    return {{"service", a.pamService},
            {"authenticate", Step(a.pamAuthenticateRun, a.pamAuthenticate)},
            {"account", Step(a.pamAccountRun, a.pamAccount)}};
}

void PrintPam(const CredAccount &a) {
    ReportLine("PAM:", "service " + PrintableName(a.pamService) + ": authenticate: " +
                           a.pamAuthenticate.text + "; account: " + a.pamAccount.text);
}

}  // namespace credcheck
