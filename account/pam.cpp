// pam.cpp - run a PAM service for a user as a login does, from a private
// copy of its stack: pam_authenticate, then pam_acct_mgmt only after it
// succeeded.  The conversation gives the password to hidden prompts only
// and keeps what the modules say; the copy's markers give each module's
// answer, from which the module that refused is named.
#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "account/internal.h"

namespace credaccount {
namespace {

struct Conversation {
    const char *password;
    std::string marker;                // the copy's markers start with it; "" when untraced
    const char *step = "auth";         // pam_debug's word for the step running ("auth", "acct")
    std::vector<PamTraceEvent> trace;  // the answers of the step running
    std::string expect;                // what pam_debug says after the marker just seen
    CredAccount *out;
    int lines = 0;          // the stack's lines: markers name no other
    bool answered = false;  // the password went to a hidden prompt: no other gets it
    bool refused = false;   // a later hidden prompt (a new password, asked for) was refused
};

// A module's message as the record keeps it: printable (line breaks and
// tabs as spaces, other control characters as '?') and bounded.
void Keep(int style, const char *text, CredAccount *out) {
    if (out->nmessages == CRED_PAM_MAX_MESSAGES) return;
    CredPamMessage &m = out->messages[out->nmessages++];
    m.style = style;
    std::string_view t = text != nullptr ? text : "";
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.remove_suffix(1);
    std::size_t n = 0;
    for (char c : t.substr(0, sizeof m.text - 1)) {
        auto u = static_cast<unsigned char>(c);
        m.text[n++] = u == '\n' || u == '\t' ? ' ' : u < 0x20 || u == 0x7f ? '?' : c;
    }
    m.text[n] = '\0';
}

// Takes a marker of the copy (or what pam_debug says after one) into the
// trace; false for anything a module said.
bool Traced(Conversation *c, std::string_view text) {
    if (c->marker.empty()) return false;
    std::string expect = std::move(c->expect);
    c->expect.clear();
    if (!expect.empty() && text == expect) return true;
    if (text.substr(0, c->marker.size() + 1) != c->marker + "-") return false;
    text.remove_prefix(c->marker.size() + 1);
    std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return false;
    PamTraceEvent e{std::atoi(std::string(text.substr(0, dash)).c_str()), 0};
    std::string_view what = text.substr(dash + 1);
    if (what == "enter") {
        e.value = kTraceEnter;
    } else if (what == "x") {
        e.value = kTraceInvalid;
    } else {
        e.value = std::atoi(std::string(what).c_str());
        c->expect = std::string(c->step) + "=" + PamValueName(e.value);
    }
    if (e.line >= 0 && e.line < c->lines && e.value < kPamValues) c->trace.push_back(e);
    return true;
}

void FreeReplies(pam_response *replies, int count) {
    for (int i = 0; i < count; ++i) {
        if (replies[i].resp != nullptr) explicit_bzero(replies[i].resp, strlen(replies[i].resp));
        std::free(replies[i].resp);
    }
    std::free(replies);
}

// The password goes to hidden prompts only.  An echoed prompt asks for
// something else (a code, a name): it gets an empty answer and its text is
// kept.  Replies are malloc'ed; PAM frees them.
int Converse(int count, const struct pam_message **messages, struct pam_response **replies,
             void *data) {
    if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
    auto *c = static_cast<Conversation *>(data);
    auto *out = static_cast<pam_response *>(std::calloc(count, sizeof(pam_response)));
    if (out == nullptr) return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        int style = messages[i]->msg_style;
        const char *text = messages[i]->msg != nullptr ? messages[i]->msg : "";
        if (style == PAM_PROMPT_ECHO_OFF && c->answered) {
            // Only the first hidden prompt gets the password: a later one
            // asks for a new password or again for the old, and answering
            // could change the password the report diagnoses.
            Keep(style, text, c->out);
            c->refused = true;
            FreeReplies(out, i);
            return PAM_CONV_ERR;
        }
        if (style == PAM_PROMPT_ECHO_OFF || style == PAM_PROMPT_ECHO_ON) {
            bool hidden = style == PAM_PROMPT_ECHO_OFF && c->password != nullptr;
            c->answered = c->answered || hidden;
            out[i].resp = strdup(hidden ? c->password : "");
            if (out[i].resp == nullptr) {
                FreeReplies(out, i);
                return PAM_BUF_ERR;
            }
        } else if (style != PAM_ERROR_MSG && style != PAM_TEXT_INFO) {
            FreeReplies(out, i);
            return PAM_CONV_ERR;
        }
        if (style != PAM_PROMPT_ECHO_OFF && !(style == PAM_TEXT_INFO && Traced(c, text)))
            Keep(style, text, c->out);
    }
    *replies = out;
    return PAM_SUCCESS;
}

// Failure delays would only slow the report down.
void NoDelay(int, unsigned, void *) {}

void Record(pam_handle_t *handle, int status, CredPamStep *step) {
    step->status = status;
    const char *text = pam_strerror(handle, status);
    CopyText(step->text, sizeof step->text, text != nullptr ? text : "unknown");
}

void NotRun(CredPamStep *step, std::string_view why) {
    step->status = -1;
    CopyText(step->text, sizeof step->text, "not run: " + std::string(why));
}

void KeepLine(const PamStackLine &l, CredPamLine *c) {
    CopyText(c->type, sizeof c->type, (l.optional ? "-" : "") + l.type);
    CopyText(c->control, sizeof c->control, l.control);
    CopyText(c->module, sizeof c->module, l.module);
    CopyText(c->args, sizeof c->args, l.args);
    c->depth = l.depth;
}

void KeepStack(const PamStack &stack, CredAccount *out) {
    for (const PamStackLine &l : stack.lines)
        if ((l.type == "auth" || l.type == "account") && out->nstack < CRED_PAM_MAX_LINES)
            KeepLine(l, &out->stack[out->nstack++]);
}

// Modules of the account step that write no state: run without a
// password, they change nothing.  pam_faillock counts into the private
// copy of the tally, or into none.
constexpr std::string_view kStateless[] = {
    "pam_unix.so",      "pam_permit.so",   "pam_deny.so",       "pam_nologin.so",
    "pam_access.so",    "pam_time.so",     "pam_succeed_if.so", "pam_listfile.so",
    "pam_localuser.so", "pam_shells.so",   "pam_securetty.so",  "pam_debug.so",
    "pam_echo.so",      "pam_warn.so",     "pam_usertype.so",   "pam_rootok.so",
    "pam_wheel.so",     "pam_faillock.so",
};

// Whether each account line of stack is safe to run without a password
// (assumed: the lines pam_permit stands in for).
bool AccountAlone(const PamStack &stack, const std::vector<bool> &assumed) {
    for (std::size_t i = 0; i < stack.lines.size(); ++i) {
        const PamStackLine &l = stack.lines[i];
        if (l.type != "account" || l.substack || l.mustFail || assumed[i]) continue;
        bool known = false;
        for (std::string_view module : kStateless) known = known || BaseName(l.module) == module;
        if (!known) return false;
    }
    return true;
}

// Why a run from a private copy could change what it diagnoses, or "".
std::string Unsafe(const PamRequest &request, const PamStack &stack) {
    if (request.service[0] == '\0') return "no service is named";
    if (std::strchr(request.service, '/') != nullptr)
        return "a service named by a path cannot be run from a private copy";
    if (std::strcmp(request.service, ".") == 0 || std::strcmp(request.service, "..") == 0)
        return "the service name names a folder";
    // Linux-PAM takes a longer name and, finding no file of that name,
    // runs "other": not the service that was asked for.
    if (std::strlen(request.service) > NAME_MAX)
        return "the service name is longer than a file name may be";
    if (std::strchr(request.user, '/') != nullptr) return "the user name has a '/'";
    if (!stack.complete) return stack.cut;
    for (const PamStackLine &l : stack.lines)
        if (BaseName(l.module) == "pam_tally.so" || BaseName(l.module) == "pam_tally2.so")
            return "the stack has " + std::string(BaseName(l.module)) +
                   ", which counts failures where no copy can take them";
    return "";
}

// The folder Linux-PAM loads modules named without a path from: its own
// modules', beside the library; "" when it cannot be told.
std::string ModuleFolder() {
    void *pam = dlopen("libpam.so.0", RTLD_LAZY | RTLD_NOLOAD);
    link_map *map = nullptr;
    bool found = pam != nullptr && dlinfo(pam, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
                 map->l_name != nullptr;
    std::string library = found ? map->l_name : "";
    if (pam != nullptr) dlclose(pam);
    std::size_t slash = library.rfind('/');
    return slash == std::string::npos ? "" : library.substr(0, slash) + "/security";
}

// The folder of the modules that mark the copy, or "" when one of them is
// missing.
std::string Helpers(const std::string &folder) {
    if (folder.empty()) return "";
    for (const char *module : {"pam_echo.so", "pam_debug.so", "pam_permit.so"})
        if (access((folder + "/" + module).c_str(), R_OK) != 0) return "";
    return folder;
}

// Modules that act outside the process: they run programs, mount, start
// services or sessions, or write the login records.
constexpr std::string_view kActsOutside[] = {
    "pam_exec.so",     "pam_script.so",    "pam_mount.so",     "pam_systemd_home.so",
    "pam_systemd.so",  "pam_ecryptfs.so",  "pam_fscrypt.so",   "pam_gnome_keyring.so",
    "pam_kwallet.so",  "pam_kwallet5.so",  "pam_mkhomedir.so", "pam_oddjob_mkhomedir.so",
    "pam_motd.so",     "pam_lastlog.so",   "pam_lastlog2.so",  "pam_tty_audit.so",
    "pam_loginuid.so", "pam_namespace.so", "pam_xauth.so",     "pam_ssh.so",
    "pam_filter.so",   "pam_sepermit.so",  "pam_selinux.so",   "pam_setquota.so",
};

// Whether path is a file or folder that only root may change.
bool RootOnly(const std::string &path, bool folder) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && st.st_uid == 0 && (st.st_mode & 022) == 0 &&
           (folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
}

// Why line must not run, or "": its module acts outside the process, or
// its file (where it exists) could have been changed by another user than
// root.  A module that is missing runs as written: Linux-PAM answers for it.
std::string NotToRun(const PamStackLine &line, const std::string &modules) {
    std::string_view name = BaseName(line.module);
    for (std::string_view module : kActsOutside)
        if (name == module) return "acts outside the process";
    if (modules.empty() && line.module[0] != '/') return "";
    std::string path = line.module[0] == '/' ? line.module : modules + "/" + line.module;
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    if (real == nullptr) return "";
    std::string file = real.get();
    if (!RootOnly(file, false) || !RootOnly(file.substr(0, file.rfind('/') + 1), true))
        return "its file may be changed by a user other than root";
    return "";
}

// Marks the auth and account lines of stack that must not run, and keeps
// them in out->skipped.
void AssumeSkipped(const PamStack &stack, const std::string &modules, std::vector<bool> *assumed,
                   CredAccount *out) {
    assumed->assign(stack.lines.size(), false);
    for (std::size_t i = 0; i < stack.lines.size(); ++i) {
        const PamStackLine &l = stack.lines[i];
        if ((l.type != "auth" && l.type != "account") || l.substack || l.mustFail ||
            NotToRun(l, modules).empty())
            continue;
        (*assumed)[i] = true;
        out->accountNotes |= CRED_ANOTE_PAM_ASSUMED;
        if (out->nskipped < CRED_PAM_MAX_SKIPPED) KeepLine(l, &out->skipped[out->nskipped++]);
    }
}

// A marker no module says by chance.
std::string NewMarker() {
    unsigned char bytes[8];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        unsigned long long seed = static_cast<unsigned long long>(std::time(nullptr)) ^
                                  (static_cast<unsigned long long>(getpid()) << 32);
        for (unsigned char &b : bytes) b = static_cast<unsigned char>(seed >>= 3);
    }
    std::string marker = "credcheck-trace-";
    for (unsigned char b : bytes)
        marker += "0123456789abcdef"[b >> 4], marker += "0123456789abcdef"[b & 15];
    return marker;
}

// Writes the private copy of stack into folder; *marker is "" when the
// copy has no markers.
bool Prepare(const PamRequest &request, const PamStack &stack, const std::vector<bool> &assumed,
             PamPrivateFolder *folder, std::string *marker, std::string *error) {
    PamRenderOptions o;
    if (!folder->Create(error) ||
        !folder->RedirectTallies(stack, request.user, &o.extraArgs, error))
        return false;
    o.folder = folder->Path();
    o.helpers = Helpers(ModuleFolder());
    o.assumed = assumed;
    o.marker = o.helpers.empty() ? "" : NewMarker();
    std::string service = Lower(request.service);
    std::vector<PamFile> files;
    // A line too long for markers: the copy goes without them.
    if (!RenderStack(stack, service.c_str(), o, &files)) {
        o.marker.clear();
        if (!RenderStack(stack, service.c_str(), o, &files)) {
            *error = "a line of the stack is too long to copy";
            return false;
        }
    }
    *marker = o.marker;
    for (const PamFile &file : files)
        if (!folder->Write(file, error)) return false;
    return true;
}

// Records the module whose answer refused a step, when the trace explains
// the step's status.
void RecordDecider(const PamRequest &request, const PamStack &stack,
                   const std::vector<PamTraceEvent> &trace, int status, pam_handle_t *handle,
                   CredAccount *out) {
    PamDecision d = EvaluateTrace(stack, trace);
    int value = -1;
    // A holder's failure, not pam_unix's after it on a placeholder.
    std::string_view holder = request.credentialModule;
    if (holder == "pam_unix.so") holder = {};
    int line =
        trace.empty() || d.status != status ? -1 : NameDecider(stack, trace, d, &value, holder);
    if (line < 0) return;
    const PamStackLine &l = stack.lines[static_cast<std::size_t>(line)];
    CredPamDecider &by = out->decidedBy;
    std::string_view module = BaseName(l.module);
    by.kind = DeciderKind(module, l.type, value, request.credentialModule);
    CopyText(by.module, sizeof by.module, module);
    CopyText(by.type, sizeof by.type, l.type);
    CopyText(by.control, sizeof by.control, l.control);
    by.status = value;
    by.statusName = PamValueName(value);
    const char *text = pam_strerror(handle, value);
    CopyText(by.text, sizeof by.text, text != nullptr ? text : "unknown");
}

// Whether this process is neither root nor the user: pam_unix's helper
// then refuses to check the user's password.
bool OtherUser(const char *user) {
    if (geteuid() == 0) return false;
    struct passwd entry, *pw = nullptr;
    LookupBuffer buffer;
    int err = ERANGE;
    while (err == ERANGE && buffer.Grow())
        err = getpwuid_r(getuid(), &entry, buffer.data.get(), buffer.size, &pw);
    return pw == nullptr || std::strcmp(pw->pw_name, user) != 0;
}

// Whether pam_unix failed in the authentication (untraced: it is there).
bool UnixFailed(const PamStack &stack, const std::vector<PamTraceEvent> &trace, bool traced) {
    auto isUnix = [&stack](int line) {
        return BaseName(stack.lines[static_cast<std::size_t>(line)].module) == "pam_unix.so";
    };
    for (std::size_t i = 0; i < stack.lines.size() && !traced; ++i)
        if (stack.lines[i].type == "auth" && isUnix(static_cast<int>(i))) return true;
    for (const PamTraceEvent &e : trace)
        if (e.value != kTraceEnter && e.value != PAM_SUCCESS && isUnix(e.line)) return true;
    return false;
}

// After a failed authentication: the module that refused, and whether
// that was pam_unix refusing to check another user's password.
void AuthenticationFailed(const PamRequest &request, const PamStack &stack,
                          const std::vector<PamTraceEvent> &trace, bool traced, int status,
                          pam_handle_t *handle, CredAccount *out) {
    RecordDecider(request, stack, trace, status, handle, out);
    if (std::string_view(request.credentialModule) != "pam_unix.so" ||
        !UnixFailed(stack, trace, traced) || !OtherUser(request.user))
        return;
    out->accountNotes |= CRED_ANOTE_PAM_UNIX_NOT_ROOT;
    if (out->decidedBy.kind == CRED_PAM_DECIDER_CREDENTIAL)
        out->decidedBy.kind = CRED_PAM_DECIDER_OTHER;
}

// The account step, with its answer and the module that refused.
void Account(const PamRequest &request, const PamStack &stack, Conversation *c,
             pam_handle_t *handle, CredAccount *out) {
    c->trace.clear();
    c->step = "acct";
    int status = pam_acct_mgmt(handle, 0);
    out->pamAccountRun = 1;
    Record(handle, status, &out->pamAccount);
    if (status != PAM_SUCCESS) RecordDecider(request, stack, c->trace, status, handle, out);
}

void Run(const PamRequest &request, const PamStack &stack, const std::vector<bool> &assumed,
         const PamPrivateFolder &folder, const std::string &marker, CredAccount *out) {
    Conversation c{
        request.password, marker, "auth", {}, {}, out, static_cast<int>(stack.lines.size())};
    pam_conv conversation{Converse, &c};
    pam_handle_t *handle = nullptr;
    std::string confdir = folder.Path() + "/pam.d";
    int status =
        pam_start_confdir(request.service, request.user, &conversation, confdir.c_str(), &handle);
    if (status != PAM_SUCCESS) {
        out->pamAuthenticateRun = 1;
        Record(handle, status, &out->pamAuthenticate);
        if (handle != nullptr) pam_end(handle, status);
        return;
    }
    pam_set_item(handle, PAM_FAIL_DELAY, reinterpret_cast<const void *>(&NoDelay));
    if (request.password == nullptr) {
        // No password: authenticating would check one nobody gave (and a
        // directory would count it as a failed login).  The account step
        // alone runs only where none of its modules writes state.
        NotRun(&out->pamAuthenticate, "no password");
        if (AccountAlone(stack, assumed))
            Account(request, stack, &c, handle, out);
        else
            NotRun(&out->pamAccount, "no password");
        pam_end(handle, out->pamAccountRun ? out->pamAccount.status : PAM_SUCCESS);
        return;
    }
    out->pamAuthenticateRun = 1;
    // A password the directory's module checks: were it wrong, the
    // directory counts a failed login.
    if (std::string_view(request.credentialModule) != "pam_unix.so")
        out->accountNotes |= CRED_ANOTE_FAILURE_COUNTS;
    // Safe: the stack is the private copy, in which each pam_faillock line
    // counts into a private copy of the user's tally, or into one this
    // process can neither read nor write; no other module an auth stack
    // may hold keeps a count.
    status = pam_authenticate(handle, 0);
    Record(handle, status, &out->pamAuthenticate);
    std::vector<PamTraceEvent> auth = std::move(c.trace);
    if (status != PAM_SUCCESS) {
        AuthenticationFailed(request, stack, auth, !marker.empty(), status, handle, out);
        // A module that wanted a new password refused for want of one.
        if (c.refused) out->decidedBy.kind = CRED_PAM_DECIDER_EXPIRED;
    } else {
        if (PermitOnly(stack, auth)) out->accountNotes |= CRED_ANOTE_PAM_PERMIT_ONLY;
        // Only after a successful authentication, as a login calls it.
        Account(request, stack, &c, handle, out);
        status = out->pamAccount.status;
    }
    pam_end(handle, status);
}

}  // namespace

void RunPam(const PamRequest &request, CredAccount *out) {
    out->pamRun = 1;
    CopyText(out->pamService, sizeof out->pamService, request.service);
    PamStack own;
    if (request.stack == nullptr) ReadPamStack(request.service, &own);
    const PamStack &stack = request.stack != nullptr ? *request.stack : own;
    KeepStack(stack, out);
    if (stack.fromOther) out->accountNotes |= CRED_ANOTE_PAM_OTHER;
    NotRun(&out->pamAccount, "authentication did not succeed");
    if (request.skipAuthenticate != nullptr) {
        NotRun(&out->pamAuthenticate, request.skipAuthenticate);
        return;
    }
    std::string why = Unsafe(request, stack);
    std::vector<bool> assumed;
    PamPrivateFolder folder;
    std::string marker;
    if (why.empty()) {
        AssumeSkipped(stack, ModuleFolder(), &assumed, out);
        if (!Prepare(request, stack, assumed, &folder, &marker, &why) && why.empty())
            why = "the private copy of the stack could not be written";
    }
    if (!why.empty()) {
        // A run that was asked for or needed, and could not be made.
        out->nskipped = 0;
        out->accountNotes &= ~CRED_ANOTE_PAM_ASSUMED;
        NotRun(&out->pamAuthenticate, why);
        NotRun(&out->pamAccount, request.password == nullptr ? "no password" : "PAM was not run");
        std::string service = request.service;
        if (service.size() > 64) service = service.substr(0, 60) + "...";
        MarkUnchecked(out, "PAM service " + service + " was not run: " + why);
        return;
    }
    Run(request, stack, assumed, folder, marker, out);
}

}  // namespace credaccount
