// The history ring and history files.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

using editor_test::EditorTest;

class HistoryTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        ASSERT_TRUE(dir_.ok());
    }
    std::string Path(const char *name) const { return dir_.Path(name); }

    // hist_older or hist_newer, with whether the bell rang.
    std::string Step(char *(*step)(), bool *bell) {
        TakeScreen();
        std::string line = step();
        *bell = TakeScreen() == "\a";
        return line;
    }
    std::string Older(bool *bell) { return Step(hist_older, bell); }
    std::string Newer(bool *bell) { return Step(hist_newer, bell); }

    editor_test::ScratchDir dir_;
};

std::string ReadFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(HistoryTest, EndsOfAShortHistory) {
    bool bell = false;
    EXPECT_EQ(Older(&bell), "");
    EXPECT_TRUE(bell);

    gl_add_history("only");
    EXPECT_EQ(Older(&bell), "only");
    EXPECT_FALSE(bell);
    EXPECT_EQ(Older(&bell), "");
    EXPECT_TRUE(bell);
    EXPECT_EQ(Newer(&bell), "only");
    EXPECT_FALSE(bell);
    EXPECT_EQ(Newer(&bell), "");
    EXPECT_FALSE(bell);
    EXPECT_EQ(Newer(&bell), "");
    EXPECT_TRUE(bell);
}

TEST_F(HistoryTest, FullRingKeepsTheNewest99AndStopsOnTheOldest) {
    for (int i = 0; i < 100; ++i) gl_add_history(("line" + std::to_string(i)).c_str());
    bool bell = false;
    for (int i = 99; i >= 1; --i) EXPECT_EQ(Older(&bell), "line" + std::to_string(i));
    EXPECT_EQ(Older(&bell), "");
    EXPECT_TRUE(bell);
    EXPECT_EQ(Newer(&bell), "line2");
    // Wrapping many times round the ring releases every dropped line.
    for (int i = 0; i < 250; ++i) gl_add_history(("more" + std::to_string(i)).c_str());
    EXPECT_EQ(Older(&bell), "more249");
}

TEST_F(HistoryTest, BlankLinesAndImmediateRepeatsAreNotStored) {
    gl_add_history("first");
    hist_older();
    gl_add_history(" \t\n ");
    EXPECT_EQ(hist_cur, hist_end);  // reset even though nothing was stored
    gl_add_history("word\n");
    gl_add_history("word");
    gl_add_history("other");
    gl_add_history("word");
    // Only a newline after the leading blanks shortens the compared length:
    // "\nab" is kept as "\na", which is not the 3 characters of "\nab".
    gl_add_history("\nab");
    gl_add_history("\nab");
    bool bell = false;
    EXPECT_EQ(Older(&bell), "\na");
    EXPECT_EQ(Older(&bell), "\na");
    EXPECT_EQ(Older(&bell), "word");
    EXPECT_EQ(Older(&bell), "other");
    EXPECT_EQ(Older(&bell), "word");
    EXPECT_EQ(Older(&bell), "first");
}

TEST_F(HistoryTest, SaveDropsOneTerminator) {
    struct {
        const char *line, *copy;
    } cases[] = {
        {"word\n", "word"}, {"word", "word"}, {"ab\rcd", "ab\rc"}, {"a\nbc", "a\nb"}, {"\r", ""},
    };
    for (const auto &c : cases) {
        char *copy = hist_save(c.line);
        EXPECT_STREQ(copy, c.copy) << c.line;
        std::free(copy);
    }
}

TEST_F(HistoryTest, CarriageReturnLineIsAnEmptyOwnedLine) {
    gl_add_history("before");
    gl_add_history("\r");
    bool bell = true;
    EXPECT_EQ(Older(&bell), "");
    EXPECT_FALSE(bell);
    EXPECT_EQ(Older(&bell), "before");
}

TEST_F(HistoryTest, FullRingWritesItsNewest98OldestFirstAndReadsBack) {
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        gl_add_history(("line" + std::to_string(i)).c_str());
        if (i >= 2) expected += "line" + std::to_string(i) + "\n";
    }
    gl_write_history(Path("h").c_str());
    EXPECT_EQ(ReadFile(Path("h")), expected);

    hist_release();
    gl_read_history(Path("h").c_str());
    gl_write_history(Path("again").c_str());
    EXPECT_EQ(ReadFile(Path("again")), expected);
}

TEST_F(HistoryTest, BrowsingBeforeWritingLosesNoLine) {
    for (const char *line : {"one", "two", "three"}) gl_add_history(line);
    bool bell = false;
    EXPECT_EQ(Older(&bell), "three");
    EXPECT_EQ(Older(&bell), "two");
    gl_write_history(Path("browsed").c_str());
    EXPECT_EQ(ReadFile(Path("browsed")), "one\ntwo\nthree\n");
}

TEST_F(HistoryTest, LongFileLinesBecomePiecesOf253) {
    std::string line(600, 'x');
    line[0] = 'a';
    line[253] = 'b';
    line[506] = 'c';
    std::ofstream(Path("long")) << line << "\nshort\n";
    gl_read_history(Path("long").c_str());
    bool bell = false;
    EXPECT_EQ(Older(&bell), "short");
    EXPECT_EQ(Older(&bell), line.substr(506));
    EXPECT_EQ(Older(&bell), line.substr(253, 253));
    EXPECT_EQ(Older(&bell), line.substr(0, 253));
}

TEST_F(HistoryTest, NewFilesArePrivateAndExistingOnesKeepTheirMode) {
    gl_add_history("secret");
    mode_t old_mask = umask(0);
    gl_write_history(Path("new").c_str());
    struct stat st {};
    ASSERT_EQ(stat(Path("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    std::ofstream(Path("shared")) << "old\n";
    chmod(Path("shared").c_str(), 0644);
    gl_write_history(Path("shared").c_str());
    umask(old_mask);
    ASSERT_EQ(stat(Path("shared").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(ReadFile(Path("shared")), "secret\n");
}

}  // namespace
