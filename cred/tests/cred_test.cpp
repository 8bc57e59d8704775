// The Cred library where credcheck's reports cannot reach or cannot say
// why: the record's text form, Strlcat, the policy report, the /etc/group
// scan, argument errors, and the calls credcheck never makes, in a private
// /etc of the test process's own.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "cred/internal.h"
#include "cred/tests/trace_capture.h"

namespace {

using Ids = std::vector<int32_t>;
using namespace std::string_literals;

// The record's line, written into an exactly sized heap buffer.
std::string Line(const Cred &c, size_t size = 4096) {
    const auto buf = std::make_unique<char[]>(size);
    CredToLine(buf.get(), size, &c);
    return buf.get();
}

TEST(Strlcat, AppendsWithinTheBoundAndZeroesTheRest) {
    // clang-format off
    const std::tuple<std::string, size_t, std::string> rows[] = {
        {"xy\0\0"s, 4, "xya\0"s}, {"xy\0JJJJJ"s, 8, "xyabc\0\0\0"s}, {"xyz\0"s, 4, "xyz\0"s},
        {"kk"s, 0, "kk"s}, {"kk"s, 2, "kk"s}};  // unterminated: nothing read or written past
    // clang-format on
    for (const auto &[before, size, after] : rows) {
        const auto buf = std::make_unique<char[]>(before.size());
        std::memcpy(buf.get(), before.data(), before.size());
        EXPECT_EQ(Strlcat(buf.get(), "abc", size), buf.get());
        EXPECT_EQ(std::string(buf.get(), before.size()), after) << before;
    }
}

TEST(CredToLine, InitialRecordAndEveryCut) {
    Cred c = {"ann", "", -2, {20, 20, 12}, 3, "Ann", "/home/ann", "/bin/sh", 0};
    EXPECT_EQ(Line(c), "ann::4294967294:20,20,12:Ann:/home/ann:/bin/sh");
    // A count beyond the array shows the 33 ids; the list and its colon are cut to 255.
    c.ngid = 1000;
    std::string groups = "20,20,12";
    for (int i = 3; i < 33; ++i) c.gid[i] = -1, groups += ",4294967295";
    const std::string whole =
        "ann::4294967294:" + (groups + ":").substr(0, 255) + "Ann:/home/ann:/bin/sh";
    for (size_t size = 1; size <= whole.size() + 2; ++size)
        ASSERT_EQ(Line(c, size), whole.substr(0, size - 1)) << size;
    char untouched = 'Q';
    CredToLine(&untouched, 0, &c);
    EXPECT_EQ(untouched, 'Q');
}

TEST(ReadCryptPolicy, ReportsCryptDefaultLinesReadInPiecesOf255) {
    const std::string path = testing::TempDir() + "cred-policy.conf", a241(241, 'a');
    std::ofstream(path) << "# CRYPT_DEFAULT=0\nCRYPT_DEFAULT=" + a241 +
                               "CRYPT_DEFAULT=2a\n CRYPT_DEFAULT=x\nCRYPT_ALGS=1\nCRYPT_DEFAULT=y";
    TraceCapture trace;
    ReadCryptPolicy(path.c_str());
    unlink(path.c_str());
    const std::string is = "CRYPT_DEFAULT from policy.conf is ";
    EXPECT_EQ(trace.Take(), "Opened " + path + ":\n" + is + a241 + is + "2a\n" + is + "y");
}

TEST(ScanGroupStream, Table) {
    // clang-format off
    const std::string members = "wheel:x:0:root,ann\nothers:x:5:bob,annie,xann,ann2\nstaff:x:20:ann\n",
        n37(37, 'n'), n40(40, 'n'), keys = "full:x:1:" + n40 + "\ncut:x:2:" + n37 + "\nshort:x:3:" + n37.substr(1),
        empties = "none:x:1:\ngap:x:2:bob,,carl\ntrail:x:3:bob,\nfull:x:4:bob\n",
        big = "big:x:9:ann," + std::string(520, 'z') + ",carl\nsmall:x:3:ann\n",
        whole = "w:x:8:" + std::string(499, 'q') + ",ann\n";  // 510 characters
    const struct { std::string file, user; Ids ids; size_t maxg = 32, size = 512; } rows[] = {
        {members, "ann", {0, 20}}, {members, "annie", {5}}, {members, "ann", {0}, 1},
        {keys, n40, {2}},  // the key is the name's first 37 characters
        // Comments, empty and short lines are skipped; an empty id reads as 0,
        // the others as atoi reads them, but wrapping instead of overflowing.
        {"#a:x:0:ann\n\ntwo:x:ann\nnogid:x::ann\n  -4x:x:  -4x:ann\nw:x:4294967297:ann\n", "ann", {0, -4, 1}},
        {"a:x:1:bob\nb:x:2:bob,ann", "ann", {2}},  // the last line has no newline
        {empties, "bob", {2, 3, 4}}, {empties, "", {1, 2, 3}},
        // 510 characters a read; a line is judged by its last piece.
        {big, "ann", {3}}, {whole, "ann", {8}}, {whole, "ann", {}, 32, 511},
        {std::string(510, 'p') + "t:x:4:" + std::string(500, 'r') + ",ann", "ann", {4}},
        {members, "ann", {}, 32, 2},  // no room to read: nothing
    };
    // clang-format on
    for (const auto &r : rows) {
        FILE *fp = fmemopen(const_cast<char *>(r.file.data()), r.file.size(), "r");
        Ids ids(r.maxg + 1, -7);
        std::vector<char> buf(r.size);
        const int n = ScanGroupStream(fp, ids.data(), r.maxg, r.user.c_str(), buf.data(), r.size);
        fclose(fp);
        EXPECT_EQ(ids[r.maxg], -7) << "wrote past maxg";
        ids.resize(static_cast<size_t>(n));
        EXPECT_EQ(ids, r.ids) << r.file.substr(0, 40) << " / " << r.user << " / " << r.size;
    }
}

TEST(ArgumentErrors, FailWithEinvalAndTheirTrace) {
    TraceCapture trace;
    int32_t ids[2] = {5, 5};
    int alg = 7;
    errno = 0;
    EXPECT_EQ(Getspnam(nullptr, &alg), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(alg, -1);
    EXPECT_EQ(Getspnam(nullptr, nullptr), nullptr);  // a null alg is not written through
    errno = 0;
    EXPECT_EQ(GetUserGroups(ids, 0, "ann"), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(ids[0], 5);
    CredGroupListMethod = 3;
    EXPECT_EQ(GetUserGroups(ids, 2, "ann"), -1);
    CredGroupListMethod = 2;
    EXPECT_EQ(ids[0], -1);
    EXPECT_EQ(trace.Take(),
              "Getspnam: Invalid argument\nGetspnam: Invalid argument\n"
              "GetUserGroups maxg=2 u=ann method=3 (invalid!)\n");
}

TEST(PwdToCred, MissingFieldsBecomeEmptyAndLongOnesAreCut) {
    std::string t200(200, 't'), t127(127, 't');
    passwd none{nullptr, nullptr, 4000000000u, 77, nullptr, nullptr, nullptr}, full{};
    full.pw_name = full.pw_passwd = full.pw_gecos = full.pw_dir = full.pw_shell = t200.data();
    Cred c;
    InitCredStruct(&c);
    std::memset(c.gecos, 'g', sizeof c.gecos - 1);
    PwdToCred(&none, &c, 0, 0);
    EXPECT_EQ(Line(c), "::4000000000:77:::");
    PwdToCred(&full, &c, 0, 0);
    EXPECT_EQ(Line(c), t127 + "::0:0:" + t127 + ":" + t127 + ":" + t127);
}

// The calls credcheck never makes that need a user database: the test
// process gets a private /etc (a tmpfs in a mount namespace of its own)
// holding three users and no group file.
TEST(World, EnumerationEndCredAndGroupListsWithoutTheGroupFile) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount("tmpfs", "/etc", "tmpfs", 0, nullptr) != 0)
        GTEST_SKIP() << "needs root and mount namespaces";
    std::ofstream("/etc/passwd") << "root:x:0:0::/:\nann:x:501:20::/:\ncarl:x:503:30::/:\n";
    std::ofstream("/etc/nsswitch.conf") << "passwd: files\n";
    Cred c;
    std::string names;  // the enumeration restarts only when asked
    for (int first : {1, 0, 1, 0, 0, 0})
        names += (GetCredEnt(first, &c, 0, 0, 0) == 0 ? c.username : "-") + ","s;
    EXPECT_EQ(names, "root,ann,root,ann,carl,-,");
    EXPECT_EQ(Line(c), "::4294967295:4294967295:::");  // the end clears the record
    TraceCapture trace;
    EndCred();
    EXPECT_EQ(trace.Take(), "EndCred\n\tendpwent\n\tEndspent\n");
    const gid_t mine[] = {7, 8, 9};
    EXPECT_EQ(Setgroups(3, mine), 0);
    CredGroupListMethod = 1;
    int32_t ids[4] = {0, 0, 0, -7};
    EXPECT_EQ(GetUserGroups(ids, 2, "anyone"), 2);
    EXPECT_EQ(Ids(ids, ids + 4), (Ids{7, 8, 0, -7}));
    CredGroupListMethod = 2;
    EXPECT_EQ(GetUserGroups(ids, 2, "ann"), -1);
    EXPECT_EQ(ids[0], -1);
}

}  // namespace
