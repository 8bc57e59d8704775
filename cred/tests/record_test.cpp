// The Cred record, its text form, Strlcat, the gate and the policy report.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cred/internal.h"
#include "cred/tests/trace_capture.h"

namespace {

Cred FreshRecord() {
    Cred c;
    memset(&c, 0x5a, sizeof c);
    InitCredStruct(&c);
    return c;
}

Cred Ann() {
    Cred c = FreshRecord();
    strcpy(c.username, "ann");
    c.uid = 501;
    c.ngid = 3;
    c.gid[0] = 20;
    c.gid[1] = 20;
    c.gid[2] = 12;
    strcpy(c.gecos, "Ann");
    strcpy(c.homedir, "/home/ann");
    strcpy(c.shell, "/bin/sh");
    return c;
}

std::string Line(const Cred &c, size_t size) {
    std::vector<char> buf(size, 'Q');
    CredToLine(buf.data(), size, &c);
    return std::string(buf.data());
}

TEST(Strlcat, AppendsWithinTheBoundAndZeroesTheRest) {
    char small[4] = "xy";
    EXPECT_EQ(Strlcat(small, "abc", sizeof small), small);
    EXPECT_STREQ(small, "xya");

    char big[8] = {'x', 'y', 0, 'J', 'J', 'J', 'J', 'J'};
    Strlcat(big, "abc", sizeof big);
    EXPECT_EQ(0, memcmp(big, "xyabc\0\0\0", 8));
}

TEST(Strlcat, LeavesAFullOrUnboundedDestinationAlone) {
    char full[4] = "xyz";
    Strlcat(full, "abc", sizeof full);
    EXPECT_STREQ(full, "xyz");

    char none[2] = {'k', 'k'};
    EXPECT_EQ(Strlcat(none, "abc", 0), none);
    EXPECT_EQ(none[0], 'k');
    // Not terminated within its size: nothing is read or written past it.
    Strlcat(none, "abc", sizeof none);
    EXPECT_EQ(0, memcmp(none, "kk", 2));
}

TEST(CredToLine, WritesTheSevenFields) {
    TraceCapture quiet;
    EXPECT_EQ(Line(FreshRecord(), 512), "::4294967295:4294967295:::");
    EXPECT_EQ(Line(Ann(), 512), "ann::501:20,20,12:Ann:/home/ann:/bin/sh");
    EXPECT_EQ(Line(Ann(), 10), "ann::501:");
    EXPECT_EQ(Line(Ann(), 1), "");
    const Cred fresh = FreshRecord();
    char untouched = 'Q';
    CredToLine(&untouched, 0, &fresh);
    EXPECT_EQ(untouched, 'Q');
}

TEST(CredToLine, FullRecordIsCutAtEverySizeWithoutOverrun) {
    TraceCapture quiet;
    Cred c = FreshRecord();
    memset(c.username, 'u', 127);
    memset(c.passwd, 'p', 255);
    memset(c.gecos, 'g', 127);
    memset(c.homedir, 'h', 127);
    memset(c.shell, 's', 127);
    c.uid = -2;
    c.ngid = 33;
    for (int i = 0; i < 33; ++i) c.gid[i] = -1000000000 - i;
    std::string groups = std::to_string(static_cast<uint32_t>(c.gid[0]));
    for (int i = 1; i < 33; ++i) groups += "," + std::to_string(static_cast<uint32_t>(c.gid[i]));
    groups = (groups + ":").substr(0, 255);  // the group list with its colon is cut
    const std::string whole = std::string(127, 'u') + ":" + std::string(255, 'p') +
                              ":4294967294:" + groups + std::string(127, 'g') + ":" +
                              std::string(127, 'h') + ":" + std::string(127, 's');
    ASSERT_EQ(Line(c, 4096), whole);
    for (size_t size = 1; size <= whole.size() + 2; ++size) {
        // An exact-size heap buffer, so that the sanitizer sees any overrun.
        std::unique_ptr<char[]> buf(new char[size]);
        CredToLine(buf.get(), size, &c);
        ASSERT_EQ(std::string(buf.get()), whole.substr(0, size - 1)) << size;
    }
}

TEST(CredToLine, ACountBeyondTheArrayIsBounded) {
    TraceCapture quiet;
    Cred c = Ann();
    c.ngid = 1000;
    std::string unset;
    for (int i = 3; i < 33; ++i) unset += ",4294967295";
    const std::string groups = ("20,20,12" + unset + ":").substr(0, 255);
    EXPECT_EQ(Line(c, 2048), "ann::501:" + groups + "Ann:/home/ann:/bin/sh");
}

// The gate, in a child process where the library starts uninitialised.
TEST(GateDeathTest, UninitialisedOperationAnnouncesItselfOnStandardError) {
    EXPECT_EXIT(
        {
            CredDebugStream = nullptr;
            Cred c;
            InitCredStruct(&c);
            fflush(stderr);
            _exit(CredDebugStream == stderr ? 0 : 1);
        },
        testing::ExitedWithCode(0), "^Cred Library initialized\\.\n(.|\n)*InitCredStruct\n$");
}

TEST(GateDeathTest, AssignedStreamSkipsInitialisation) {
    EXPECT_EXIT(
        {
            char *text = nullptr;
            size_t size = 0;
            FILE *mine = open_memstream(&text, &size);
            CredDebugStream = mine;
            Cred c;
            InitCredStruct(&c);
            fclose(mine);
            _exit(std::string(text, size) == "InitCredStruct\n" ? 0 : 1);
        },
        testing::ExitedWithCode(0), "^$");
}

class PolicyFile : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/cred-policy-XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = name;
    }
    void TearDown() override { unlink(path_.c_str()); }

    std::string Report(const std::string &contents) {
        FILE *fp = fopen(path_.c_str(), "w");
        fwrite(contents.data(), 1, contents.size(), fp);
        fclose(fp);
        TraceCapture trace;
        ReadCryptPolicy(path_.c_str());
        return trace.Take();
    }
    std::string Opened() const { return "Opened " + path_ + ":\n"; }

    std::string path_;
};

TEST_F(PolicyFile, ReportsEveryCryptDefaultLineWithItsOwnNewline) {
    EXPECT_EQ(Report("# policy\nCRYPT_DEFAULT=md5\nCRYPT_ALGORITHMS_ALLOW=1\n"
                     "\nCRYPT_DEFAULT=6\n CRYPT_DEFAULT=x\ncrypt_default=y\nCRYPT_DEFAULT\n"),
              Opened() +
                  "CRYPT_DEFAULT from policy.conf is md5\n"
                  "CRYPT_DEFAULT from policy.conf is 6\n");
}

TEST_F(PolicyFile, LastLineWithoutNewlineStaysUnterminated) {
    EXPECT_EQ(Report("CRYPT_DEFAULT=__unix__"),
              Opened() + "CRYPT_DEFAULT from policy.conf is __unix__");
}

TEST_F(PolicyFile, LongLineIsReadInPieces) {
    // 255 characters fill one read; the rest of the line is a piece of its
    // own and is examined like a line.
    const std::string head = "CRYPT_DEFAULT=" + std::string(241, 'a');
    EXPECT_EQ(Report(head + "CRYPT_DEFAULT=2a\n" + std::string(300, 'b') + "\n"),
              Opened() + "CRYPT_DEFAULT from policy.conf is " + std::string(241, 'a') +
                  "CRYPT_DEFAULT from policy.conf is 2a\n");
}

}  // namespace
