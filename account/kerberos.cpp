// kerberos.cpp - what the KDC itself says of a Kerberos credential, asked
// through the host's krb5.conf (a secure context: no KRB5_CONFIG from the
// environment).  Nothing is ever written: the tickets stay in memory and
// are freed, no password is changed, and without a password only an AS
// request without pre-authentication is sent, which the KDC counts as no
// failure.  With one, the password is sent once.
#include <krb5.h>
#include <string.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "account/internal.h"

namespace credaccount {
namespace {

// The tolerance of Kerberos clocks when krb5.conf sets none.
constexpr long kClockSkew = 300;

struct KdcName {
    krb5_error_code code;
    const char *name;
    CredVerdict verdict;
};

// The KDC's and the library's answers that decide, by their protocol names.
const KdcName kKdcNames[] = {
    {KRB5KDC_ERR_NAME_EXP, "KDC_ERR_NAME_EXP", CRED_VERDICT_EXPIRED},
    {KRB5KDC_ERR_KEY_EXP, "KDC_ERR_KEY_EXPIRED", CRED_VERDICT_EXPIRED},
    {KRB5KDC_ERR_CLIENT_REVOKED, "KDC_ERR_CLIENT_REVOKED", CRED_VERDICT_LOCKED_OUT},
    {KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN, "KDC_ERR_C_PRINCIPAL_UNKNOWN", CRED_VERDICT_NO_SUCH_USER},
    {KRB5KDC_ERR_PREAUTH_FAILED, "KDC_ERR_PREAUTH_FAILED", CRED_VERDICT_WRONG_PASSWORD},
    {KRB5KRB_AP_ERR_BAD_INTEGRITY, "KRB_AP_ERR_BAD_INTEGRITY", CRED_VERDICT_WRONG_PASSWORD},
    {KRB5KRB_AP_ERR_SKEW, "KRB_AP_ERR_SKEW", CRED_VERDICT_PAM_DENIED},
    {KRB5_KDC_UNREACH, "KDC_UNREACH", CRED_VERDICT_OFFLINE},
    {KRB5_REALM_CANT_RESOLVE, "REALM_CANT_RESOLVE", CRED_VERDICT_OFFLINE},
    {KRB5_REALM_UNKNOWN, "REALM_UNKNOWN", CRED_VERDICT_OFFLINE},
    {KRB5KDC_ERR_CLIENT_NOTYET, "KDC_ERR_CLIENT_NOTYET", CRED_VERDICT_PAM_DENIED},
    {KRB5KDC_ERR_POLICY, "KDC_ERR_POLICY", CRED_VERDICT_PAM_DENIED},
    {KRB5KDC_ERR_ETYPE_NOSUPP, "KDC_ERR_ETYPE_NOSUPP", CRED_VERDICT_PAM_DENIED},
};

const KdcName *FindName(krb5_error_code code) {
    for (const KdcName &n : kKdcNames)
        if (n.code == code) return &n;
    return nullptr;
}

// What a request learns besides its answer: the KDC that answered (from
// the library's trace, the only place that names it) and whether the
// library asked for a password it was not given.
struct Exchange {
    std::string kdc;
    bool prompted = false;
    krb5_timestamp passwordExpires = 0;
};

void Trace(krb5_context, const krb5_trace_info *info, void *data) {
    if (info == nullptr || info->message == nullptr) return;
    std::string_view m(info->message);
    // "[pid] time: Received answer (N bytes) from dgram 127.0.0.1:88"
    std::size_t at = m.find("Received answer");
    if (at == std::string_view::npos) return;
    m.remove_prefix(at);
    std::size_t from = m.find(" from ");
    if (from == std::string_view::npos) return;
    std::string_view where = m.substr(from + 6);
    where = where.substr(0, where.find_first_of("\r\n"));
    for (std::string_view kind : {"dgram ", "stream "})
        if (where.substr(0, kind.size()) == kind) where.remove_prefix(kind.size());
    static_cast<Exchange *>(data)->kdc.assign(where.substr(0, 63));
}

// The prompter of a request without the password: it never answers, so
// the library stops before it would send one.
krb5_error_code RefusePrompt(krb5_context, void *data, const char *, const char *, int,
                             krb5_prompt[]) {
    static_cast<Exchange *>(data)->prompted = true;
    return KRB5_LIBOS_CANTREADPWD;
}

void NoteExpiry(krb5_context, void *data, krb5_timestamp password, krb5_timestamp, krb5_boolean) {
    static_cast<Exchange *>(data)->passwordExpires = password;
}

// One AS exchange for client: with password (may be null) to service (null
// for the ticket-granting service).  Credentials are freed at once.
krb5_error_code Request(krb5_context context, krb5_principal client, const char *password,
                        const char *service, Exchange *exchange, krb5_creds *keep) {
    krb5_get_init_creds_opt *opt = nullptr;
    krb5_error_code code = krb5_get_init_creds_opt_alloc(context, &opt);
    if (code != 0) return code;
    // A module asking for a new password never gets one: an expired one is
    // an answer, not a prompt.
    krb5_get_init_creds_opt_set_change_password_prompt(opt, 0);
    krb5_get_init_creds_opt_set_forwardable(opt, 0);
    krb5_get_init_creds_opt_set_proxiable(opt, 0);
    krb5_get_init_creds_opt_set_tkt_life(opt, 300);
    krb5_get_init_creds_opt_set_expire_callback(context, opt, NoteExpiry, exchange);
    krb5_creds creds;
    std::memset(&creds, 0, sizeof creds);
    code = krb5_get_init_creds_password(context, &creds, client, password,
                                        password == nullptr ? RefusePrompt : nullptr, exchange, 0,
                                        service, opt);
    krb5_get_init_creds_opt_free(context, opt);
    if (code == 0 && keep != nullptr)
        *keep = creds;
    else if (code == 0)
        krb5_free_cred_contents(context, &creds);
    return code;
}

void Answer(krb5_context context, krb5_error_code code, CredKerberos *k) {
    const KdcName *n = FindName(code);
    if (n != nullptr) {
        CopyText(k->answer, sizeof k->answer, n->name);
        k->verdict = n->verdict;
    } else {
        char name[48];
        std::snprintf(name, sizeof name, "error %ld", static_cast<long>(code));
        CopyText(k->answer, sizeof k->answer, name);
        k->verdict = CRED_VERDICT_PAM_DENIED;
    }
    const char *text = krb5_get_error_message(context, code);
    CopyPrintable(k->text, sizeof k->text, text != nullptr ? text : "", sizeof k->text - 1);
    krb5_free_error_message(context, text);
}

// A ticket the module would check against the host keytab: whether the
// keytab holds a key of the KDC's for it.
void Validate(krb5_context context, krb5_creds *creds, bool mustValidate, CredKerberos *k) {
    char name[512] = "";
    krb5_keytab keytab = nullptr;
    if (krb5_kt_default(context, &keytab) != 0) return;
    krb5_kt_get_name(context, keytab, name, sizeof name);
    const char *path = std::strncmp(name, "FILE:", 5) == 0 ? name + 5 : name;
    krb5_kt_cursor cursor;
    bool missing = krb5_kt_start_seq_get(context, keytab, &cursor) != 0;
    if (!missing) krb5_kt_end_seq_get(context, keytab, &cursor);
    if (missing && !mustValidate) {
        krb5_kt_close(context, keytab);
        return;
    }
    krb5_verify_init_creds_opt opt;
    krb5_verify_init_creds_opt_init(&opt);
    // Otherwise krb5.conf's verify_ap_req_nofail decides, as for the module.
    if (mustValidate) krb5_verify_init_creds_opt_set_ap_req_nofail(&opt, 1);
    krb5_error_code code = krb5_verify_init_creds(context, creds, nullptr, keytab, nullptr, &opt);
    krb5_kt_close(context, keytab);
    if (code == 0) return;
    std::string why = missing ? std::string("the host keytab ") + path +
                                    " is missing or holds no key, and tickets are validated"
                              : std::string("the host keytab ") + path +
                                    " does not match the KDC's key for this host";
    const char *text = krb5_get_error_message(context, code);
    why += std::string(" (") + (text != nullptr ? text : "") + ")";
    krb5_free_error_message(context, text);
    CopyPrintable(k->keytab, sizeof k->keytab, why, sizeof k->keytab - 1);
    if (k->verdict == CRED_VERDICT_OK) k->verdict = CRED_VERDICT_PAM_DENIED;
}

// A clock apart from the KDC's by more than the tolerance: the library
// follows the KDC's clock, but a service ticket checked by this host's
// clock may be refused.
void NoteSkew(const krb5_creds &creds, CredKerberos *k) {
    long skew = static_cast<long>(creds.times.authtime) - static_cast<long>(std::time(nullptr));
    if (skew < 0) skew = -skew;
    if (skew <= kClockSkew) return;
    std::string text = "the KDC's clock is " + std::to_string(skew) +
                       " seconds apart from this host's (tolerance " + std::to_string(kClockSkew) +
                       ")";
    CopyPrintable(k->text, sizeof k->text, text, sizeof k->text - 1);
}

}  // namespace

void AskKdc(const KerberosTarget &target, const char *password, CredAccount *out) {
    CredKerberos *k = &out->kerberos;
    k->asked = 1;
    k->withPassword = password != nullptr;
    krb5_context context = nullptr;
    if (krb5_init_secure_context(&context) != 0) {
        CopyText(k->answer, sizeof k->answer, "no-configuration");
        CopyText(k->text, sizeof k->text, "the Kerberos library could not be set up");
        k->verdict = CRED_VERDICT_OFFLINE;
        return;
    }
    krb5_principal client = nullptr;
    krb5_error_code code = krb5_parse_name(context, target.principal.c_str(), &client);
    if (code != 0) {
        Answer(context, code, k);
        CopyText(k->principal, sizeof k->principal, target.principal);
        krb5_free_context(context);
        return;
    }
    char *unparsed = nullptr;
    if (krb5_unparse_name(context, client, &unparsed) == 0) {
        CopyText(k->principal, sizeof k->principal, unparsed);
        krb5_free_unparsed_name(context, unparsed);
    }
    CopyText(k->realm, sizeof k->realm, std::string_view(client->realm.data, client->realm.length));
    Exchange exchange;
    krb5_set_trace_callback(context, Trace, &exchange);

    // First what costs nothing: the request without pre-authentication.
    code = Request(context, client, nullptr, nullptr, &exchange, nullptr);
    // The library asks for the password only once the KDC has taken the
    // request (it wants pre-authentication, or sent a reply to decrypt).
    bool accepted = exchange.prompted;
    krb5_creds creds;
    std::memset(&creds, 0, sizeof creds);
    bool haveCreds = false;
    if (accepted && password != nullptr) {
        code = Request(context, client, password, nullptr, &exchange, &creds);
        haveCreds = code == 0;
        accepted = false;
    } else if (code == KRB5KDC_ERR_KEY_EXP && password != nullptr) {
        // The password-changing service takes an expired password; its
        // answer gives the date, and nothing is changed.
        krb5_error_code again =
            Request(context, client, password, "kadmin/changepw", &exchange, nullptr);
        if (again == KRB5KDC_ERR_PREAUTH_FAILED || again == KRB5KRB_AP_ERR_BAD_INTEGRITY)
            code = again;
        if (again == 0 && exchange.passwordExpires != 0)
            k->passwordExpires = exchange.passwordExpires;
    }
    CopyText(k->kdc, sizeof k->kdc, exchange.kdc);
    if (accepted) {
        CopyText(k->answer, sizeof k->answer, "ok");
        CopyText(k->text, sizeof k->text,
                 "the KDC knows the principal and would take a password (none was checked)");
    } else if (code == 0) {
        CopyText(k->answer, sizeof k->answer, "ok");
        CopyText(k->text, sizeof k->text, "the password was accepted");
    } else {
        Answer(context, code, k);
    }
    if (haveCreds) {
        NoteSkew(creds, k);
        if (target.validate) Validate(context, &creds, target.mustValidate, k);
        krb5_free_cred_contents(context, &creds);
    }
    krb5_free_principal(context, client);
    krb5_free_context(context);
}

}  // namespace credaccount
