// Drives the Cred library from the command line for the end-to-end tests.
// Each command is a word and a fixed number of arguments; the library's
// trace and the results share standard output, in call order.
//
//   name NAME C S X | uid UID C S X | ent FIRST C S X   lookups (C S X: the flags)
//   endcred                        close the databases
//   spnam NAME | spnamnull         the shadow lookup
//   method M                       set the group-list method
//   groups USER MAXG               the group list
//   groupbuf SIZE USER             the group list with a registered buffer
//   setgroups IDS                  ids comma separated, "none" for none
//   probe LIMIT | probenull LIMIT | probe0
#include <shadow.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cred/cred.h"

namespace {

int Num(const char *text) {
    return static_cast<int>(strtol(text, nullptr, 10));
}

void ShowRecord(int rc, const Cred &c) {
    char line[1024];
    CredToLine(line, sizeof line, &c);
    printf("=> rc=%d alg=%d ngid=%u line=[%s]\n", rc, c.alg, c.ngid, line);
}

void ShowIds(int n, const int32_t *ids) {
    printf("=> n=%d", n);
    if (n < 0) printf(" errno=%s first=%d", strerror(errno), ids[0]);
    for (int i = 0; i < n; ++i) printf("%s%d", i == 0 ? " ids=" : ",", ids[i]);
    printf("\n");
}

int Lookup(const std::string &cmd, char **a) {
    Cred c;
    const int wantC = Num(a[1]), wantSupp = Num(a[2]), wantClose = Num(a[3]);
    int rc;
    if (cmd == "name")
        rc = GetCredName(a[0], &c, wantC, wantSupp, wantClose);
    else if (cmd == "uid")
        rc = GetCredUID(static_cast<uint32_t>(strtoul(a[0], nullptr, 10)), &c, wantC, wantSupp,
                        wantClose);
    else
        rc = GetCredEnt(Num(a[0]), &c, wantC, wantSupp, wantClose);
    ShowRecord(rc, c);
    return 4;
}

int Shadow(const char *name) {
    int alg = 99;
    struct spwd *sp = Getspnam(name, &alg);
    printf("=> %s alg=%d\n", sp != nullptr ? sp->sp_pwdp : "NULL", alg);
    return name != nullptr ? 1 : 0;
}

int Groups(char **a) {
    int32_t ids[64];
    ShowIds(GetUserGroups(ids, strtoul(a[1], nullptr, 10), a[0]), ids);
    return 2;
}

int GroupBuffer(char **a) {
    std::vector<char> buf(strtoul(a[0], nullptr, 10), 'Z');
    SetGroupFileBuffer(buf.data(), buf.size());
    int32_t ids[32];
    ShowIds(GetUserGroups(ids, 32, a[1]), ids);
    SetGroupFileBuffer(nullptr, 0);
    size_t zeros = 0, untouched = 0;
    for (char ch : buf) {
        zeros += ch == 0;
        untouched += ch == 'Z';
    }
    const char *state = zeros == buf.size()       ? "zeroed"
                        : untouched == buf.size() ? "untouched"
                                                  : "other";
    printf("=> buffer %s\n", state);
    return 2;
}

int SetGroups(const char *list) {
    std::vector<gid_t> ids;
    if (strcmp(list, "none") != 0)
        for (const char *p = list; *p != '\0'; p += *p == ',')
            ids.push_back(static_cast<gid_t>(strtoul(p, const_cast<char **>(&p), 10)));
    int rc = Setgroups(static_cast<int>(ids.size()), ids.data());
    printf("=> rc=%d%s%s\n", rc, rc < 0 ? " errno=" : "", rc < 0 ? strerror(errno) : "");
    return 1;
}

int Probe(const std::string &cmd, char **a) {
    if (cmd == "probe0") {
        printf("=> rc=%d\n", CanGetEncryptedPasswords());
        return 0;
    }
    const unsigned limit = static_cast<unsigned>(strtoul(a[0], nullptr, 10));
    if (cmd == "probenull") {
        printf("=> rc=%d\n", CanGetEncryptedPasswords2(limit, nullptr, nullptr));
        return 1;
    }
    unsigned n = 77, tx = 77;
    int rc = CanGetEncryptedPasswords2(limit, &n, &tx);
    printf("=> rc=%d n=%u tx=%u\n", rc, n, tx);
    return 1;
}

// Runs one command; returns how many arguments it took, or -1.
int Run(const std::string &cmd, char **a, int left) {
    auto need = [left](int k) { return left >= k; };
    if ((cmd == "name" || cmd == "uid" || cmd == "ent") && need(4)) return Lookup(cmd, a);
    if (cmd == "endcred") return EndCred(), 0;
    if (cmd == "spnam" && need(1)) return Shadow(a[0]);
    if (cmd == "spnamnull") return Shadow(nullptr);
    if (cmd == "method" && need(1)) return CredGroupListMethod = Num(a[0]), 1;
    if (cmd == "groups" && need(2)) return Groups(a);
    if (cmd == "groupbuf" && need(2)) return GroupBuffer(a);
    if (cmd == "setgroups" && need(1)) return SetGroups(a[0]);
    if (cmd == "probe0" || ((cmd == "probe" || cmd == "probenull") && need(1)))
        return Probe(cmd, a);
    return -1;
}

}  // namespace

int main(int argc, char **argv) {
    InitCredLibrary(argc, argv);
    CredDebugStream = stdout;
    for (int i = 1; i < argc; ++i) {
        printf("-- %s\n", argv[i]);
        int used = Run(argv[i], argv + i + 1, argc - i - 1);
        if (used < 0) {
            fprintf(stderr, "cred_lookup: bad command %s\n", argv[i]);
            return 2;
        }
        i += used;
    }
    return 0;
}
