// pam_stack.cpp - a service's PAM stack as Linux-PAM reads it.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "account/internal.h"

namespace credaccount {

std::string_view BaseName(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// For now: the service's own file (else "other"), one line per entry,
// without following includes.
bool ReadPamStack(const char *service, PamStack *stack, const char *confdir, const char *) {
    *stack = PamStack{};
    std::string path = std::string(confdir) + "/" + service;
    FILE *fp = std::fopen(path.c_str(), "re");
    if (fp == nullptr) {
        fp = std::fopen((std::string(confdir) + "/other").c_str(), "re");
        stack->fromOther = fp != nullptr;
    }
    if (fp == nullptr) return false;
    char line[1024];
    while (std::fgets(line, sizeof line, fp) != nullptr) {
        char type[32], control[256], module[256];
        int used = 0;
        if (line[0] == '#' || std::sscanf(line, "%31s %255s %255s %n", type, control, module,
                                          &used) < 3)
            continue;
        PamStackLine l;
        l.optional = type[0] == '-';
        l.type = type + (l.optional ? 1 : 0);
        l.control = control;
        l.module = module;
        l.args = line + used;
        while (!l.args.empty() && (l.args.back() == '\n' || l.args.back() == ' '))
            l.args.pop_back();
        stack->lines.push_back(l);
    }
    std::fclose(fp);
    return true;
}

}  // namespace credaccount
