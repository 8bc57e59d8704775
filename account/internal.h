/*
 * internal.h - pieces of the account layer that its own files and tests
 * share.
 */
#ifndef ACCOUNT_INTERNAL_H
#define ACCOUNT_INTERNAL_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "account/account.h"

struct passwd;

namespace credaccount {

// One row: a method's prefix (or, for the prefix-less DES forms, a claim
// on the text), its libxcrypt name, the decoder that reads its parameters
// and checks its syntax, returning what is wrong or null, and, for a method
// whose support crypt_checksalt cannot tell, a cheap setting to try once.
struct HashMethod {
    std::string_view prefix;
    bool (*claims)(std::string_view hash);  // used when prefix is empty
    const char *name;
    const char *(*decode)(std::string_view hash, CredHashInfo *info);
    std::string_view trial = {};
};

// Copies src (null: the empty text) into dst of size bytes, cut to fit.
void CopyText(char *dst, std::size_t size, const char *src);

// ---- hashes.cpp: the table of hash methods, support and the password check --

// The rows, most specific prefix first; the last row takes any text.
const HashMethod *HashMethods(std::size_t *count);
// The row that describes hash.
const HashMethod &FindHashMethod(std::string_view hash);
// Method, parameters and syntax only (no call of the host's crypt).
void DecodeHash(std::string_view hash, CredHashInfo *info);

// ---- sources.cpp: which name service source answered ------------------------

// Name the first source of database ("passwd" or "shadow") in nsswitch
// (a file path) that has user, into out (size bytes): "" when none.
// Returns whether a source asked on the way refused this process access.
bool NameSource(const char *nsswitch, const char *database, const char *user, char *out,
                std::size_t size);

// The names of the sources of database in nsswitch, in order ("files" when
// the file or the line is missing).
std::vector<std::string> SourceNames(const char *nsswitch, const char *database);

// ---- aging.cpp: the account state -----------------------------------------

// pam_unix's decision on the aging fields, all in days (-1: unset).
struct Aging {
    bool expired, passwordExpired, mustChange, inactive;
};
Aging DecideAging(long today, long lastChange, long maxDays, long inactiveDays, long expireDay);
// Whether the shadow file at path has a line for user (name and a colon).
bool FileHasUserLine(const char *path, const char *user);

// What one computation of the host's crypt with a hash as its setting
// answered: whether it ran, failed, and the length of its answer.
struct CryptAnswer {
    bool computed = false, failed = false;
    std::size_t length = 0;
};

// Whether password gives hash by the host's crypt (constant-time compare).
// Sets *tooLong when the host's crypt refuses it for its length; *answer
// says what the computation gave, so that it also shows support.
bool PasswordMatches(const char *password, const char *hash, bool *tooLong, CryptAnswer *answer);

// CredInspectHash with what a password check already computed (answer may
// be null).  Support is decided from the method table and crypt_checksalt;
// only a method whose support these cannot tell is computed, once per
// method and parameters in the process, with a cheap setting.
void InspectHash(const char *hash, const CryptAnswer *answer, CredHashInfo *info);
// How many times the support of a method was computed (a trial); for tests.
unsigned long SupportTrials();

// ---- pam_stack.cpp: a service's stack as Linux-PAM reads it ------------------

struct PamStackLine {
    std::string type;       // "auth", "account", "password" or "session"
    bool optional = false;  // written "-type": a module that cannot be loaded is skipped
    std::string control;    // as written: "required", "[success=1 default=ignore]", ...
    std::string module;     // as written: "pam_unix.so" or a path
    std::string args;       // the arguments, as written, one space between them
    int depth = 0;          // 0 in the service's own file, 1 and more through include/substack
};

struct PamStack {
    std::vector<PamStackLine> lines;  // every type, in order, includes followed
    bool fromOther = false;           // the service has no file of its own: "other" answered
};

// Read service's stack from confdir (confdir/SERVICE, else confdir/other),
// or, when confdir does not exist, from pamConf.  False when neither has it.
bool ReadPamStack(const char *service, PamStack *stack, const char *confdir = "/etc/pam.d",
                  const char *pamConf = "/etc/pam.conf");
// A path's last part ("pam_unix.so" of "/lib/security/pam_unix.so").
std::string_view BaseName(std::string_view path);

// Whether pw's credential may sit behind its password field: a shadow
// entry, or a directory's placeholder.
bool NeedsShadowLookup(const struct passwd *pw, const char *passwdSource);

// ---- pam.cpp: the PAM run, which changes nothing it diagnoses ------------------

struct PamRequest {
    const char *service;
    const char *user;
    const char *password;          // "" when none was given
    const char *credentialModule;  // the module that holds the credential ("pam_unix.so")
    const char *skipAuthenticate;  // null, or why pam_authenticate must not run
};
// Run the service: pam_authenticate, then pam_acct_mgmt only after it
// succeeded.  Fills pamRun, pamService, the two steps and their run flags,
// messages, stack, decidedBy and the PAM notes of out.
void RunPam(const PamRequest &request, CredAccount *out);

// ---- gates.cpp: nologin, the pam_faillock tally, the shell, the notes ----------

// The nologin file as pam_nologin finds it (/run/nologin first).
void ReadNologin(CredNologinGate *gate);
// pam_faillock's settings (faillock.conf, then the arguments of pam_faillock
// in service's stack) and the user's tally at time now.
void ReadFaillock(const char *service, const char *user, bool root, long long now,
                  CredFaillockGate *gate);
// The shell a session would start from the passwd field, whether it can,
// and whether the shells file lists the field.
void CheckShell(const char *field, const char *shellsFile, CredShellGate *gate, bool *listed);
// CRED_ANOTE_ bits for the home folder and the primary group.
unsigned HomeAndGroupNotes(const struct passwd *pw);
// Keep the answers that are the same for every user of a walk (the
// nologin file, pam_faillock's settings and which users have a tally, the
// answers per shell and per group) until called with false.
void KeepWalkAnswers(bool keep);

// ---- ssh.cpp: sshd's own rules -------------------------------------------------

// sshd's answer for pw from address: fills out->ssh.
void CheckSsh(const struct passwd *pw, const char *address, CredAccount *out);

}  // namespace credaccount

#endif  // ACCOUNT_INTERNAL_H
