// The /etc/group scan on an in-memory stream, and the argument checks of
// GetUserGroups.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "cred/internal.h"
#include "cred/tests/trace_capture.h"

namespace {

constexpr size_t kLine = 512;

// The group ids that the scan stores for user, with at most maxg entries
// and a line buffer of size bytes.
std::vector<int32_t> Scan(const std::string &file, const char *user, size_t maxg = 32,
                          size_t size = kLine) {
    std::string copy = file;
    FILE *fp = fmemopen(copy.data(), copy.size(), "r");
    if (copy.empty()) fp = fopen("/dev/null", "r");
    std::vector<int32_t> gids(maxg + 1, -7);
    std::vector<char> buf(size);
    int n = ScanGroupStream(fp, gids.data(), maxg, user, buf.data(), size);
    fclose(fp);
    EXPECT_EQ(gids[maxg], -7) << "wrote past maxg";
    if (n < 0) return {n};
    gids.resize(static_cast<size_t>(n));
    return gids;
}

using Ids = std::vector<int32_t>;

TEST(ScanGroupStream, MatchesWholeMemberNamesInFileOrder) {
    const std::string file =
        "wheel:x:0:root,ann\n"
        "others:x:5:bob,annie,xann,ann2\n"
        "staff:x:20:ann\n"
        "mid:x:30:bob,ann,carl\n";
    EXPECT_EQ(Scan(file, "ann"), (Ids{0, 20, 30}));
    EXPECT_EQ(Scan(file, "annie"), (Ids{5}));
    EXPECT_EQ(Scan(file, "an"), Ids{});
    EXPECT_EQ(Scan(file, "nobody"), Ids{});
}

TEST(ScanGroupStream, KeyIsTheFirst37Characters) {
    const std::string name(40, 'n');
    const std::string cut(37, 'n');
    const std::string file =
        "full:x:1:" + name + "\ncut:x:2:" + cut + "\nshort:x:3:" + std::string(36, 'n') + "\n";
    EXPECT_EQ(Scan(file, name.c_str()), (Ids{2}));
    EXPECT_EQ(Scan(file, cut.c_str()), (Ids{2}));
}

TEST(ScanGroupStream, SkipsCommentsEmptyAndMalformedLines) {
    const std::string file =
        "#wheel:x:0:ann\n"
        "\n"
        "two:x:ann\n"
        "nogid:x::ann\n"
        "  -4x:x:  -4x:ann\n";
    // An empty gid reads as 0; a gid is read as atoi reads it.
    EXPECT_EQ(Scan(file, "ann"), (Ids{0, -4}));
}

TEST(ScanGroupStream, LastLineWithoutNewlineIsExamined) {
    EXPECT_EQ(Scan("a:x:1:bob\nb:x:2:ann", "ann"), (Ids{2}));
    EXPECT_EQ(Scan("a:x:1:bob\nb:x:2:bob,ann", "ann"), (Ids{2}));
    EXPECT_EQ(Scan("", "ann"), Ids{});
}

TEST(ScanGroupStream, LongLineIsJudgedByItsLastPiece) {
    // 510 characters per read: the members up to the end of the first piece
    // are lost, those of the last piece are seen.
    const std::string head = "big:x:9:ann," + std::string(520, 'z');
    EXPECT_EQ(Scan(head + ",carl\nsmall:x:3:ann\n", "ann"), (Ids{3}));
    EXPECT_EQ(Scan(head + ",carl\n", "carl"), Ids{});  // the last piece has no colons
    // A line of 509 characters and its newline is read whole.
    const std::string whole = "w:x:8:" + std::string(499, 'q') + ",ann\n";
    ASSERT_EQ(whole.size(), 510u);
    EXPECT_EQ(Scan(whole, "ann"), (Ids{8}));
    EXPECT_EQ(Scan(whole, "ann", 32, 511), Ids{});
    // A long line that ends the file without a newline: its last piece is
    // examined, also when it fills a read exactly.
    const std::string piece = "t:x:4:" + std::string(500, 'r') + ",ann";
    ASSERT_EQ(piece.size(), 510u);
    EXPECT_EQ(Scan(std::string(510, 'p') + piece, "ann"), (Ids{4}));
}

TEST(ScanGroupStream, StopsStoringAtMaxg) {
    const std::string file = "a:x:1:ann\nb:x:2:ann\nc:x:3:ann\n";
    EXPECT_EQ(Scan(file, "ann", 1), (Ids{1}));
    EXPECT_EQ(Scan(file, "ann", 2), (Ids{1, 2}));
}

TEST(ScanGroupStream, EmptyMemberFields) {
    const std::string file =
        "none:x:1:\n"
        "gap:x:2:bob,,carl\n"
        "trail:x:3:bob,\n"
        "full:x:4:bob\n";
    EXPECT_EQ(Scan(file, "bob"), (Ids{2, 3, 4}));
    EXPECT_EQ(Scan(file, ""), (Ids{1, 2, 3}));
}

TEST(GetUserGroups, RejectsZeroCapacityWithoutTrace) {
    TraceCapture trace;
    int32_t gids[2] = {5, 5};
    errno = 0;
    EXPECT_EQ(GetUserGroups(gids, 0, "ann"), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(gids[0], 5);
    EXPECT_EQ(trace.Take(), "");
}

TEST(GetUserGroups, InvalidMethodFails) {
    TraceCapture trace;
    const int saved = CredGroupListMethod;
    CredGroupListMethod = 3;
    int32_t gids[2] = {5, 5};
    errno = 0;
    EXPECT_EQ(GetUserGroups(gids, 2, "ann"), -1);
    CredGroupListMethod = saved;
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(gids[0], -1);
    EXPECT_EQ(trace.Take(), "GetUserGroups maxg=2 u=ann method=3 (invalid!)\n");
}

}  // namespace
