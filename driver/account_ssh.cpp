// account_ssh.cpp - sshd's part of the "-a" report.
#include <nlohmann/json.hpp>
#include <string>

#include "driver/account_report.h"

namespace credcheck {

nlohmann::json SshJson(const CredAccount &a) {
    return {{"address", a.ssh.address}};
}

void PrintSsh(const CredAccount &a) {
    ReportLine("SSH:", std::string("from ") + a.ssh.address);
}

}  // namespace credcheck
