// help.cpp - the full help text and the version: what every mode takes and
// what every exit status means, on standard output.
#include "driver/help.h"

#include <cstdio>
#include <string_view>

namespace credcheck {
namespace {

constexpr char kHelp[] = R"(Usage: credcheck MODE [ARGUMENTS]
Find out whether this host's encrypted passwords can be read, and whether
passwords authenticate against them.  Missing arguments are asked for;
passwords with masked entry at the terminal.

Modes:
  -l [USER [PASSWORD [-g METHOD]]]
      Query USER (default root): look the encrypted password up, classify
      it and check PASSWORD against it.  METHOD chooses how supplementary
      groups are found: 1 the groups of this process, 2 (default) a scan
      of /etc/group.
  -c [ENCRYPTED [GUESS]]
      Check GUESS against the encrypted password ENCRYPTED.
  -g [SECONDS]
      Probe whether any encrypted password can be read: root, then every
      user, for at most SECONDS (no limit when missing).
  -a USER [PASSWORD | -] [--pam SERVICE] [--ssh [ADDRESS]] [--costly] [--json]
     [--policy host|cis|stig|FILE]
      Account report: can USER log in, and if not, why not.  PASSWORD is
      checked when given; "-" reads it with masked entry at a terminal,
      otherwise as one line of standard input; a password that starts
      with "-" goes after "--".  --pam SERVICE also asks PAM through
      SERVICE (without a password, authentication is not run); --ssh asks
      about a login over ssh from ADDRESS (an IPv4 or IPv6 address,
      127.0.0.1 when left out); --costly checks PASSWORD even against a
      hash whose cost is far beyond its method's usual range; --json
      prints one JSON object.  --policy judges the hash's method and cost
      and the aging fields against a policy: the host's own (the default:
      the pam_unix line of the passwd service, /etc/login.defs and
      /etc/default/useradd, each rule with its file and line), the
      installed baselines cis or stig, or FILE (one rule a line, such as
      "sha512crypt.rounds.min 100000"); the verdict does not change.  For
      example, on a host whose pam_unix writes yescrypt:
        Policy:    host: 1 gap
                   sha512crypt, rounds=5000: the host writes yescrypt
                   (/etc/pam.d/common-password:26)
      The report changes nothing: no module that acts outside this
      process is run, and no password is ever changed.
  -a --all [--json | --prometheus] [--output FILE] [--policy host|cis|stig|FILE]
      Account report for every user; --json prints one JSON object per
      user, then a summary object with the host, the time and the version;
      --prometheus prints the counts as Prometheus metrics, for
      node_exporter's textfile collector; --output FILE replaces FILE
      atomically with the report.  Users with a gap in the policy (the
      host's own by default) have the finding off-policy, which counts
      for the exit status only when --policy is given.

Options:
  --help     print this help and exit
  --version  print the version and exit

Exit status:
  0   -l, -c: the password authenticated in full (-l: and the stored
      encrypted password has a valid format); -a: the user can log in;
      -a --all: nothing to report
  1   -l, -c: anything else; -g: always; -a --all: something to report
  2   no mode, an unknown mode or a usage error
  3   -a: no such user
  4   -a: this process cannot read the encrypted password
  5   -a: locked, disabled or no password ever set
  6   -a: the encrypted password is empty
  7   -a: a malformed encrypted password, or a method this host's crypt
      does not support
  8   -a: the account or the password has expired (or PAM says so)
  9   -a: the password does not authenticate
  10  -a: PAM refused for a reason not listed here
  11  -a: pam_faillock's tally locks the user
  12  -a: /etc/nologin or /run/nologin refuses every user but root
  13  -a: an access rule refused in the PAM run
  14  -a: the login shell refuses sessions, is missing or not executable
  15  -a: with --ssh, sshd's own rules refuse the user
  16  -a: a check that was asked for or needed could not be made (PAM
      could not be run, a hash too costly without --costly, sshd's
      settings unavailable)
  17  -a: the directory or KDC that holds the credential cannot be
      reached, and nothing cached lets the user in
-a takes the first of these that applies, in the order 3, 17, 4, 5, 6, 7,
8, 11, 12, 13, 15, 9, 14, 10, 16.  A report that cannot be written to
standard output ends with status 2.
)";

int Flushed() {
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace

int RunInfoOption(const char *arg) {
    std::string_view option = arg != nullptr ? arg : "";
    if (option == "--help") {
        std::fputs(kHelp, stdout);
        return Flushed();
    }
    if (option == "--version") {
        std::printf("credcheck %s\n", CREDCHECK_VERSION);
        return Flushed();
    }
    return -1;
}

}  // namespace credcheck
