// account_options.h - the command line of "credcheck -a": what the account
// report (-a USER) and the whole-host audit (-a --all) are asked to do.
//
//   credcheck -a USER [PASSWORD | -] [--pam SERVICE] [--ssh [ADDRESS]] [--costly] [--json]
//                     [--policy host|cis|stig|FILE]
//   credcheck -a --all [--json | --prometheus] [--output FILE] [--policy host|cis|stig|FILE]
//
// A word that starts with "-" is an option, except "-" itself; "--" ends the
// options, so a password that starts with "-" comes after it (or through
// "-").  Options and the two words USER and PASSWORD may come in any order.
#ifndef DRIVER_ACCOUNT_OPTIONS_H
#define DRIVER_ACCOUNT_OPTIONS_H

#include <string>

namespace credcheck {

struct AccountOptions {
    const char *user = nullptr;
    const char *password = nullptr;  // null, "-" (read it) or the word given
    int passwordIndex = 0;           // its index in argv, so it can be cleared; 0: none
    const char *pamService = nullptr;
    bool ssh = false;                      // --ssh
    const char *sshAddress = "127.0.0.1";  // its ADDRESS, an IPv4 or IPv6 address
    bool json = false;
    bool all = false;
    bool costly = false;           // --costly: check a password against a hash of any cost
    bool prometheus = false;       // --prometheus: the audit as Prometheus metrics
    const char *output = nullptr;  // --output FILE: the audit replaces FILE
    const char *policy = nullptr;  // --policy NAME: null when not given (the host's own)
};

// Reads argv[2] onwards into options.  Returns the empty string, or what is
// wrong, naming the word at fault.
std::string ParseAccountOptions(int argc, char **argv, AccountOptions &options);

// The options of "credcheck -a"; a usage error ends the process with status 2.
AccountOptions ReadAccountOptions(int argc, char **argv);

// The usage text of "credcheck -a" (a format that takes the program name as %1$s).
extern const char kAccountUsage[];

}  // namespace credcheck

#endif  // DRIVER_ACCOUNT_OPTIONS_H
