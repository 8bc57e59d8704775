// A service's stack as Linux-PAM reads it, one row per way of writing it:
// include, substack, @include, -type, [value=action], comments and
// continued lines, the "other" service, /etc/pam.conf, and the lines
// Linux-PAM fails.  Each row's files go into a folder of their own.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "account/internal.h"

namespace {

using credaccount::PamStack;
using credaccount::PamStackLine;

struct Row {
    const char *what;
    std::vector<std::pair<std::string, std::string>> files;  // "pam.conf", or in pam.d
    const char *expected;  // one line each: type control module args |depth level flags actions
    bool fromOther;
};

// What a line's actions for success, auth_err and ignore are.
std::string Act(int action) {
    static const char *const kNames[] = {"reset", "die", "bad", "done", "ok", "ignore"};
    return action <= 0 ? kNames[action + 5] : std::to_string(action);
}

std::string Show(const PamStack &stack) {
    std::string out;
    for (const PamStackLine &l : stack.lines) {
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
    {"include, @include, -type, controls, comments, continued lines",
     {{"svc",
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
    {"substack, its lines a level down; words in any case",
     {{"svc", "AUTH Substack sub\nauth Requisite pam_z.so\nauth sufficient pam_w.so\n"},
      {"sub", "auth [default=done] pam_q.so\naccount required pam_r.so\n"}},
     "auth Substack sub  |00 S\nauth [default=done] pam_q.so  |11 done,done,done\n"
     "auth Requisite pam_z.so  |00 ok,die,ignore\nauth sufficient pam_w.so  |00 "
     "done,ignore,ignore\n",
     false},
    {"a type the service lacks comes from other",
     {{"svc", "account required pam_a.so\n"},
      {"other", "auth required pam_deny.so\naccount required pam_deny.so\n"}},
     "auth required pam_deny.so  |00 ok,bad,ignore\naccount required pam_a.so  |00 ok,bad,ignore\n",
     false},
    {"no file of its own: other",
     {{"other", "auth required pam_deny.so\n"}},
     "auth required pam_deny.so  |00 ok,bad,ignore\n",
     true},
    {"pam.conf, when pam.d is missing; service names in any case",
     {{"pam.conf",
       "svc auth required pam_a.so\nother auth required pam_deny.so\n"
       "SVC account required pam_b.so\nfoo auth required pam_c.so\n"}},
     "auth required pam_a.so  |00 ok,bad,ignore\naccount required pam_b.so  |00 ok,bad,ignore\n",
     false},
    {"lines Linux-PAM fails: a bad type, a missing include, no module; a missing substack",
     {{"svc", "auht optional pam_x.so\nauth include nope\nauth required\nauth substack gone\n"}},
     "auth optional pam_x.so  |00 F ok,ignore,ignore\nauth include nope  |00 F bad,bad,bad\n"
     "auth required   |00 F ok,bad,ignore\nauth substack gone  |00 S\n"
     "auth substack gone  |00 F bad,bad,bad\n",
     false},
    {"a line longer than 1023 bytes goes on as a line of its own",
     {{"svc", "auth required pam_a.so " + std::string(1100, 'x') + "\n"}},
     nullptr,
     false},
};

class StackReading : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/credcheck-stack-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // Writes the files into a new folder; returns the folder that stands
    // for pam.d (pam.conf beside it).
    std::string Write(const Row &row) {
        std::string base = dir_ + "/" + std::to_string(rows_++), confdir = base + "/pam.d";
        mkdir(base.c_str(), 0700);
        bool conf = false;
        for (const auto &[name, text] : row.files) conf = conf || name == "pam.conf";
        if (!conf) mkdir(confdir.c_str(), 0700);
        for (const auto &[name, text] : row.files) {
            std::string path = (name == "pam.conf" ? base : confdir) + "/" + name;
            FILE *fp = std::fopen(path.c_str(), "w");
            if (fp == nullptr) continue;
            std::fputs(text.c_str(), fp);
            std::fclose(fp);
        }
        return confdir;
    }

    int rows_ = 0;
    std::string dir_;
};

TEST_F(StackReading, AsLinuxPamReadsIt) {
    for (const Row &row : kRows) {
        std::string confdir = Write(row);
        PamStack stack;
        std::string conf = confdir.substr(0, confdir.rfind('/')) + "/pam.conf";
        credaccount::ReadPamStack("svc", &stack, confdir.c_str(), conf.c_str());
        if (row.expected != nullptr) {
            EXPECT_EQ(Show(stack), row.expected) << row.what;
        } else {
            ASSERT_EQ(stack.lines.size(), 2u) << row.what;
            EXPECT_EQ(stack.lines[0].args, std::string(1000, 'x'));
            EXPECT_TRUE(stack.lines[1].mustFail);
        }
        EXPECT_EQ(stack.fromOther, row.fromOther) << row.what;
    }
}

TEST_F(StackReading, AnIncludeThatFailsStopsTheRun) {
    PamStack stack;
    std::string confdir =
        Write({"", {{"svc", "auth required pam_a.so\n@include nope\n"}}, "", false});
    EXPECT_FALSE(credaccount::ReadPamStack("svc", &stack, confdir.c_str()));
    EXPECT_TRUE(stack.aborts);
}

TEST_F(StackReading, IncludesEndAtSixteenLevels) {
    PamStack stack;
    std::string confdir =
        Write({"", {{"svc", "auth include svc\nauth required pam_a.so\n"}}, "", false});
    credaccount::ReadPamStack("svc", &stack, confdir.c_str());
    ASSERT_EQ(stack.lines.size(), 17u);
    EXPECT_TRUE(stack.lines[0].mustFail);
    EXPECT_EQ(stack.lines[0].depth, 15);
}

}  // namespace
