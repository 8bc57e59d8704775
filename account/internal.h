/*
 * internal.h - pieces of the account layer that its own files and tests
 * share.
 */
#ifndef ACCOUNT_INTERNAL_H
#define ACCOUNT_INTERNAL_H

#include <string.h>
#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
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

// A lookup with a buffer that grows while the C library asks for more.
// The buffer is cleared when released (a shadow entry holds the hash).
struct LookupBuffer {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    bool Grow() {
        Clear();
        data.reset();
        size = size == 0 ? 4096 : size * 4;
        if (size > (1u << 24)) return false;
        data.reset(new (std::nothrow) char[size]);
        return data != nullptr;
    }
    void Clear() {
        if (data) explicit_bzero(data.get(), size);
    }
    ~LookupBuffer() { Clear(); }
};

// The group with gid: 1 when found (its name in *name when name is not
// null), 0 when it has no entry, -1 on an error, which proves nothing.
int LookUpGroup(gid_t gid, std::string *name);

// Copies src (null: the empty text) into dst of size bytes, cut to fit.
void CopyText(char *dst, std::size_t size, const char *src);
void CopyText(char *dst, std::size_t size, std::string_view src);
// The same, with control characters as '?' and at most limit characters.
void CopyPrintable(char *dst, std::size_t size, std::string_view src, std::size_t limit);
// text without the blanks (spaces, tabs, CR, LF) around it.
std::string_view Trim(std::string_view text);
// Records why a check that was asked for or needed could not be made (the
// first such reason stays): the verdict is then unchecked, unless another
// verdict refuses.
void MarkUnchecked(CredAccount *out, std::string_view why);
// Records what holds the credential and cannot be reached (the first stays):
// the verdict is then offline, as nothing cached let the user in.
void MarkOffline(CredAccount *out, std::string_view why);

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
// Within the warning period, the days left before the account or the
// password expires; -1 outside it.
struct Aging {
    bool expired = false, passwordExpired = false, mustChange = false, inactive = false;
    long accountExpiresIn = -1, passwordExpiresIn = -1;
};
Aging DecideAging(long today, long lastChange, long maxDays, long inactiveDays, long expireDay,
                  long warnDays);
// Whether the shadow file at path has a line for user (name and a colon).
bool FileHasUserLine(const char *path, const char *user);
// Keep the names of the lines of that file, read once, until called with
// false (a walk over every user).
void KeepLineNames(bool keep);

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
// method in the process, with a cheap setting.
void InspectHash(const char *hash, const CryptAnswer *answer, CredHashInfo *info);

// ---- pam_stack.cpp: a service's stack as Linux-PAM reads it ------------------

// Linux-PAM's return values, PAM_SUCCESS (0) to PAM_INCOMPLETE (31).
constexpr int kPamValues = 32;
// What Linux-PAM does with a module's answer; a positive action skips that
// many of the following lines (of the same substack).
enum PamAction : int {
    kActionIgnore = 0,
    kActionOk = -1,
    kActionDone = -2,
    kActionBad = -3,
    kActionDie = -4,
    kActionReset = -5
};

struct PamStackLine {
    std::string type;       // "auth", "account", "password" or "session"
    bool optional = false;  // written "-type": only the log stays silent when it is missing
    std::string control;    // as written: "required", "[success=1 default=ignore]", ...
    std::string module;     // as written: "pam_unix.so" or a path; a substack's name
    std::string args;       // the arguments, as written
    int depth = 0;          // 0 in the service's own file, 1 and more through include/substack
    std::string file;       // where it is written: the file, and the line it starts on
    int number = 0;
    int level = 0;          // substacks around the line: jumps, done and die stay within one
    bool substack = false;  // opens a substack: the lines after it with a higher level
    bool mustFail = false;  // Linux-PAM answers PAM_PERM_DENIED without a module (a bad line)
    int actions[kPamValues] = {};  // the action for each answer
};

struct PamStack {
    std::vector<PamStackLine> lines;  // auth, account, password, session; includes followed
    bool fromOther = false;           // the service has no file of its own: "other" answered
    bool complete = true;             // false: the reading was cut, the rest was not read
    std::string cut;                  // why it was cut (printable), "" when complete
    bool aborts = false;              // the service's file fails to load: PAM does not start
};

// Read service's stack from confdir (confdir/SERVICE, else confdir/other),
// or, when confdir does not exist, from pamConf.  A type the service has no
// line of comes from "other", as Linux-PAM does.  False when neither has it.
bool ReadPamStack(const char *service, PamStack *stack, const char *confdir = "/etc/pam.d",
                  const char *pamConf = "/etc/pam.conf");
// How ReadRegularFile read a file: kMissing when it cannot be found or
// opened (errno says why), kSpecial when it is not a regular file (it is
// then never opened), kFailed on a read error.
enum class FileRead { kRead, kMissing, kSpecial, kFailed };
// Reads at most limit bytes of the regular file at path (links followed,
// unless follow is false: a link is then special) into *text; *more (when
// not null) says whether the file holds more.
FileRead ReadRegularFile(const char *path, std::size_t limit, std::string *text,
                         bool *more = nullptr, bool follow = true);
// Calls each(line, number) for the lines of text, without their newlines,
// numbered from 1, while it answers true; false when it stopped early.
template <typename Each>
bool EachLine(std::string_view text, Each each) {
    for (int number = 1; !text.empty(); ++number) {
        std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(text.size(), line.size() + 1));
        if (!each(line, number)) return false;
    }
    return true;
}
// A path's last part ("pam_unix.so" of "/lib/security/pam_unix.so").
std::string_view BaseName(std::string_view path);
// A service name as Linux-PAM takes it: in lower case.
std::string Lower(const char *text);
// The name of a return value in a control ("success", "auth_err", ...).
const char *PamValueName(int value);

// Whether pw's credential may sit behind its password field: a shadow
// entry, or a directory's placeholder.
bool NeedsShadowLookup(const struct passwd *pw, const char *passwdSource);

// ---- pam_render.cpp: the private copy of a stack, which reports each answer ----

// The private copy's files: the service's (in the folder's pam.d), and
// one per substack.
struct PamFile {
    std::string name;  // within the private folder
    std::string text;
};

// How the copy is written.  With a marker, each module's line is followed
// by lines that show its answer through the conversation and then act on it
// as the module's own line would: the run is the same, and each answer is
// seen in order ("MARKER-LINE-VALUE"; "MARKER-LINE-enter" for a substack).
struct PamRenderOptions {
    std::string folder;                  // the private folder, an absolute path
    std::string marker;                  // "" for a copy without markers
    std::string helpers;                 // the folder of pam_echo, pam_debug and pam_permit
    std::vector<std::string> extraArgs;  // per line of the stack: arguments to add
    std::vector<bool> assumed;           // per line: not run, pam_permit answers in its place
};

// The auth and account lines of stack for a private folder; false when a
// line would be longer than Linux-PAM reads (then retry without markers).
bool RenderStack(const PamStack &stack, const char *service, const PamRenderOptions &options,
                 std::vector<PamFile> *files);

// ---- pam_decide.cpp: which answer refused ------------------------------------

constexpr int kTraceEnter = -2;    // a substack was entered
constexpr int kTraceInvalid = -1;  // the module answered a value Linux-PAM does not know

// One step of a traced run: the answer of stack.lines[line], in order.
struct PamTraceEvent {
    int line;
    int value;  // 0..31, or kTraceInvalid, or kTraceEnter
};

// The line whose answer decided a step and the step's status, evaluated as
// Linux-PAM evaluates the stack; line -1 when no answer decided.
struct PamDecision {
    int line = -1;
    int value = -1;
    int status = 0;
};
PamDecision EvaluateTrace(const PamStack &stack, const std::vector<PamTraceEvent> &trace);
// The line to name for a failed step: the deciding one; when that is
// pam_deny or answered "ignore" (ending the stack under bad or die), or
// none decided, the last module before it that answered with
// a failure other than "user unknown" or "ignore" (none decided and none
// failed so: the last that did not succeed); -1 when there is none.
// prefer: the module that holds the credential, whose failure is named
// before the later ones of modules that could not authenticate the user
// anyway ("" for none).
int NameDecider(const PamStack &stack, const std::vector<PamTraceEvent> &trace,
                const PamDecision &decision, int *value, std::string_view prefer = {});
// Whether a PAM answer says the account or its password has expired.
bool PamSaysExpired(int status);
// The kind of a decider: module (base name), type, its answer, and the
// module that holds the credential.
CredPamDeciderKind DeciderKind(std::string_view module, std::string_view type, int value,
                               std::string_view credentialModule);
// Whether success in an auth trace came only from pam_permit or pam_rootok
// (the modules that answered success otherwise check no credential).
bool PermitOnly(const PamStack &stack, const std::vector<PamTraceEvent> &trace);

// ---- pam_private.cpp: the private folder the run reads its stack from -------

// A folder of its own (mode 0700) that holds the copy of the stack and of
// the user's pam_faillock tallies; removed with everything in it on
// destruction.
class PamPrivateFolder {
  public:
    PamPrivateFolder() = default;
    PamPrivateFolder(const PamPrivateFolder &) = delete;
    PamPrivateFolder &operator=(const PamPrivateFolder &) = delete;
    ~PamPrivateFolder();
    // Make the folder; false (and why in *error) when it cannot be made.
    bool Create(std::string *error);
    const std::string &Path() const { return path_; }
    bool Write(const PamFile &file, std::string *error);
    // For each pam_faillock line of stack, the "dir=" argument that points
    // it at a private copy of user's tally (none where this process cannot
    // write the real one either); one per line.  False when a tally cannot
    // be copied, or a module would block on a file it reads (a FIFO).
    bool RedirectTallies(const PamStack &stack, const char *user,
                         std::vector<std::string> *extraArgs, std::string *error);

  private:
    std::string path_;
};

// ---- pam.cpp: the PAM run, which changes nothing it diagnoses ------------------

struct PamRequest {
    const char *service;
    const char *user;
    const char *password;             // null when none was given
    const char *credentialModule;     // the module that holds the credential ("pam_unix.so")
    const char *skipAuthenticate;     // null, or why pam_authenticate must not run
    const PamStack *stack = nullptr;  // the service's stack when already read, else null
};
// Run the service: pam_authenticate, then pam_acct_mgmt only after it
// succeeded; without a password, only pam_acct_mgmt, and only where every
// account line is safe to run alone.  Lines that act outside the process
// are not run (skipped).  Fills pamRun, pamService, the two steps and their
// run flags, messages, stack, skipped, decidedBy and the PAM notes of out,
// and marks the record unchecked when the run could not be made.
void RunPam(const PamRequest &request, CredAccount *out);

// ---- kerberos.cpp: the KDC's own answer ---------------------------------------

struct KerberosTarget {
    std::string principal;      // "user" (the default realm) or "user@REALM"
    bool validate = false;      // the module checks its tickets against the host keytab
    bool mustValidate = false;  // and fails without one
};
// Ask the KDC of target's realm, through the host's krb5.conf: without a
// password only whether it would take one (nothing counted there); with
// one, the password, once.  Fills out->kerberos; writes no ticket cache.
void AskKdc(const KerberosTarget &target, const char *password, CredAccount *out);

// ---- holder.cpp: who holds the credential --------------------------------------

// One domain of sssd.conf: its name and options, in order.
struct SssdDomain {
    std::string name;
    std::vector<std::pair<std::string, std::string>> options;
    std::string_view Get(std::string_view key, std::string_view fallback = "") const;
    bool Flag(std::string_view key, bool fallback) const;
};
// The domains of sssd.conf (path null: the host's), in the order of its
// [sssd] section; *readable: whether this process could read the file.
std::vector<SssdDomain> ReadSssdConf(const char *path, bool *readable);

struct Holder {
    std::string module;     // "" when the local entry decides
    bool kerberos = false;  // a Kerberos credential: the KDC can be asked
    KerberosTarget target;
    std::string ccacheDir;       // where SSSD writes the ticket caches of a login, or ""
    bool unixReachable = false;  // a pam_unix auth line can be reached too
};
// A service's stack with what every user's holder is found from: the auth
// lines a run can reach whose module may hold a credential, and the
// domains of sssd.conf, read when first needed.
struct ServiceAuth {
    PamStack stack;
    std::vector<std::size_t> holderLines;
    bool unixReachable = false;  // a pam_unix auth line can be reached
    mutable bool sssdRead = false;
    mutable std::vector<SssdDomain> sssd;
};
// Fills holderLines and unixReachable from the stack.
void FindHolderLines(ServiceAuth *auth);
// The first of those lines whose module can authenticate pw (pam_krb5
// within its minimum_uid; pam_sss, pam_ldap or pam_winbind for a user of
// that name service source).
Holder FindHolder(const ServiceAuth &auth, const struct passwd *pw, const char *passwdSource);
// The names of uid's ticket caches in dir ("krb5cc_UID..."); none for "".
std::vector<std::string> TicketCaches(const std::string &dir, uid_t uid);
// Removes uid's ticket caches in dir that are not in before: regular files
// of uid's, never through a link.
void RemoveNewTicketCaches(const std::string &dir, uid_t uid,
                           const std::vector<std::string> &before);

// ---- gates.cpp: nologin, the pam_faillock tally, the shell, the notes ----------

// The nologin file as pam_nologin finds it (/run/nologin first).
void ReadNologin(CredNologinGate *gate);
// Whether a walk keeps its answers now (KeepWalkAnswers).
bool InWalk();
// service's stack (ReadPamStack) and its holder lines, read once per walk:
// own, or the walk's copy; null when the service has none.
const ServiceAuth *ServiceStack(const char *service, ServiceAuth *own);
// pam_faillock's settings (faillock.conf, then the arguments of pam_faillock
// in service's stack, null when it has none) and the user's tally at time now.
void ReadFaillock(const char *service, const PamStack *stack, const char *user, bool root,
                  long long now, CredFaillockGate *gate);
// The tally folder of a pam_faillock line with arguments args (its dir=,
// else that of the file its conf= names, else faillock.conf's, else the
// default).
std::string FaillockTallyDir(std::string_view args);
// The settings file of a pam_faillock line with arguments args.
std::string FaillockConfFile(std::string_view args);
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
// The words of text between separators (' ': spaces and tabs).
std::vector<std::string> Words(std::string_view text, char separator = ' ');
// pw's groups: the primary one and the supplementary ones.
std::vector<gid_t> GroupsOf(const struct passwd *pw);
bool InGroups(const struct passwd *pw, gid_t gid);

// ---- ssh_sshd.cpp: asking sshd --------------------------------------------------

// sshd's settings for user from address ("sshd -T -C user=,host=,addr="),
// into settings.  False, with ssh->unavailable (and ssh->detail, sshd's
// own words) set, when sshd is missing or does not answer.
bool AskSshd(const char *user, const char *address, std::string *settings, CredSsh *ssh);

// What a child run by RunChild answered: whether it started, whether its
// output came whole (it ended in time and within the limit; else it was
// killed), its exit status (-1 when a signal ended it), and what it printed
// (standard error cut to 4 KB).
struct ChildAnswer {
    bool started = false, whole = false;
    int status = -1;
    std::string out, err;
};
// Runs argv[0] (an absolute path) with argv, no shell, standard input from
// /dev/null and an environment of PATH and LC_ALL=C alone; it is killed
// past deadlineMs or outputLimit bytes of output.
ChildAnswer RunChild(const char *const argv[], std::size_t outputLimit, long deadlineMs);
// The first line of a child's words, without a CR or spaces at its end.
std::string FirstLine(std::string_view text);

// ---- ssh_patterns.cpp: sshd's patterns --------------------------------------------

// text against one pattern: '*' any run of characters, '?' one.
bool MatchPattern(std::string_view text, std::string_view pattern);
// text against a comma list of patterns, each may be negated with '!':
// 1 a match, -1 a negated match (which wins), 0 none.  lower: compare
// without case, as for host names.
int MatchPatternList(std::string_view text, std::string_view list, bool lower);
// address against a comma list of networks ("10.0.0.0/8", "::1") or
// patterns, each may be negated with '!': 1, -1 (a negated match wins), 0,
// or -2 when an item is a malformed network or empty.
int MatchAddressList(const char *address, std::string_view list);
bool IsNumericAddress(const char *text);
// A comma list of hosts (addresses, networks, patterns, '!') for the client
// at address, as sshd matches it.
bool MatchHosts(const char *address, std::string_view hosts);
// An AllowUsers or DenyUsers entry, USER or USER@HOSTS, for user from
// address.
bool MatchUserEntry(std::string_view user, const char *address, std::string_view entry);

// ---- ssh_keys.cpp: authorized keys -------------------------------------------------

// What decides whether sshd takes a key, besides the file it is in: the
// algorithm lists as "sshd -T" prints them (empty: not printed, so not
// applied), StrictModes, forced-commands-only, and the time for
// expiry-time="...".
struct KeyRules {
    bool strictModes = true;
    bool forcedOnly = false;
    std::string_view accepted;      // PubkeyAcceptedAlgorithms
    std::string_view caAlgorithms;  // CASignatureAlgorithms, for cert-authority lines
    long long now = 0;
};

// The keys counted, and of the lines that name a key but that sshd would
// not use, how many and why the first (static text, or null).
struct KeyTally {
    int usable = 0;
    int unusable = 0;
    const char *why = nullptr;
};

// The keys sshd would use for pw from the AuthorizedKeysFile value files
// (paths between spaces; %h, %u, %U, %% expanded; relative ones under the
// home).  Each file is reached from / one folder at a time, links followed
// by hand and nothing opened but folders (without reading) and regular
// files, with the user's permissions checked on what was opened; a file the
// user could not read counts nothing and is named in ssh->problems, as are
// the files StrictModes refuses.  A key counts when its type is accepted,
// it decodes to a key of the type its line names, and its options
// (from="...", expiry-time="...", command="..." with forcedOnly) admit
// ssh->address now.
KeyTally CountAuthorizedKeys(const struct passwd *pw, std::string_view files, const KeyRules &rules,
                             CredSsh *ssh);

// ---- sssd.cpp: SSSD's own state ------------------------------------------------

// Whether nsswitch.conf's passwd line lists sss.
bool SssdListed();
// Fills out->sssd for user from SSSD's own answers, after the PAM run (as
// root; another user is told what cannot be known).  Where the credential
// is SSSD's (or the user has no entry), an offline domain without a cached
// credential, or sssd not running, marks the record offline; a login that
// pam_sss let in while offline gets CRED_ANOTE_SSSD_OFFLINE.
void CheckSssd(const char *user, CredAccount *out);
// Keep SSSD's answers per domain (asked once) until called with false.
void KeepSssdAnswers(bool keep);

// ---- policy.cpp, policy_host.cpp: policies -------------------------------------

// Adds a rule (as written in a policy file) with where it comes from
// ("FILE:LINE"); "" when added, else what is wrong with it.
std::string AddPolicyRule(CredPolicy *policy, std::string_view rule, std::string_view value,
                          std::string_view from);
void AddPolicyNote(CredPolicy *policy, std::string_view note);
// yescrypt and gost-yescrypt, whose cost is a factor of N and r.
bool Yescrypt(std::string_view method);
// The host's own policy from its files (a rule the host does not set is
// absent).
void ReadHostPolicy(CredPolicy *policy, const char *pamd = "/etc/pam.d",
                    const char *loginDefs = "/etc/login.defs",
                    const char *useradd = "/etc/default/useradd");

}  // namespace credaccount

#endif  // ACCOUNT_INTERNAL_H
