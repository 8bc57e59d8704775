// account_options.cpp - reads the command line of "credcheck -a".
#include "driver/account_options.h"

#include <arpa/inet.h>

#include <string_view>

#include "driver/account_report.h"
#include "driver/driver.h"

namespace credcheck {

const char kAccountUsage[] =
    "usage: %1$s -a USER [PASSWORD | -] [--pam SERVICE] [--ssh [ADDRESS]] [--costly] [--json]\n"
    "                 [--policy host|cis|stig|FILE]\n"
    "       %1$s -a --all [--json | --prometheus] [--output FILE] [--policy host|cis|stig|FILE]\n";

namespace {

bool IsAddress(const char *text) {
    unsigned char buf[16];
    return inet_pton(AF_INET, text, buf) == 1 || inet_pton(AF_INET6, text, buf) == 1;
}

// A word that is not an option: the user name, then the password.
std::string TakeWord(int index, char **argv, AccountOptions &o) {
    if (o.user == nullptr) {
        o.user = argv[index];
    } else if (o.password == nullptr) {
        o.password = argv[index];
        o.passwordIndex = index;
    } else {
        return Quoted(argv[index]) + ": one user name and one password at most";
    }
    return "";
}

// The option argv[*index]; an option that takes a word moves *index past it.
std::string TakeOption(int argc, char **argv, int *index, AccountOptions &o) {
    std::string_view word = argv[*index];
    const char *next = *index + 1 < argc ? argv[*index + 1] : nullptr;
    bool nextIsWord = next != nullptr && next[0] != '-' && next[0] != '\0';
    bool *flag = word == "--json"         ? &o.json
                 : word == "--all"        ? &o.all
                 : word == "--ssh"        ? &o.ssh
                 : word == "--costly"     ? &o.costly
                 : word == "--prometheus" ? &o.prometheus
                                          : nullptr;
    if (word == "--pam") {
        if (o.pamService != nullptr) return "--pam is given twice";
        if (!nextIsWord) return "--pam needs a service name";
        o.pamService = argv[++*index];
        return "";
    }
    if (word == "--output") {
        if (o.output != nullptr) return "--output is given twice";
        if (next == nullptr || next[0] == '\0') return "--output needs a file name";
        o.output = argv[++*index];
        return "";
    }
    if (word == "--policy") {
        if (o.policy != nullptr) return "--policy is given twice";
        if (next == nullptr || next[0] == '\0') return "--policy needs host, cis, stig or a file";
        o.policy = argv[++*index];
        return "";
    }
    if (flag == nullptr) return "unknown option " + Quoted(argv[*index]);
    if (*flag) return std::string(word) + " is given twice";
    *flag = true;
    if (word == "--ssh" && next != nullptr && next[0] != '-') {
        if (!IsAddress(next)) return "--ssh: " + Quoted(next) + " is not an IPv4 or IPv6 address";
        o.sshAddress = argv[++*index];
    }
    return "";
}

}  // namespace

std::string ParseAccountOptions(int argc, char **argv, AccountOptions &o) {
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        std::string_view word = argv[i];
        std::string wrong;
        if (!optionsEnd && word == "--")
            optionsEnd = true;
        else if (optionsEnd || word == "-" || !word.starts_with('-'))
            wrong = TakeWord(i, argv, o);
        else
            wrong = TakeOption(argc, argv, &i, o);
        if (!wrong.empty()) return wrong;
    }
    if (!o.all && o.user == nullptr) return "-a needs a user name";
    if (!o.all && o.prometheus) return "--prometheus goes with --all";
    if (!o.all && o.output != nullptr) return "--output goes with --all";
    if (!o.all) return "";
    if (o.json && o.prometheus) return "--json and --prometheus exclude each other";
    if (o.user != nullptr) return "--all takes no user name or password: " + Quoted(o.user);
    if (o.pamService != nullptr) return "--pam does not go with --all";
    if (o.ssh) return "--ssh does not go with --all";
    if (o.costly) return "--costly does not go with --all";
    return "";
}

AccountOptions ReadAccountOptions(int argc, char **argv) {
    AccountOptions options;
    std::string wrong = ParseAccountOptions(argc, argv, options);
    if (!wrong.empty()) UsageError(argv[0], wrong, kAccountUsage);
    return options;
}

}  // namespace credcheck
