// pam_decide.cpp - which module's answer refused a login.  Linux-PAM has
// no call for it; the traced run gives each module's answer in order, and
// the stack is evaluated over them as Linux-PAM evaluates it: required,
// requisite, sufficient and optional, the actions ok, done, bad, die,
// ignore and reset, jumps (already taken in the trace), and substacks,
// whose done and die end only the substack and whose reset goes back to
// the state at its start.
#include <security/pam_appl.h>

#include <string_view>
#include <vector>

#include "account/internal.h"

namespace credaccount {
namespace {

enum Impression { kUndecided, kPositive, kNegative };

struct State {
    Impression impression = kUndecided;
    int status = PAM_PERM_DENIED;  // what Linux-PAM answers when nothing decided
    int line = -1, value = -1;     // the answer that set the status
};

// What a module means for the verdict.  The modules of the second group
// refuse or allow without checking any credential, and have no kind of
// their own.
struct ModuleRole {
    std::string_view module;
    CredPamDeciderKind kind;
};
constexpr ModuleRole kRoles[] = {
    {"pam_faillock.so", CRED_PAM_DECIDER_FAILLOCK}, {"pam_nologin.so", CRED_PAM_DECIDER_NOLOGIN},
    {"pam_access.so", CRED_PAM_DECIDER_ACCESS},     {"pam_time.so", CRED_PAM_DECIDER_ACCESS},
    {"pam_listfile.so", CRED_PAM_DECIDER_ACCESS},   {"pam_succeed_if.so", CRED_PAM_DECIDER_ACCESS},
    {"pam_env.so", CRED_PAM_DECIDER_OTHER},         {"pam_shells.so", CRED_PAM_DECIDER_OTHER},
    {"pam_securetty.so", CRED_PAM_DECIDER_OTHER},   {"pam_warn.so", CRED_PAM_DECIDER_OTHER},
    {"pam_echo.so", CRED_PAM_DECIDER_OTHER},        {"pam_faildelay.so", CRED_PAM_DECIDER_OTHER},
    {"pam_localuser.so", CRED_PAM_DECIDER_OTHER},   {"pam_usertype.so", CRED_PAM_DECIDER_OTHER},
    {"pam_group.so", CRED_PAM_DECIDER_OTHER},       {"pam_lastlog.so", CRED_PAM_DECIDER_OTHER},
    {"pam_limits.so", CRED_PAM_DECIDER_OTHER},      {"pam_motd.so", CRED_PAM_DECIDER_OTHER},
};

const ModuleRole *Role(std::string_view module) {
    for (const ModuleRole &role : kRoles)
        if (role.module == module) return &role;
    return nullptr;
}

// Whether skip lines after line i leave its (sub)stack: Linux-PAM then
// fails the stack ("bad jump").
bool JumpsOut(const PamStack &stack, std::size_t i, int skip) {
    const PamStackLine &from = stack.lines[i];
    int left = 0;
    for (std::size_t k = i + 1; k < stack.lines.size(); ++k) {
        const PamStackLine &l = stack.lines[k];
        if (l.type != from.type || l.level < from.level) break;
        left += l.level == from.level;
    }
    return skip > left;
}

bool Failure(int value) {
    return value != PAM_SUCCESS && value != PAM_IGNORE && value != PAM_USER_UNKNOWN;
}

}  // namespace

PamDecision EvaluateTrace(const PamStack &stack, const std::vector<PamTraceEvent> &trace) {
    std::vector<State> saved(1);  // the state as each substack level began
    State s;
    for (const PamTraceEvent &e : trace) {
        const PamStackLine &l = stack.lines[static_cast<std::size_t>(e.line)];
        std::size_t level = static_cast<std::size_t>(l.level);
        if (e.value == kTraceEnter) {
            if (saved.size() < level + 2) saved.resize(level + 2);
            saved[level + 1] = s;
            continue;
        }
        bool known = e.value != kTraceInvalid;
        int value = known ? e.value : PAM_PERM_DENIED;
        int action = known ? l.actions[value] : kActionBad;
        if (action == kActionReset && level < saved.size()) {
            s = saved[level];
        } else if (action == kActionOk || action == kActionDone) {
            // An ignored answer sets nothing, even where the control says ok.
            if (value != PAM_IGNORE && (s.impression == kUndecided ||
                                        (s.impression == kPositive && s.status == PAM_SUCCESS)))
                s = {kPositive, value, e.line, value};
        } else if (action == kActionBad || action == kActionDie) {
            if (s.impression != kNegative)
                s = {kNegative,
                     value == PAM_SUCCESS || value == PAM_IGNORE ? PAM_PERM_DENIED : value, e.line,
                     value};
        } else if (action > 0 && JumpsOut(stack, static_cast<std::size_t>(e.line), action)) {
            s = {kNegative, PAM_PERM_DENIED, e.line, value};
        }
    }
    if (s.status == PAM_SUCCESS && s.impression != kPositive) s.status = PAM_PERM_DENIED;
    PamDecision d;
    d.status = s.status;
    if (s.impression != kUndecided) d.line = s.line, d.value = s.value;
    return d;
}

int NameDecider(const PamStack &stack, const std::vector<PamTraceEvent> &trace,
                const PamDecision &decision, int *value, std::string_view prefer) {
    // Nothing decided, pam_deny did after a jump stack fell through to it,
    // or a module that answered "ignore" ended the stack under bad or die
    // (pam_faillock's authfail after a wrong password): the last module
    // before that failed for the user.
    bool deny =
        decision.line >= 0 &&
        (decision.value == PAM_IGNORE ||
         BaseName(stack.lines[static_cast<std::size_t>(decision.line)].module) == "pam_deny.so");
    *value = decision.value;
    if (decision.line >= 0 && !deny) return decision.line;
    // When none failed so, the last that did not succeed (as "user unknown").
    int named = decision.line, fallback = -1, fallbackValue = -1, preferred = -1,
        preferredValue = -1;
    for (const PamTraceEvent &e : trace) {
        if (e.line == decision.line) break;
        int v = e.value == kTraceInvalid ? PAM_PERM_DENIED : e.value;
        if (e.value == kTraceEnter || v == PAM_SUCCESS) continue;
        fallback = e.line;
        fallbackValue = v;
        std::string_view module = BaseName(stack.lines[static_cast<std::size_t>(e.line)].module);
        if (Failure(v) && module != "pam_deny.so") {
            named = e.line;
            *value = v;
        }
        if (Failure(v) && !prefer.empty() && module == prefer && preferred < 0)
            preferred = e.line, preferredValue = v;
    }
    if (preferred >= 0) named = preferred, *value = preferredValue;
    if (named < 0) named = fallback, *value = fallbackValue;
    return named;
}

bool PamSaysExpired(int status) {
    return status == PAM_ACCT_EXPIRED || status == PAM_NEW_AUTHTOK_REQD ||
           status == PAM_AUTHTOK_EXPIRED;
}

CredPamDeciderKind DeciderKind(std::string_view module, std::string_view type, int value,
                               std::string_view credentialModule) {
    const ModuleRole *role = Role(module);
    if (role != nullptr) return role->kind;
    if (type == "account" && PamSaysExpired(value)) return CRED_PAM_DECIDER_EXPIRED;
    // The module that holds the credential: a wrong password in the
    // authentication, the directory's access control in the account step.
    if (module == credentialModule && type == "auth" && value == PAM_AUTH_ERR)
        return CRED_PAM_DECIDER_CREDENTIAL;
    if (module == credentialModule && type == "account" && value == PAM_PERM_DENIED)
        return CRED_PAM_DECIDER_ACCESS;
    return CRED_PAM_DECIDER_OTHER;
}

bool PermitOnly(const PamStack &stack, const std::vector<PamTraceEvent> &trace) {
    bool permit = false;
    for (const PamTraceEvent &e : trace) {
        if (e.value != PAM_SUCCESS) continue;
        std::string_view module = BaseName(stack.lines[static_cast<std::size_t>(e.line)].module);
        if (module == "pam_permit.so" || module == "pam_rootok.so")
            permit = true;
        else if (Role(module) == nullptr)
            return false;
    }
    return permit;
}

}  // namespace credaccount
