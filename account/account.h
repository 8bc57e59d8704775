/*
 * account.h - why can (or can't) a user log in?  The account layer of the
 * Cred library looks a user up, reads the hash where this process may,
 * decides the account's state as the host's PAM unix module does, decodes
 * the hash, optionally checks a password and runs a PAM service, and
 * returns all of it as one plain record with a verdict.
 *
 * Every record is owned by the caller and holds no pointer into memory the
 * caller must free: the text fields are copies inside the record, and the
 * const char * fields point at static text that lives as long as the
 * program.  The record never holds the hash nor the password.  Nothing
 * here writes to CredDebugStream.  Not reentrant (the host's name service
 * and PAM are not either).
 *
 * Naming the source.  The entries themselves come from the C library's
 * lookups (getpwnam_r, getspnam_r), which answer exactly as a login does.
 * To name the source that answered, the layer reads the database's line of
 * /etc/nsswitch.conf and asks each listed module in order, through its own
 * lookup function (_nss_SOURCE_getpwnam_r in libnss_SOURCE.so.2, or in the
 * C library for the built-in "files"), honouring "[STATUS=return]"
 * actions; the first module that answers with the user is the source.
 * When the C library found the user but no module walk does (a caching
 * daemon, a module that cannot be loaded), the source is "unknown".
 */
#ifndef ACCOUNT_ACCOUNT_H
#define ACCOUNT_ACCOUNT_H

#include "credcheck/export.h"

CREDCHECK_BEGIN_DECLS

/* ---- Verdicts: the first that applies wins, in this order: no-such-user,
 * offline, unreadable, locked, empty-password, invalid-hash, expired, locked-out,
 * no-login, access-denied, ssh-denied, wrong-password, no-shell,
 * pam-denied, unchecked, ok.  The value is the exit status that credcheck -a ends
 * with; values are stable names, not the order. */
typedef enum CredVerdict {
    CRED_VERDICT_OK = 0,             /* the account can log in */
    CRED_VERDICT_NO_SUCH_USER = 3,   /* no source has the user */
    CRED_VERDICT_UNREADABLE = 4,     /* this process cannot read a local hash */
    CRED_VERDICT_LOCKED = 5,         /* locked, disabled or never set (a local entry) */
    CRED_VERDICT_EMPTY_PASSWORD = 6, /* the hash field is empty */
    CRED_VERDICT_INVALID_HASH = 7,   /* malformed, or unsupported by crypt */
    CRED_VERDICT_EXPIRED = 8,        /* account or password aged out, or PAM says so */
    CRED_VERDICT_WRONG_PASSWORD = 9, /* the given password does not authenticate */
    CRED_VERDICT_PAM_DENIED = 10,    /* PAM refused for another reason */
    CRED_VERDICT_LOCKED_OUT = 11,    /* pam_faillock's tally locks the user */
    CRED_VERDICT_NO_LOGIN = 12,      /* /etc/nologin or /run/nologin, not root */
    CRED_VERDICT_ACCESS_DENIED = 13, /* an access rule refused in the PAM run */
    CRED_VERDICT_NO_SHELL = 14,      /* the login shell refuses sessions */
    CRED_VERDICT_SSH_DENIED = 15,    /* sshd's own rules refuse the user */
    CRED_VERDICT_UNCHECKED = 16,     /* a check asked for or needed could not be made */
    CRED_VERDICT_OFFLINE = 17        /* the credential's holder cannot be reached, and nothing
                                        cached lets the user in */
} CredVerdict;

#define CRED_VERDICT_MAX 17 /* the largest verdict value */

/* The verdict's name ("ok", "no-such-user", ..., "pam-denied"); static. */
const char *CredVerdictName(CredVerdict verdict) CRED_NOEXCEPT;

/* ---- Hashes ------------------------------------------------------------ */

/* Strength by the host's policy (libcrypt's crypt_checksalt). */
typedef enum CredHashStrength {
    CRED_STRENGTH_OK = 0,
    CRED_STRENGTH_LEGACY = 1,
    CRED_STRENGTH_DISABLED = 2,
    CRED_STRENGTH_INVALID = 3
} CredHashStrength;

/* "ok", "legacy", "disabled" or "invalid"; static. */
const char *CredStrengthName(CredHashStrength strength) CRED_NOEXCEPT;

typedef struct CredHashParam {
    const char *name; /* "rounds", "cost", "N", "r", "p", "count"; static */
    unsigned long long value;
} CredHashParam;

#define CRED_HASH_MAX_PARAMS 3

typedef struct CredHashInfo {
    const char *method;  /* libxcrypt's name ("sha512crypt", ...) or "unknown" */
    int valid;           /* 1 when the whole text has the method's syntax */
    const char *problem; /* when not valid: what is wrong, else null */
    int nparams;
    CredHashParam params[CRED_HASH_MAX_PARAMS];
    int supported; /* 1 when the host's crypt computes with this hash */
    CredHashStrength strength;
    int costly; /* 1: its cost is far beyond the method's usual range (a check would take
                   longer than a login allows) */
} CredHashInfo;

/* Decode hash (a NUL-terminated text, never null) into *info: method,
 * parameters, full syntax, the host's support and strength.  Support is a
 * matter of the method and its parameters, never of the salt or digest: it
 * is decided from crypt_checksalt without computing a hash, except for a
 * method that call cannot tell apart (bigcrypt, which a crypt without it
 * answers as DES); such a method is tried once per process with a cheap
 * setting. */
void CredInspectHash(const char *hash, CredHashInfo *info) CRED_NOEXCEPT;

/* ---- The account record -------------------------------------------------- */

/* What a policy (CredJudgePolicy) found wanting in one record: the rule,
 * what the account has, what the rule wants, and where the rule comes from
 * ("/etc/login.defs:131"); printable texts. */
#define CRED_POLICY_TEXT_SIZE 128
#define CRED_POLICY_FROM_SIZE 256
#define CRED_POLICY_MAX_GAPS 8

typedef struct CredPolicyGap {
    char rule[32]; /* "methods", "sha512crypt.rounds.min", "max_days.max", ... */
    char have[CRED_POLICY_TEXT_SIZE];
    char want[CRED_POLICY_TEXT_SIZE];
    char from[CRED_POLICY_FROM_SIZE];
} CredPolicyGap;

typedef struct CredPolicyJudgement {
    int judged;                       /* 0: no policy was applied */
    char name[CRED_POLICY_FROM_SIZE]; /* the policy's name ("host", "cis", or a path) */
    int meets;                        /* 1, 0, or -1 when there is no hash to judge */
    int ngaps;                        /* only the first ngaps are set */
    CredPolicyGap gaps[CRED_POLICY_MAX_GAPS];
} CredPolicyJudgement;

/* Notes on a checked password: bits of CredAccount.notes. */
#define CRED_NOTE_DES_FIRST_8 1u    /* DES used only the first 8 characters */
#define CRED_NOTE_MATCHES_LOCKED 2u /* matches the hash under a lock */
#define CRED_NOTE_TOO_LONG 4u       /* longer than the host's crypt takes */
/* The note's sentence; static; null for an unknown bit. */
const char *CredNoteText(unsigned note) CRED_NOEXCEPT;

#define CRED_NAME_SIZE 256
#define CRED_SOURCE_SIZE 32
#define CRED_PAM_TEXT_SIZE 128
#define CRED_MESSAGE_SIZE 256 /* a message kept from PAM or a file, printable */
#define CRED_MODULE_SIZE 64

typedef struct CredPamStep {
    int status;                    /* the PAM return code */
    char text[CRED_PAM_TEXT_SIZE]; /* pam_strerror's text for it */
} CredPamStep;

/* ---- Gates: what stops a login whatever the password ----------------- */

typedef struct CredNologinGate {
    int exists;                      /* the file exists (for root it is only a note) */
    char file[32];                   /* "/run/nologin" or "/etc/nologin" */
    char message[CRED_MESSAGE_SIZE]; /* its first line: printable, at most 200 characters */
} CredNologinGate;

typedef struct CredFaillockGate {
    int readable;                  /* 0: this process may not read the tally (nothing is guessed) */
    int tally;                     /* a tally file exists for the user */
    char dir[128];                 /* the tally folder */
    unsigned failures;             /* failures that count: within fail_interval of the latest */
    unsigned deny;                 /* failures that lock; 0: never locks */
    long failInterval, unlockTime; /* seconds; unlockTime 0: the lock never ends */
    int evenDenyRoot;
    int fromStack;         /* the service's pam_faillock arguments changed a setting */
    int locked;            /* the tally locks the user now */
    long long lastFailure; /* seconds since 1970, -1 when none */
    long long unlockAt;    /* when the lock ends; -1: never, or not locked */
} CredFaillockGate;

typedef struct CredShellGate {
    char path[CRED_NAME_SIZE]; /* the shell a session would start (/bin/sh for an empty field) */
    int usable;
    const char
        *problem; /* static: why not ("refuses sessions", "missing", "not executable"), or null */
} CredShellGate;

/* Notes on the account that do not change the verdict: bits of
 * CredAccount.accountNotes; the sentence of each: CredAccountNoteText. */
#define CRED_ANOTE_HOME_MISSING 1u      /* the home folder is missing (the session starts in /) */
#define CRED_ANOTE_HOME_NOT_FOLDER 2u   /* the home is not a folder */
#define CRED_ANOTE_NO_GROUP 4u          /* the primary group has no entry */
#define CRED_ANOTE_PASSWORD_EXPIRES 8u  /* within the warning period: passwordExpiresIn */
#define CRED_ANOTE_ACCOUNT_EXPIRES 16u  /* within the warning period: accountExpiresIn */
#define CRED_ANOTE_SHELL_NOT_LISTED 32u /* the shell is not in /etc/shells */
#define CRED_ANOTE_SHADOW_NOT_RULED_OUT                                                   \
    64u                                 /* a directory's credential, but this process may \
                                           not read a local shadow entry */
#define CRED_ANOTE_PAM_OTHER 128u       /* the service has no file; "other" answered */
#define CRED_ANOTE_PAM_PERMIT_ONLY 256u /* success came only from pam_rootok or pam_permit */
#define CRED_ANOTE_PAM_UNIX_NOT_ROOT                                                          \
    512u                                     /* pam_unix cannot check another user's password \
                                                unless run as root */
#define CRED_ANOTE_FAILLOCK_UNREADABLE 1024u /* the tally could not be read */
#define CRED_ANOTE_NOLOGIN_ROOT 2048u        /* a nologin file exists; root may still log in */
#define CRED_ANOTE_PAM_ASSUMED                              \
    4096u /* lines of the stack were not run (pam.skipped): \
             the verdict assumes that they succeed */
#define CRED_ANOTE_FAILURE_COUNTS                      \
    8192u /* a wrong password counts as a failed login \
             where the credential is held */
#define CRED_ANOTE_LOCAL_PLACEHOLDER                       \
    16384u /* the local entry is locked, disabled or holds \
              another password: another module holds the   \
              credential (holder) */
#define CRED_ANOTE_STALE_HASH_MATCHES                      \
    32768u /* the local hash matches too: a second way in, \
              beside the holder */
#define CRED_ANOTE_SSSD_OFFLINE                          \
    65536u /* SSSD is offline: its cached credential let \
              the user in */
#define CRED_ANOTE_LAST CRED_ANOTE_SSSD_OFFLINE
/* The note's sentence; static; null for an unknown bit. */
const char *CredAccountNoteText(unsigned note) CRED_NOEXCEPT;

/* ---- The PAM run ------------------------------------------------------------ */

#define CRED_PAM_MAX_MESSAGES 16
#define CRED_PAM_MAX_LINES 48
#define CRED_PAM_MAX_SKIPPED 8

/* What a module said through the conversation.  style: PAM_ERROR_MSG,
 * PAM_TEXT_INFO, PAM_PROMPT_ECHO_ON for an echoed prompt (it got an empty
 * answer; its text is kept), or PAM_PROMPT_ECHO_OFF for a hidden prompt
 * after the first, which asks for a new password or the old one again: it
 * got PAM_CONV_ERR, since only the first hidden prompt gets the password. */
typedef struct CredPamMessage {
    int style;
    char text[CRED_MESSAGE_SIZE];
} CredPamMessage;

/* One auth or account line of the service's stack, as Linux-PAM reads it. */
typedef struct CredPamLine {
    char type[16];                 /* "auth" or "account"; "-auth" for a line that may be missing */
    char control[64];              /* "required", ..., or "[success=1 default=ignore]" */
    char module[CRED_MODULE_SIZE]; /* as written ("pam_unix.so" or a path) */
    char args[192];
    int depth; /* 0 in the service's own file; 1 and more through include and substack */
} CredPamLine;

/* Which module's answer refused the login. */
typedef enum CredPamDeciderKind {
    CRED_PAM_DECIDER_NONE = 0,
    CRED_PAM_DECIDER_FAILLOCK,   /* pam_faillock */
    CRED_PAM_DECIDER_NOLOGIN,    /* pam_nologin */
    CRED_PAM_DECIDER_ACCESS,     /* pam_access, pam_time, pam_listfile, pam_succeed_if, or the
                                    directory's access control */
    CRED_PAM_DECIDER_EXPIRED,    /* an account step that answers expired */
    CRED_PAM_DECIDER_CREDENTIAL, /* the module that holds the credential */
    CRED_PAM_DECIDER_OTHER
} CredPamDeciderKind;

typedef struct CredPamDecider {
    CredPamDeciderKind kind;
    char module[CRED_MODULE_SIZE]; /* e.g. "pam_nologin.so" */
    char type[16];
    char control[64];
    int status;                    /* the module's return code */
    const char *statusName;        /* static: its name in a control ("auth_err", ...) */
    char text[CRED_PAM_TEXT_SIZE]; /* pam_strerror's text for it */
} CredPamDecider;

/* ---- sshd's own rules (with the ssh option) -------------------------------- */

#define CRED_SSH_MAX_PROBLEMS 8

typedef struct CredSshProblem {
    char path[CRED_NAME_SIZE];
    const char *problem; /* static, e.g. "writable by group or others" */
} CredSshProblem;

typedef struct CredSsh {
    int checked;                    /* the report asked sshd */
    char address[64];               /* the client address the settings are for */
    const char *unavailable;        /* static: why sshd's settings are unknown, or null */
    char detail[CRED_MESSAGE_SIZE]; /* with unavailable: sshd's own first line, printable, or "" */
    int allowed;                    /* 0: a rule refuses the user */
    char rule[CRED_MESSAGE_SIZE];   /* the directive and pattern that refused ("DenyUsers bob") */
    int password;                   /* password logins are possible from the address */
    const char *passwordOff;        /* static: the setting that turns them off, or null */
    int keys; /* authorized keys that sshd would use; -1: unknown, the files hold none but
                 sshd may also take keys from AuthorizedKeysCommand or a TrustedUserCAKeys
                 certificate */
    const char *keysOff; /* static: the setting that turns keys off, or null */
    int nproblems;
    CredSshProblem problems[CRED_SSH_MAX_PROBLEMS]; /* paths StrictModes refuses */
    char reason[CRED_MESSAGE_SIZE];                 /* when sshd refuses: why, in words */
} CredSsh;

/* ---- Kerberos: the KDC's own answer ------------------------------------- */

typedef struct CredKerberos {
    int asked;        /* the KDC was asked (the credential is a Kerberos one) */
    int withPassword; /* the request carried the password (not only a probe) */
    char principal[CRED_NAME_SIZE];
    char realm[128];
    char kdc[64];                   /* the address that answered, "" when none did */
    char answer[48];                /* "ok", or the KDC's or the library's error name */
    char text[CRED_MESSAGE_SIZE];   /* the answer in words, printable */
    long long passwordExpires;      /* seconds since 1970 when the KDC gives it, else -1 */
    CredVerdict verdict;            /* what the answer decides; CRED_VERDICT_OK: nothing */
    char keytab[CRED_MESSAGE_SIZE]; /* a host keytab the module needs and cannot use, or "" */
} CredKerberos;

/* ---- SSSD's own state --------------------------------------------------- */

typedef struct CredSssd {
    int involved; /* the user's entry or credential is SSSD's (or may be) */
    int running;  /* sssd answers */
    char domain[128];
    int online; /* 1, 0, or -1 when it cannot tell */
    char server[CRED_NAME_SIZE];
    int cacheAllowed;                /* the domain's cache_credentials: 1, 0, or -1 unknown */
    int cachedCredentials;           /* allowed, and the user has one: 1, 0, or -1 unknown */
    long long lastOnlineLogin;       /* seconds since 1970; -1 unknown or never */
    char unknown[CRED_MESSAGE_SIZE]; /* what could not be told, and why, or "" */
} CredSssd;

typedef struct CredAccount {
    /* Entry */
    char user[CRED_NAME_SIZE]; /* the name asked for, cut to fit */
    const char *badName;       /* why the name cannot be a user's, or null */
    int exists;
    char passwdSource[CRED_SOURCE_SIZE]; /* "" when no source answered */
    char shadowSource[CRED_SOURCE_SIZE];

    /* Readability */
    int readable;
    const char *from;       /* "passwd", "shadow", "directory", or null */
    const char *unreadable; /* "permission", "no-shadow-entry", or null */
    int shadowLineBroken;   /* the files source has a line it cannot parse */

    /* State, decided as pam_unix decides it (aging only from a shadow entry) */
    int locked;   /* "!" before a hash; hash then describes the one under it */
    int disabled; /* "*", "!", "!!", "*LK*" and the like */
    int empty;
    int expired;         /* account expiry day reached */
    int passwordExpired; /* maximum age passed */
    int mustChange;      /* last change 0 */
    int inactive;        /* the inactive period after expiry is over too */
    long today, lastChange, maxDays, inactiveDays, expireDay; /* -1: unset */
    char shell[CRED_NAME_SIZE];
    int shellMissing;
    int shellListed; /* listed in /etc/shells */

    /* Hash (valid when readable and a hash is present) */
    int hasHash;
    CredHashInfo hash;

    /* Password */
    int passwordChecked;
    int authenticates;
    unsigned notes;

    /* PAM */
    int pamRun;
    char pamService[CRED_NAME_SIZE];
    CredPamStep pamAuthenticate; /* pam_authenticate */
    CredPamStep pamAccount;      /* pam_acct_mgmt */

    CredVerdict verdict;

    /* ---- The login path ---- */
    /* A directory's credential: the entry comes from a source other than
     * files or compat, its password field is a placeholder, and no shadow
     * entry was found; from is then "directory" and a password is checked
     * through PAM. */
    int directory;
    char checkedBy[CRED_MODULE_SIZE];         /* "hash", the PAM module that holds the credential
                                                 ("pam_sss.so"), or "" when not checked */
    long warnDays;                            /* the shadow entry's warning period, -1: unset */
    long passwordExpiresIn, accountExpiresIn; /* days, with the notes of that name */
    unsigned accountNotes;                    /* CRED_ANOTE_ bits */

    CredNologinGate nologin;
    CredFaillockGate faillock;
    CredShellGate shellGate;

    /* PAM, when pamRun: a step not run has status -1 and why in its text */
    int pamAuthenticateRun, pamAccountRun;
    CredPamDecider decidedBy;

    CredSsh ssh;

    /* When the verdict is unchecked: which check could not be made, and why
     * (printable); "" when every check asked for or needed was made. */
    char unchecked[CRED_MESSAGE_SIZE];
    int nskipped; /* lines of the stack the PAM run did not run (skipped) */

    long minDays; /* the shadow entry's minimum age, -1: unset */

    /* Another module of the service's auth stack that can authenticate the
     * user (pam_krb5.so, pam_sss.so, ...): a local placeholder or a hash
     * that does not match is then only a note, and PAM decides.  "" when
     * the local entry decides. */
    char holder[CRED_MODULE_SIZE];
    /* When the verdict is offline: what cannot be reached, printable. */
    char offline[CRED_MESSAGE_SIZE];
    CredKerberos kerberos;
    CredSssd sssd;

    CredPolicyJudgement policy; /* set by CredJudgePolicy */

    /* What PAM said, and the auth and account lines of the service (includes
     * followed).  Only the first nmessages and nstack entries are set. */
    int nmessages, nstack;
    CredPamMessage messages[CRED_PAM_MAX_MESSAGES];
    CredPamLine stack[CRED_PAM_MAX_LINES];
    /* The lines the PAM run did not run, as it acts outside the process
     * (pam_exec, pam_mount, ...): the stack was evaluated as if each had
     * succeeded.  Only the first nskipped are set. */
    CredPamLine skipped[CRED_PAM_MAX_SKIPPED];
} CredAccount;

/* ---- Analysis ------------------------------------------------------------ */

/* Look user up and analyse the account into *out.  password: null for no
 * check, else the whole NUL-terminated password (any length).  pamService:
 * null, or the PAM service to run with the password (the empty password
 * when none is given).  A directory's credential with a password is
 * checked through PAM even without a service: "login".  Returns the
 * verdict (also in out->verdict).  A null user or out: returns
 * CRED_VERDICT_NO_SUCH_USER with errno EINVAL (out, when not null, names
 * no user and gives that verdict). */
CredVerdict CredAnalyzeAccount(const char *user, const char *password, const char *pamService,
                               CredAccount *out) CRED_NOEXCEPT;

/* What else the report asks; zero-initialise, then set what is wanted. */
typedef struct CredLoginOptions {
    const char *pamService; /* as for CredAnalyzeAccount; with ssh and a password, null
                               means "sshd" */
    int ssh;                /* 1: sshd's own rules for the user from sshAddress */
    const char *sshAddress; /* null: "127.0.0.1" */
    int costly;             /* 1: check a password even against a hash whose cost is far
                               beyond its method's usual range (otherwise: unchecked) */
} CredLoginOptions;

/* CredAnalyzeAccount with options (may be null); a null user or out
 * fails the same way. */
CredVerdict CredAnalyzeLogin(const char *user, const char *password,
                             const CredLoginOptions *options, CredAccount *out) CRED_NOEXCEPT;

struct passwd;
struct spwd;

/* The same for an entry already looked up (a walk over every user):
 * pw must not be null; sp is its shadow entry or null, with shadowErrno
 * the errno of that lookup (EACCES/EPERM: permission).  The sources may be
 * null.  today: days since 1970-01-01, or -1 for now.  A null pw, pw_name
 * or out fails as CredAnalyzeAccount does for a null user. */
CredVerdict CredAnalyzeEntry(const struct passwd *pw, const char *passwdSource,
                             const struct spwd *sp, const char *shadowSource, int shadowErrno,
                             const char *password, const char *pamService, long today,
                             CredAccount *out) CRED_NOEXCEPT;

/* ---- Whole-host audit ----------------------------------------------------- */

/* Findings of the audit on one account: bits.  The exit status of
 * credcheck -a --all is 1 when any account has one. */
#define CRED_FINDING_WEAK_HASH 1u   /* legacy or disabled by the host's policy */
#define CRED_FINDING_LOCKED_WEAK 2u /* locked, with such a hash under the lock */
#define CRED_FINDING_EMPTY 4u       /* the password field is empty */
#define CRED_FINDING_UNREADABLE 8u  /* this process cannot read the hash */
#define CRED_FINDING_OFF_POLICY 16u /* the policy of the audit finds a gap */
#define CRED_FINDING_OFFLINE 32u    /* the credential's holder cannot be reached */
#define CRED_FINDING_COUNT 6
/* A short name of one finding bit ("weak-hash", "locked-weak-hash",
 * "empty-password", "unreadable", "off-policy", "offline"); static; null for an
 * unknown bit. */
const char *CredFindingName(unsigned finding) CRED_NOEXCEPT;

#define CRED_AUDIT_MAX_METHODS 32

typedef struct CredAuditSummary {
    unsigned long users;
    unsigned long verdicts[CRED_VERDICT_MAX + 1]; /* by verdict value */
    int nmethods; /* methods of the readable hashes, in order of first use */
    struct {
        const char *method; /* static */
        unsigned long count;
    } methods[CRED_AUDIT_MAX_METHODS];
    unsigned long findings[CRED_FINDING_COUNT]; /* users per finding, by bit */
    unsigned long flagged;                      /* users with any finding */
    int incomplete;                             /* 1 when the walk ended early (no memory) */
    CredNologinGate nologin;                    /* the host's nologin file, named once */
    char notListed[128]; /* sources of the user database that list no users ("sss"; ", "
                            between), whose users the walk cannot show */
} CredAuditSummary;

/* Called once per user; findings: the bits of that account. */
typedef void (*CredAuditVisit)(const CredAccount *account, unsigned findings, void *context);

/* Walk every user of the user database once (setpwent, getpwent), each
 * name once, as a lookup of that name finds it (a name no lookup finds,
 * such as the "+" and "-" lines of the compat syntax or the empty name, is
 * no user), and analyse its account without a password or PAM, as
 * CredAnalyzeAccount does.  The shadow entries, the primary groups and the
 * sources come from one read of each database rather than from a lookup
 * per user.  visit (may be null) sees each record in the
 * order of the walk; *summary is filled.  Returns the number of users with
 * a finding.  The C library does not tell a user database it may not read
 * from an empty one: a walk that finds no user is no proof of a clean host.
 * A null summary: returns (unsigned long)-1 with errno EINVAL, walking
 * nothing. */
unsigned long CredAuditHost(CredAuditVisit visit, void *context,
                            CredAuditSummary *summary) CRED_NOEXCEPT;

/* The audit against a policy.  policy: null for none; with policyCounts 0
 * the finding off-policy is counted and shown, but a user whose only
 * finding it is does not count among the flagged users. */
typedef struct CredPolicy CredPolicy;
typedef struct CredAuditOptions {
    const CredPolicy *policy;
    int policyCounts;
} CredAuditOptions;

/* CredAuditHost with options (may be null); a null summary fails the same way. */
unsigned long CredAuditHostWith(CredAuditVisit visit, void *context,
                                const CredAuditOptions *options,
                                CredAuditSummary *summary) CRED_NOEXCEPT;

/* ---- Policy: each hash and account against a list of rules ---------------- */

/* A policy, read once: its rules, each with where it comes from, and notes
 * (where the host's own sources disagree).  A plain record, owned by the
 * caller. */
#define CRED_POLICY_MAX_RULES 16
#define CRED_POLICY_MAX_NOTES 4

typedef struct CredPolicyRule {
    char rule[32];                     /* "methods", "yescrypt.cost.min", "inactive.max", ... */
    char value[CRED_POLICY_TEXT_SIZE]; /* as written: "yescrypt sha512crypt", "100000" */
    char from[CRED_POLICY_FROM_SIZE];  /* "FILE:LINE" */
    char want[CRED_POLICY_TEXT_SIZE];  /* what a gap says the rule wants */
    unsigned long long limit; /* the number; for a cost, as its method counts it (rounds, the
                                 bcrypt cost, yescrypt's N times r) */
} CredPolicyRule;

struct CredPolicy {
    char name[CRED_POLICY_FROM_SIZE]; /* "host", "cis", "stig", or the file's path */
    int host;                         /* 1: the host's own, read from its files */
    int nrules;
    CredPolicyRule rules[CRED_POLICY_MAX_RULES];
    int nnotes;
    char notes[CRED_POLICY_MAX_NOTES][CRED_MESSAGE_SIZE];
};

/* Read a policy into *out.  path null: the host's own (the pam_unix line of
 * the passwd service's password stack, /etc/login.defs,
 * /etc/default/useradd), named "host"; else the policy file at path, named
 * name (null: the path).  Returns 0; or -1 with what is wrong in error
 * (size bytes): "FILE: why" for a file that cannot be read, "FILE:LINE:
 * why" for a line that is not a rule.  A null out: -1 with errno EINVAL;
 * an error of size 0 is never written. */
int CredReadPolicy(const char *path, const char *name, CredPolicy *out, char *error,
                   unsigned long size) CRED_NOEXCEPT;

/* Judge the record against policy: fills account->policy (the verdict does
 * not change).  The method and the cost are judged wherever there is a hash
 * (also under a lock); the aging rules only for a usable password.  A null
 * account: nothing is done. */
void CredJudgePolicy(const CredPolicy *policy, CredAccount *account) CRED_NOEXCEPT;

CREDCHECK_END_DECLS

#endif /* ACCOUNT_ACCOUNT_H */
