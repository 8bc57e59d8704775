// PwdToCred on hand-made host entries: missing fields, over-long fields
// and the flags.
#include <gtest/gtest.h>
#include <pwd.h>

#include <cstring>
#include <string>

#include "cred/internal.h"
#include "cred/tests/trace_capture.h"

namespace {

struct passwd Entry(const char *name, const char *pw, const char *gecos, const char *dir,
                    const char *shell) {
    struct passwd e {};
    e.pw_name = const_cast<char *>(name);
    e.pw_passwd = const_cast<char *>(pw);
    e.pw_uid = 4000000000u;
    e.pw_gid = 77;
    e.pw_gecos = const_cast<char *>(gecos);
    e.pw_dir = const_cast<char *>(dir);
    e.pw_shell = const_cast<char *>(shell);
    return e;
}

TEST(PwdToCred, MissingFieldsBecomeEmptyText) {
    TraceCapture trace;
    Cred c;
    InitCredStruct(&c);
    memset(c.gecos, 'g', sizeof c.gecos - 1);
    struct passwd e = Entry(nullptr, nullptr, nullptr, nullptr, nullptr);
    PwdToCred(&e, &c, 0, 0);
    EXPECT_EQ(trace.Take(),
              "InitCredStruct\n"
              "PwdToCred: pw->u= wantC=0 wantSupp=0\n"
              "\tPp->username = []\n"
              "\tPp->passwd = [], alg = 0\n"
              "\tPp->uid = -294967296\n"
              "\tPp->gid #0 = 77\n"
              "\tPp->homedir = []\n"
              "\tPp->shell = []\n");
    EXPECT_STREQ(c.gecos, "");
    EXPECT_EQ(c.ngid, 1u);
    EXPECT_EQ(c.gid[1], -1);
}

TEST(PwdToCred, LongFieldsAreCutToTheirArrays) {
    TraceCapture quiet;
    const std::string name(200, 'n'), pw(300, 'p'), text(200, 't');
    struct passwd e = Entry(name.c_str(), pw.c_str(), text.c_str(), text.c_str(), text.c_str());
    Cred c;
    memset(&c, 'J', sizeof c);
    InitCredStruct(&c);
    PwdToCred(&e, &c, 0, 0);
    EXPECT_EQ(std::string(c.username), name.substr(0, 127));
    EXPECT_EQ(std::string(c.gecos), text.substr(0, 127));
    EXPECT_EQ(std::string(c.homedir), text.substr(0, 127));
    EXPECT_EQ(std::string(c.shell), text.substr(0, 127));
    EXPECT_STREQ(c.passwd, "");
}

}  // namespace
