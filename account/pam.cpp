// pam.cpp - run a PAM service for a user: pam_authenticate, then
// pam_acct_mgmt, with a conversation that answers every prompt with the
// password.  Each step keeps its return code and pam_strerror's text.
#include <security/pam_appl.h>
#include <string.h>

#include <cstdio>
#include <cstdlib>

#include "account/internal.h"

namespace credaccount {
namespace {

// Answers hidden and echoed prompts with the password; shows nothing.
// The replies are malloc'ed: PAM frees them.
int Converse(int count, const struct pam_message **messages, struct pam_response **replies,
             void *data) {
    if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
    auto *out = static_cast<pam_response *>(std::calloc(count, sizeof(pam_response)));
    if (out == nullptr) return PAM_BUF_ERR;
    const char *password = static_cast<const char *>(data);
    for (int i = 0; i < count; ++i) {
        int style = messages[i]->msg_style;
        if (style != PAM_PROMPT_ECHO_OFF && style != PAM_PROMPT_ECHO_ON) continue;
        out[i].resp = strdup(password);
        if (out[i].resp == nullptr) {
            for (int j = 0; j < i; ++j) {
                if (out[j].resp != nullptr) explicit_bzero(out[j].resp, strlen(out[j].resp));
                std::free(out[j].resp);
            }
            std::free(out);
            return PAM_BUF_ERR;
        }
    }
    *replies = out;
    return PAM_SUCCESS;
}

void Record(pam_handle_t *handle, int status, CredPamStep *step) {
    step->status = status;
    const char *text = pam_strerror(handle, status);
    std::snprintf(step->text, sizeof step->text, "%s", text != nullptr ? text : "unknown");
}

}  // namespace

void RunPam(const PamRequest &request, CredAccount *out) {
    out->pamRun = 1;
    std::snprintf(out->pamService, sizeof out->pamService, "%s", request.service);
    pam_conv conversation{Converse, const_cast<char *>(request.password)};
    pam_handle_t *handle = nullptr;
    int status = pam_start(request.service, request.user, &conversation, &handle);
    if (status != PAM_SUCCESS) {
        Record(handle, status, &out->pamAuthenticate);
        out->pamAuthenticateRun = 1;
        if (handle != nullptr) pam_end(handle, status);
        return;
    }
    if (request.skipAuthenticate != nullptr) {
        out->pamAuthenticate.status = -1;
        std::snprintf(out->pamAuthenticate.text, sizeof out->pamAuthenticate.text, "not run: %s",
                      request.skipAuthenticate);
    } else {
        status = pam_authenticate(handle, 0);
        out->pamAuthenticateRun = 1;
        Record(handle, status, &out->pamAuthenticate);
        // The account step only after a successful authentication: after a
        // failed one, pam_faillock's account step would clear the tally.
        if (status == PAM_SUCCESS) {
            status = pam_acct_mgmt(handle, 0);
            out->pamAccountRun = 1;
            Record(handle, status, &out->pamAccount);
        }
    }
    if (!out->pamAccountRun) {
        out->pamAccount.status = -1;
        std::snprintf(out->pamAccount.text, sizeof out->pamAccount.text,
                      "not run: authentication did not succeed");
    }
    pam_end(handle, status);
}

}  // namespace credaccount
