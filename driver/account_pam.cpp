// account_pam.cpp - the PAM run's part of the "-a" report: its steps, what
// the modules said, the module that decided and, when PAM refused, the
// stack.
#include <security/pam_appl.h>

#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "driver/account_report.h"

namespace credcheck {
namespace {

nlohmann::json Step(int run, const CredPamStep &s) {
    return {{"ok", run ? nlohmann::json(s.status == 0) : nlohmann::json(nullptr)},
            {"text", s.text}};
}

const char *Style(const CredPamMessage &m) {
    return m.style == PAM_ERROR_MSG ? "error" : m.style == PAM_PROMPT_ECHO_OFF ? "prompt" : "info";
}

bool Refused(const CredAccount &a) {
    return (a.pamAuthenticateRun && a.pamAuthenticate.status != 0) ||
           (a.pamAccountRun && a.pamAccount.status != 0);
}

// "auth required pam_unix.so nullok", indented by include depth.
std::string StackLine(const CredPamLine &l) {
    std::string text = std::string(static_cast<std::size_t>(l.depth) * 2, ' ') + l.type + " " +
                       l.control + " " + l.module + (l.args[0] != '\0' ? " " : "") + l.args;
    return PrintableName(text.c_str());
}

nlohmann::json Lines(const CredPamLine *lines, int count) {
    nlohmann::json out = nlohmann::json::array();
    for (const CredPamLine &l : std::span(lines, static_cast<std::size_t>(count)))
        out.push_back(
            {{"type", l.type}, {"control", l.control}, {"module", l.module}, {"args", l.args}});
    return out;
}

}  // namespace

nlohmann::json PamJson(const CredAccount &a) {
    nlohmann::json messages = nlohmann::json::array();
    for (int i = 0; i < a.nmessages; ++i)
        messages.push_back({{"style", Style(a.messages[i])}, {"text", a.messages[i].text}});
    const CredPamDecider &by = a.decidedBy;
    nlohmann::json decided = nullptr;
    if (by.kind != CRED_PAM_DECIDER_NONE)
        decided = {{"module", by.module},
                   {"type", by.type},
                   {"control", by.control},
                   {"status", by.statusName},
                   {"text", by.text}};
    nlohmann::json notes = nlohmann::json::array();
    for (unsigned bit = 1; bit <= CRED_ANOTE_LAST; bit <<= 1)
        if (a.accountNotes & bit & kPamNotes) notes.push_back(CredAccountNoteText(bit));
    return {{"service", a.pamService},
            {"authenticate", Step(a.pamAuthenticateRun, a.pamAuthenticate)},
            {"account", Step(a.pamAccountRun, a.pamAccount)},
            {"messages", messages},
            {"decided_by", decided},
            {"stack", Lines(a.stack, a.nstack)},
            {"skipped", Lines(a.skipped, a.nskipped)},
            {"notes", notes}};
}

void PrintPam(const CredAccount &a) {
    ReportLine("PAM:", "service " + PrintableName(a.pamService) + ": authenticate: " +
                           a.pamAuthenticate.text + "; account: " + a.pamAccount.text);
    for (int i = 0; i < a.nmessages; ++i) {
        const CredPamMessage &m = a.messages[i];
        const char *what = m.style == PAM_ERROR_MSG         ? "error"
                           : m.style == PAM_TEXT_INFO       ? "info"
                           : m.style == PAM_PROMPT_ECHO_OFF ? "asked again for a password (refused)"
                                                            : "asked (answered empty)";
        ReportLine("", std::string(what) + ": " + PrintableName(m.text));
    }
    for (int i = 0; i < a.nskipped; ++i) {
        CredPamLine line = a.skipped[i];
        line.depth = 0;
        ReportLine("", "not run, assumed to succeed: " + StackLine(line));
    }
    for (unsigned bit = 1; bit <= CRED_ANOTE_LAST; bit <<= 1)
        if (a.accountNotes & bit & kPamNotes)
            ReportLine("", std::string("note: ") + CredAccountNoteText(bit));
    const CredPamDecider &by = a.decidedBy;
    if (by.kind != CRED_PAM_DECIDER_NONE)
        ReportLine("", "decided by " + PrintableName(by.module) + " (" + by.type + ", " +
                           PrintableName(by.control) + "): " + by.text);
    if (!Refused(a)) return;
    const char *label = "Stack:";
    for (int i = 0; i < a.nstack; ++i, label = "") ReportLine(label, StackLine(a.stack[i]));
}

}  // namespace credcheck
