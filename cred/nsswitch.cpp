// The name service switch file: which sources serve a database.
#include <cstdio>
#include <cstring>

#include "cred/internal.h"

extern "C" int NsswitchLine(const char *path, const char *database, char *out,
                            size_t size) noexcept {
    FILE *fp = std::fopen(path, "re");
    if (fp == nullptr) return 0;
    char line[1024];
    size_t len = std::strlen(database);
    int found = 0;
    while (!found && std::fgets(line, sizeof line, fp) != nullptr) {
        line[std::strcspn(line, "#\n")] = '\0';
        const char *text = line + std::strspn(line, " \t");
        found = std::strncmp(text, database, len) == 0 && text[len] == ':';
        if (found && size > 0) std::snprintf(out, size, "%s", text + len + 1);
    }
    std::fclose(fp);
    return found;
}
