// The completion driver and the match listing, with a scripted completer.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

std::vector<std::string> candidates;
std::vector<int> indexes_seen;
std::string completer_word;

char *scripted(const char *word, int index) {
    completer_word = word;
    indexes_seen.push_back(index);
    if (static_cast<size_t>(index) >= candidates.size()) return nullptr;
    return strdup(candidates[static_cast<size_t>(index)].c_str());
}

class CompleteTest : public editor_test::EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        gl_completer = scripted;
        gl_quote_completions = 0;
        gl_show_completion_progress = 0;
        gl_termh = 24;
        gl_prompt = "";
        gl_buf[0] = '\0';
        gl_pos = gl_cnt = 0;
    }
    void TearDown() override {
        gl_quote_completions = -1;
        EditorTest::TearDown();
    }

    // Completes line with the cursor at cursor (end when -1) in a buffer
    // of size bytes; returns the line with "|" marking the new cursor.
    std::string Complete(const std::string &line, int cursor = -1, bool list = false,
                         size_t size = 64) {
        indexes_seen.clear();
        keyboard_.screen.clear();
        std::vector<char> buf(size, 'Z');
        std::memcpy(buf.data(), line.c_str(), line.size() + 1);
        int loc = cursor < 0 ? static_cast<int>(line.size()) : cursor;
        EXPECT_EQ(gl_complete_word(buf.data(), &loc, size, list), 0);
        EXPECT_EQ(gl_matches, nullptr);
        std::string result(buf.data());
        for (size_t i = result.size(); i < size; ++i) EXPECT_EQ(buf[i], '\0') << i;
        return result.insert(static_cast<size_t>(loc), "|");
    }
    bool Bell() const { return Screen().find('\a') != std::string::npos; }

    // The rows of a listing: what lies between the first line feed and the
    // redisplay that follows it.
    std::vector<std::string> Listed() const {
        const std::string &out = Screen();
        std::vector<std::string> rows;
        size_t at = out.find("\n\r");
        while (at != std::string::npos) {
            size_t next = out.find("\n\r", at + 2);
            if (next == std::string::npos) break;
            rows.push_back(out.substr(at + 2, next - at - 2));
            at = next;
        }
        return rows;
    }
};

// ---- putting a completion in ------------------------------------------------

struct PutCase {
    std::vector<std::string> matches;
    const char *line;
    int cursor;  // -1: end of the line
    int quote;   // gl_quote_completions
    size_t size;
    const char *want;  // "|" marks the cursor
    const char *word;  // what the completer is given, or null for "not checked"
};

TEST_F(CompleteTest, PutsInSingleMatchOrCommonPrefix) {
    const PutCase cases[] = {
        // "." and ".." are dropped, and the index still counts them.
        {{".", "foo", ".."}, "ls fo", -1, 0, 64, "ls foo |", "fo"},
        {{"foobar", "foobaz", "fooba"}, "ls fo", -1, 0, 64, "ls fooba|", nullptr},
        {{"abc", "abd"}, "x ab", -1, 0, 64, "x ab|", nullptr},
        {{}, "ls fo", -1, 0, 64, "ls fo|", nullptr},
        {{"a", "b"}, "ls ", -1, 0, 64, "ls |", ""},
        {{"f", "foobar"}, "ls foo", -1, 0, 64, "ls foo|", nullptr},
        // In the middle of a word a prefix is kept apart from the rest.
        {{"foobar", "foobaz"}, "ls fox", 5, 0, 64, "ls fooba| x", "fo"},
        {{"foa", "fob"}, "ls fox", 5, 0, 64, "ls fo| x", nullptr},
        {{"foa", "fob"}, "ls fo x", 5, 0, 64, "ls fo| x", nullptr},
        {{"foo"}, "ls fox", 5, 0, 64, "ls foo |x", nullptr},
        // Quoting.
        {{"my file"}, "ls my", -1, 1, 64, "ls \"my file\" |", nullptr},
        {{"say \"hi\""}, "ls sa", -1, 1, 64, "ls 'say \"hi\"' |", nullptr},
        {{"plain"}, "ls pl", -1, 1, 64, "ls plain |", nullptr},
        {{"my file"}, "ls my", -1, 0, 64, "ls my file |", nullptr},
        {{"my file"}, "ls \"my", -1, 1, 64, "ls \"my file\" |", "my"},
        {{"my file"}, "ls \"it's\" \"my", -1, 1, 64, "ls \"it's\" \"my file\" |", "my"},
        {{"my file"}, "ls 'a \"b", -1, 1, 64, "ls 'my file' |", "a \"b"},
        // Room for the line is size - 4 = 12; a single match keeps its suffix.
        {{"abcdefghijklmnopqrstuvwxyz"}, "ls ab", -1, 0, 16, "ls abcdefghi |", nullptr},
        {{"abcdefghijklmnopqrstuvwxyz"}, "ls abX", 5, 0, 16, "ls abcdefgh |X", nullptr},
    };
    for (const PutCase &c : cases) {
        SCOPED_TRACE(c.line);
        candidates = c.matches;
        gl_quote_completions = c.quote;
        EXPECT_EQ(Complete(c.line, c.cursor, false, c.size), c.want);
        if (c.word) {
            EXPECT_EQ(completer_word, c.word);
        }
        std::vector<int> asked;
        for (int i = 0; i <= static_cast<int>(c.matches.size()); ++i) asked.push_back(i);
        EXPECT_EQ(indexes_seen, asked);
        EXPECT_FALSE(Bell());
    }
}

TEST_F(CompleteTest, NoRoomRingsBellAndLeavesLine) {
    gl_show_completion_progress = 1;
    candidates = {"abc"};
    EXPECT_EQ(Complete("ls abcdefghij", -1, false, 16), "ls abcdefghij|");  // dots do not fit
    EXPECT_TRUE(Bell());
    EXPECT_TRUE(indexes_seen.empty());

    gl_show_completion_progress = 0;
    gl_quote_completions = 1;
    candidates = {"a b"};
    EXPECT_EQ(Complete("xxxxxxxxxxxx a", -1, false, 16), "xxxxxxxxxxxx a|");  // no room to quote
    EXPECT_TRUE(Bell());
}

TEST_F(CompleteTest, ProgressDotsShownThenCleared) {
    gl_show_completion_progress = 1;
    std::strcpy(gl_buf, "ls fo");
    gl_pos = gl_cnt = 5;
    candidates = {"foo"};
    int loc = gl_pos;
    gl_complete_word(gl_buf, &loc, GL_BUF_SIZE, 0);
    EXPECT_STREQ(gl_buf, "ls foo ");
    size_t dots = Screen().find("...");
    ASSERT_NE(dots, std::string::npos);
    EXPECT_NE(Screen().find("    ", dots), std::string::npos);
}

// ---- the listing -------------------------------------------------------------

std::vector<std::string> numbered(int n) {
    std::vector<std::string> v;
    char name[32];
    for (int i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, "file%06d", i);
        v.emplace_back(name);
    }
    return v;
}

TEST_F(CompleteTest, ListsInColumnsSortedWithoutCommonDirectory) {
    struct {
        std::vector<std::string> matches;
        std::vector<std::string> rows;
    } cases[] = {
        // (80 - 8) / (10 + 2) = 6 columns of 12, down then across.
        {numbered(8),
         {"    file000000  file000002  file000004  file000006",
          "    file000001  file000003  file000005  file000007"}},
        // Widest shown name 6: (80 - 8) / 8 = 9 columns of 8; case ignored.
        {{"src/beta", "src/Alpha", "src/alpha2", "src/Beta1"},
         {"    Alpha   alpha2  beta    Beta1"}},
        {{"report1", "report2"}, {"    report1  report2"}},
        {{}, {"\a    (no matches)"}},
    };
    gl_termw = 80;
    for (const auto &c : cases) {
        candidates = c.matches;
        EXPECT_EQ(Complete("ls x", -1, true), "ls x|");
        EXPECT_EQ(Listed(), c.rows);
    }
}

TEST_F(CompleteTest, TooManyMatchesAreOmitted) {
    gl_termw = 80;
    gl_termh = 24;
    candidates = numbered(130);
    Complete("ls f", -1, true);
    auto rows = Listed();
    ASSERT_EQ(rows.size(), 21u);
    EXPECT_EQ(rows[0].substr(0, 26), "    file000000  file000020");
    EXPECT_EQ(rows[19].substr(0, 26), "    file000019  file000039");
    EXPECT_EQ(rows[19].substr(64), "file000119");  // sixth column, last shown
    EXPECT_EQ(rows[20], "    ... 10 others omitted ...");
}

}  // namespace
