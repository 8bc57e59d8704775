// account_ssh.cpp - sshd's part of the "-a" report: the rule that refuses,
// the ways in that are left, and the paths StrictModes refuses.
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "driver/account_report.h"

namespace credcheck {
namespace {

// Why the settings are unknown, with sshd's own words when it gave some.
std::string Unavailable(const CredSsh &s) {
    return std::string(s.unavailable) + (s.detail[0] ? std::string(": ") + s.detail : "");
}

std::string Keys(const CredSsh &s) {
    if (s.keysOff != nullptr) return std::string("off (") + s.keysOff + ")";
    if (s.keys < 0)
        return "none in the files; AuthorizedKeysCommand or TrustedUserCAKeys may supply some";
    return s.keys == 0 ? "none usable" : std::to_string(s.keys) + " usable";
}

}  // namespace

nlohmann::json SshJson(const CredAccount &a) {
    const CredSsh &s = a.ssh;
    bool known = s.unavailable == nullptr;
    nlohmann::json problems = nlohmann::json::array();
    for (int i = 0; i < s.nproblems; ++i)
        problems.push_back({{"path", s.problems[i].path}, {"problem", s.problems[i].problem}});
    auto known_or_null = [known](nlohmann::json value) {
        return known ? value : nlohmann::json(nullptr);
    };
    return {{"address", TextOrNull(s.address)},
            {"unavailable", known ? nlohmann::json(nullptr) : nlohmann::json(Unavailable(s))},
            {"allowed", known_or_null(s.allowed != 0)},
            {"rule", TextOrNull(s.rule)},
            {"password", known_or_null(s.password != 0)},
            {"password_off", TextOrNull(s.passwordOff)},
            {"keys", s.keys < 0 ? nlohmann::json(nullptr) : known_or_null(s.keys)},
            {"keys_off", TextOrNull(s.keysOff)},
            {"strict_modes", problems},
            {"reason", TextOrNull(s.reason)}};
}

void PrintSsh(const CredAccount &a) {
    const CredSsh &s = a.ssh;
    std::string from = std::string("from ") + (s.address[0] ? s.address : "?") + ": ";
    if (s.unavailable != nullptr) {
        ReportLine("SSH:",
                   from + "sshd's settings are unknown: " + PrintableName(Unavailable(s).c_str()));
        return;
    }
    ReportLine("SSH:",
               from + (s.allowed ? "no rule refuses" : "refused by " + PrintableName(s.rule)));
    ReportLine("", s.password ? "password logins: on"
                              : std::string("password logins: off (") + s.passwordOff + ")");
    ReportLine("", "authorized keys: " + Keys(s));
    for (int i = 0; i < s.nproblems; ++i)
        ReportLine("", (std::string_view(s.problems[i].problem).starts_with("not ")
                            ? "sshd cannot use "
                            : "StrictModes refuses ") +
                           PrintableName(s.problems[i].path) + ": " + s.problems[i].problem);
    if (s.reason[0]) ReportLine("", "sshd refuses: " + PrintableName(s.reason));
}

}  // namespace credcheck
