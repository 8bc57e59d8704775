// The completion driver and the match listing, with a scripted completer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lineedit/internal.h"

namespace {

std::vector<std::string> candidates;
std::vector<int> indexes_seen;
std::string completer_word;
std::string output;  // everything written to the terminal

char *scripted(const char *word, int index) {
    completer_word = word;
    indexes_seen.push_back(index);
    if (static_cast<size_t>(index) >= candidates.size()) return nullptr;
    return strdup(candidates[static_cast<size_t>(index)].c_str());
}

ssize_t capture_write(int, const void *buf, size_t n) {
    output.append(static_cast<const char *>(buf), n);
    return static_cast<ssize_t>(n);
}

class CompleteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_io_ = gl_io;
        gl_io.write = capture_write;
        saved_ = {gl_completer, gl_quote_completions, gl_show_completion_progress, gl_termw,
                  gl_termh};
        gl_completer = scripted;
        gl_quote_completions = 0;
        gl_show_completion_progress = 0;
        gl_prompt = "";
        gl_buf[0] = '\0';
        gl_pos = gl_cnt = 0;
        candidates.clear();
        indexes_seen.clear();
        output.clear();
    }
    void TearDown() override {
        gl_io = saved_io_;
        gl_completer = saved_.completer;
        gl_quote_completions = saved_.quote;
        gl_show_completion_progress = saved_.progress;
        gl_termw = saved_.w;
        gl_termh = saved_.h;
        EXPECT_EQ(gl_matches, nullptr);
    }

    // Completes line with the cursor at cursor (end when -1) in a buffer
    // of size bytes; returns the line with "|" marking the new cursor.
    std::string Complete(const std::string &line, int cursor = -1, bool list = false,
                         size_t size = 64) {
        std::vector<char> buf(size, 'Z');
        std::memcpy(buf.data(), line.c_str(), line.size() + 1);
        int loc = cursor < 0 ? static_cast<int>(line.size()) : cursor;
        EXPECT_EQ(gl_complete_word(buf.data(), &loc, size, list), 0);
        std::string result(buf.data());
        for (size_t i = result.size(); i < size; ++i) EXPECT_EQ(buf[i], '\0') << i;
        return result.insert(static_cast<size_t>(loc), "|");
    }

    // The rows of a listing: what lies between the first line feed and the
    // redisplay that follows it.
    std::vector<std::string> Listed() {
        std::vector<std::string> rows;
        size_t at = output.find("\n\r");
        while (at != std::string::npos) {
            size_t next = output.find("\n\r", at + 2);
            if (next == std::string::npos) break;
            rows.push_back(output.substr(at + 2, next - at - 2));
            at = next;
        }
        return rows;
    }

    struct {
        gl_completion_fn completer;
        int quote, progress, w, h;
    } saved_{};
    gl_io_ops saved_io_{};
};

bool bell(const std::string &s) {
    return s.find('\a') != std::string::npos;
}

TEST_F(CompleteTest, SingleMatchGetsSuffixAndEveryIndexIsAsked) {
    candidates = {".", "foo", ".."};
    EXPECT_EQ(Complete("ls fo"), "ls foo |");
    EXPECT_EQ(completer_word, "fo");
    EXPECT_EQ(indexes_seen, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_FALSE(bell(output));
}

TEST_F(CompleteTest, SeveralMatchesExtendToCommonPrefix) {
    candidates = {"foobar", "foobaz", "fooba"};
    EXPECT_EQ(Complete("ls fo"), "ls fooba|");
    candidates = {"abc", "abd"};
    EXPECT_EQ(Complete("x ab"), "x ab|");
    EXPECT_FALSE(bell(output));
}

TEST_F(CompleteTest, NoPutInWithoutMatchesOrWithEmptyWord) {
    EXPECT_EQ(Complete("ls fo"), "ls fo|");
    candidates = {"a", "b"};
    EXPECT_EQ(Complete("ls "), "ls |");
    EXPECT_TRUE(output.empty());
}

TEST_F(CompleteTest, MatchShorterThanWordPutsNothingIn) {
    candidates = {"f", "foobar"};
    EXPECT_EQ(Complete("ls foo"), "ls foo|");
}

TEST_F(CompleteTest, MiddleOfWordSeparatesPrefixFromRest) {
    candidates = {"foobar", "foobaz"};
    EXPECT_EQ(Complete("ls fox", 5), "ls fooba| x");
    candidates = {"foa", "fob"};
    EXPECT_EQ(Complete("ls fox", 5), "ls fo| x");
    EXPECT_EQ(Complete("ls fo x", 5), "ls fo| x");
    candidates = {"foo"};
    EXPECT_EQ(Complete("ls fox", 5), "ls foo |x");
}

TEST_F(CompleteTest, QuotesNamesThatNeedThem) {
    gl_quote_completions = 1;
    candidates = {"my file"};
    EXPECT_EQ(Complete("ls my"), "ls \"my file\" |");
    candidates = {"say \"hi\""};
    EXPECT_EQ(Complete("ls sa"), "ls 'say \"hi\"' |");
    candidates = {"plain"};
    EXPECT_EQ(Complete("ls pl"), "ls plain |");
    gl_quote_completions = 0;
    candidates = {"my file"};
    EXPECT_EQ(Complete("ls my"), "ls my file |");
}

TEST_F(CompleteTest, OpenQuoteIsClosedNotReopened) {
    gl_quote_completions = 1;
    candidates = {"my file"};
    EXPECT_EQ(Complete("ls \"my"), "ls \"my file\" |");
    EXPECT_EQ(completer_word, "my");
    EXPECT_EQ(Complete("ls \"it's\" \"my"), "ls \"it's\" \"my file\" |");
    EXPECT_EQ(completer_word, "my");
    EXPECT_EQ(Complete("ls 'a \"b"), "ls 'my file' |");
    EXPECT_EQ(completer_word, "a \"b");
}

TEST_F(CompleteTest, CompletionIsCutToTheBuffer) {
    candidates = {"abcdefghijklmnopqrstuvwxyz"};
    // Room for the line is size - 4 = 12; a single match still gets its suffix.
    EXPECT_EQ(Complete("ls ab", -1, false, 16), "ls abcdefghi |");
    EXPECT_EQ(Complete("ls abX", 5, false, 16), "ls abcdefgh |X");
}

TEST_F(CompleteTest, NoRoomRingsBellAndLeavesLine) {
    gl_show_completion_progress = 1;
    candidates = {"abc"};
    EXPECT_EQ(Complete("ls abcdefghij", -1, false, 16), "ls abcdefghij|");  // dots do not fit
    EXPECT_TRUE(bell(output));
    EXPECT_TRUE(indexes_seen.empty());

    gl_show_completion_progress = 0;
    gl_quote_completions = 1;
    output.clear();
    candidates = {"a b"};
    EXPECT_EQ(Complete("xxxxxxxxxxxx a", -1, false, 16), "xxxxxxxxxxxx a|");  // no room to quote
    EXPECT_TRUE(bell(output));
}

TEST_F(CompleteTest, ProgressDotsShownAndCleared) {
    gl_show_completion_progress = 1;
    std::strcpy(gl_buf, "ls fo");
    gl_pos = gl_cnt = 5;
    candidates = {"foo"};
    int loc = gl_pos;
    gl_complete_word(gl_buf, &loc, GL_BUF_SIZE, 0);
    EXPECT_STREQ(gl_buf, "ls foo ");
    EXPECT_NE(output.find("..."), std::string::npos);
    EXPECT_NE(output.find("    "), std::string::npos);
}

// ---- the listing -------------------------------------------------------------

std::vector<std::string> numbered(int n, const char *stem) {
    std::vector<std::string> v;
    char name[32];
    for (int i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, "%s%06d", stem, i);
        v.emplace_back(name);
    }
    return v;
}

TEST_F(CompleteTest, ListsInColumnsDownThenAcross) {
    gl_termw = 80;
    candidates = numbered(8, "file");  // 10 characters
    EXPECT_EQ(Complete("ls fi", -1, true), "ls fi|");
    auto rows = Listed();
    ASSERT_EQ(rows.size(), 2u);
    // (80 - 8) / (10 + 2) = 6 columns of 12; 8 names take 2 rows.
    EXPECT_EQ(rows[0], "    file000000  file000002  file000004  file000006");
    EXPECT_EQ(rows[1], "    file000001  file000003  file000005  file000007");
}

TEST_F(CompleteTest, TooManyMatchesAreOmitted) {
    gl_termw = 80;
    gl_termh = 24;
    candidates = numbered(130, "file");
    Complete("ls f", -1, true);
    auto rows = Listed();
    ASSERT_EQ(rows.size(), 21u);
    EXPECT_EQ(rows[0].substr(0, 26), "    file000000  file000020");
    EXPECT_EQ(rows[19].substr(0, 26), "    file000019  file000039");
    EXPECT_EQ(rows[19].substr(64), "file000119");  // sixth column, last shown
    EXPECT_EQ(rows[20], "    ... 10 others omitted ...");
}

TEST_F(CompleteTest, ListingSortsIgnoringCaseAndStripsDirectoryPart) {
    candidates = {"src/beta", "src/Alpha", "src/alpha2", "src/Beta1"};
    Complete("ls src/", -1, true);
    auto rows = Listed();
    ASSERT_EQ(rows.size(), 1u);
    // Widest shown name 6: (80 - 8) / 8 = 9 columns of 8.
    EXPECT_EQ(rows[0], "    Alpha   alpha2  beta    Beta1");
}

TEST_F(CompleteTest, AlphanumericCommonPartIsShown) {
    candidates = {"report1", "report2"};
    Complete("ls rep", -1, true);
    auto rows = Listed();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], "    report1  report2");
}

TEST_F(CompleteTest, NoMatchesListsNoneWithBell) {
    EXPECT_EQ(Complete("ls q", -1, true), "ls q|");
    auto rows = Listed();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], "\a    (no matches)");
}

TEST_F(CompleteTest, SetCompleterDefaultsToFilenames) {
    gl_set_completer(scripted);
    EXPECT_EQ(gl_completer, scripted);
    gl_set_completer(nullptr);
    EXPECT_EQ(gl_completer, gl_filename_completer);
}

}  // namespace
