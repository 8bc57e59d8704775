// A service's stack as Linux-PAM reads it, one row per way of writing it:
// include, substack, @include, -type, [value=action], comments and
// continued lines, the "other" service, /etc/pam.conf, and the lines
// Linux-PAM fails.  Each row's files go into a folder of their own.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "account/internal.h"

namespace {

namespace fs = std::filesystem;
using credaccount::PamStack;

using Files = std::vector<std::pair<std::string, std::string>>;  // in pam.d, or "../pam.conf"

struct Row {
    Files files;
    const char *lines;  // "type control module args |depth level [S substack] [F fails]
                        // actions for success,auth_err,ignore"
    bool fromOther;
};

std::string Act(int action) {
    static const char *const kNames[] = {"reset", "die", "bad", "done", "ok", "ignore"};
    return action <= 0 ? kNames[action + 5] : std::to_string(action);
}

std::string Show(const PamStack &stack) {
    std::string out;
    for (const credaccount::PamStackLine &l : stack.lines) {
        out += (l.optional ? "-" : "") + l.type + " " + l.control + " " + l.module + " " + l.args +
               " |" + std::to_string(l.depth) + std::to_string(l.level) + (l.substack ? " S" : "") +
               (l.mustFail ? " F" : "");
        if (!l.substack)
            out += " " + Act(l.actions[0]) + "," + Act(l.actions[7]) + "," + Act(l.actions[25]);
        out += "\n";
    }
    return out;
}

const Row kRows[] = {
    {{{"svc",
       "# a comment\n  auth include common # and another\n"
       "-account [success=2 auth_err=die default=ignore] pam_a.so x \\\n\n   y\n"
       "@include common-account\nsession optional pam_s.so\n"},
      {"common", "auth required pam_unix.so nullok\nsession optional pam_t.so\n"},
      {"common-account", "account [success=ok new_authtok_reqd=bogus] pam_y.so\n"}},
     "auth required pam_unix.so nullok |10 ok,bad,ignore\n"
     "-account [success=2 auth_err=die default=ignore] pam_a.so x     y |00 2,die,ignore\n"
     "account [success=ok new_authtok_reqd=bogus] pam_y.so  |10 bad,bad,bad\n"
     "session optional pam_s.so  |00 ok,ignore,ignore\n",
     false},
    {{{"svc", "AUTH Substack sub\nauth Requisite pam_z.so\nauth sufficient pam_w.so\n"},
      {"sub", "auth [default=done] pam_q.so\naccount required pam_r.so\n"}},
     "auth Substack sub  |00 S\nauth [default=done] pam_q.so  |11 done,done,done\n"
     "auth Requisite pam_z.so  |00 ok,die,ignore\nauth sufficient pam_w.so  |00 "
     "done,ignore,ignore\n",
     false},
    {{{"svc", "account required pam_a.so\n"},
      {"other", "auth required pam_deny.so\naccount required pam_deny.so\n"}},
     "auth required pam_deny.so  |00 ok,bad,ignore\naccount required pam_a.so  |00 ok,bad,ignore\n",
     false},
    {{{"other", "auth required pam_deny.so\n"}},
     "auth required pam_deny.so  |00 ok,bad,ignore\n",
     true},
    {{{"../pam.conf",
       "svc auth required pam_a.so\nother auth required pam_deny.so\n"
       "SVC account required pam_b.so\nfoo auth required pam_c.so\n"}},
     "auth required pam_a.so  |00 ok,bad,ignore\naccount required pam_b.so  |00 ok,bad,ignore\n",
     false},
    {{{"svc", "auht optional pam_x.so\nauth include nope\nauth required\nauth substack gone\n"}},
     "auth optional pam_x.so  |00 F ok,ignore,ignore\nauth include nope  |00 F bad,bad,bad\n"
     "auth required   |00 F ok,bad,ignore\nauth substack gone  |00 S\n"
     "auth substack gone  |00 F bad,bad,bad\n",
     false},
};

// Reads the stack of svc from files put in a new folder.
PamStack Read(const Files &files, const fs::path &dir) {
    fs::create_directories(dir / "pam.d");
    for (const auto &[name, text] : files) std::ofstream(dir / "pam.d" / name) << text;
    if (files[0].first == "../pam.conf") fs::remove(dir / "pam.d");
    PamStack stack;
    credaccount::ReadPamStack("svc", &stack, (dir / "pam.d").c_str(), (dir / "pam.conf").c_str());
    return stack;
}

// A scratch folder, removed however the test ends.
struct Scratch {
    fs::path path = fs::temp_directory_path() / ("credcheck-stack-" + std::to_string(getpid()));
    ~Scratch() { fs::remove_all(path); }
};

TEST(PamStack, AsLinuxPamReadsIt) {
    Scratch scratch;
    const fs::path &base = scratch.path;
    int n = 0;
    for (const Row &row : kRows) {
        PamStack stack = Read(row.files, base / std::to_string(n++));
        EXPECT_EQ(stack.fromOther, row.fromOther) << n;
        EXPECT_EQ(Show(stack), row.lines) << n;
    }
    // Linux-PAM reads 1023 bytes as a line; the rest is a line of its own.
    PamStack stack =
        Read({{"svc", "auth required pam_a.so " + std::string(1100, 'x') + "\n"}}, base / "long");
    ASSERT_EQ(stack.lines.size(), 2u);
    EXPECT_EQ(stack.lines[0].args, std::string(1000, 'x'));
    EXPECT_TRUE(stack.lines[1].mustFail);
    // Includes end after sixteen levels.
    stack = Read({{"svc", "auth include svc\nauth required pam_a.so\n"}}, base / "deep");
    ASSERT_EQ(stack.lines.size(), 17u);
    EXPECT_TRUE(stack.lines[0].mustFail);
    EXPECT_EQ(stack.lines[0].depth, 15);
    // An @include that cannot be read stops the run.
    EXPECT_TRUE(Read({{"svc", "auth required pam_a.so\n@include nope\n"}}, base / "abort").aborts);
}

// Which module of the auth stack holds the credential: reached by the
// jumps, within pam_krb5's minimum_uid, or a directory's module for its
// own users.
TEST(PamStack, FindsTheHolder) {
    const char *const kDebian =
        "auth [success=2 default=ignore] pam_krb5.so minimum_uid=1000\n"
        "auth [success=1 default=ignore] pam_unix.so nullok try_first_pass\n"
        "auth requisite pam_deny.so\nauth required pam_permit.so\n";
    struct {
        const char *svc, *sub;
        uid_t uid;
        const char *source, *holder;
    } rows[] = {
        {kDebian, "", 2001, "files", "pam_krb5.so"},
        {kDebian, "", 500, "files", ""},
        {"auth sufficient pam_permit.so\nauth required pam_krb5.so\n", "", 2001, "files", ""},
        {"auth requisite pam_deny.so\nauth required pam_krb5.so\n", "", 2001, "files", ""},
        {"auth [default=1] pam_unix.so\nauth required pam_krb5.so\nauth required pam_permit.so\n",
         "", 2001, "files", ""},
        {"auth [success=1 default=ignore] pam_unix.so\nauth required pam_krb5.so\n", "", 2001,
         "files", "pam_krb5.so"},
        {"auth substack sub\nauth required pam_krb5.so realm=X\n",
         "auth [default=done] pam_permit.so\n", 2001, "files", "pam_krb5.so"},
        {"auth required pam_ldap.so\n", "", 2001, "files", ""},
        {"auth required pam_ldap.so\n", "", 2001, "ldap", "pam_ldap.so"},
    };
    Scratch scratch;
    int n = 0;
    for (const auto &row : rows) {
        credaccount::ServiceAuth auth;
        auth.stack = Read({{"svc", row.svc}, {"sub", row.sub}}, scratch.path / std::to_string(n++));
        credaccount::FindHolderLines(&auth);
        struct passwd pw {};
        pw.pw_name = const_cast<char *>("u");
        pw.pw_uid = row.uid;
        credaccount::Holder h = credaccount::FindHolder(auth, &pw, row.source);
        EXPECT_EQ(h.module, row.holder) << row.svc;
        EXPECT_EQ(h.kerberos, std::string(row.holder) == "pam_krb5.so") << row.svc;
    }
}

}  // namespace
