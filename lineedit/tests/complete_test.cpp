// The completion driver with a scripted completer, the match listing, and
// the filename completer on a scratch folder.
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

std::vector<std::string> candidates;
std::vector<int> indexes_seen;
std::string completer_word;

char *Scripted(const char *word, int index) {
    completer_word = word;
    indexes_seen.push_back(index);
    return static_cast<size_t>(index) < candidates.size() ? strdup(candidates[index].c_str())
                                                          : nullptr;
}

class CompleteTest : public editor_test::EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        gl_completer = Scripted;
        gl_quote_completions = gl_show_completion_progress = 0;
        gl_termh = 24;
        gl_prompt = "";
    }
    void TearDown() override {
        gl_quote_completions = -1;
        gl_set_home_directory("/nonexistent-home");
        EditorTest::TearDown();
    }
    // Completes line with the cursor at cursor (end when -1) in a buffer of
    // size bytes; the line comes back with "|" at the new cursor.
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
};

TEST_F(CompleteTest, PutsInSingleMatchOrCommonPrefix) {
    const struct {
        std::vector<std::string> matches;
        const char *line;
        int cursor, quote;
        size_t size;
        const char *want, *word;  // word: what the completer is given, null unchecked
    } cases[] = {
        {{".", "foo", ".."}, "ls fo", -1, 0, 64, "ls foo |", "fo"},  // "." and ".." dropped
        {{"foobar", "foobaz", "fooba"}, "ls fo", -1, 0, 64, "ls fooba|", nullptr},
        {{"abc", "abd"}, "x ab", -1, 0, 64, "x ab|", nullptr},
        {{}, "ls fo", -1, 0, 64, "ls fo|", nullptr},
        {{"a", "b"}, "ls ", -1, 0, 64, "ls |", ""},
        {{"f", "foobar"}, "ls foo", -1, 0, 64, "ls foo|", nullptr},  // match shorter than the word
        {{"foobar", "foobaz"}, "ls fox", 5, 0, 64, "ls fooba| x", "fo"},
        {{"foa", "fob"}, "ls fox", 5, 0, 64, "ls fo| x", nullptr},
        {{"foo"}, "ls fox", 5, 0, 64, "ls foo |x", nullptr},
        {{"my file"}, "ls my", -1, 1, 64, "ls \"my file\" |", nullptr},
        {{"say \"hi\""}, "ls sa", -1, 1, 64, "ls 'say \"hi\"' |", nullptr},
        {{"my file"}, "ls my", -1, 0, 64, "ls my file |", nullptr},
        {{"my file"}, "ls \"it's\" \"my", -1, 1, 64, "ls \"it's\" \"my file\" |", "my"},
        {{"my file"}, "ls 'a \"b", -1, 1, 64, "ls 'my file' |", "a \"b"},
        // Room for the line is size - 4 = 12; the match is cut, its suffix kept.
        {{"abcdefghijklmnopqrstuvwxyz"}, "ls ab", -1, 0, 16, "ls abcdefghi |", nullptr},
        {{"abcdefghijklmnopqrstuvwxyz"}, "ls abX", 5, 0, 16, "ls abcdefgh |X", nullptr},
        {{"a b"}, "xxxxxxxxxxxx a", -1, 1, 16, "xxxxxxxxxxxx a|", nullptr},  // no room to quote
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        candidates = c.matches;
        gl_quote_completions = c.quote;
        EXPECT_EQ(Complete(c.line, c.cursor, false, c.size), c.want);
        EXPECT_EQ(completer_word, c.word ? c.word : completer_word);
        EXPECT_EQ(indexes_seen.size(), c.matches.size() + 1);
        EXPECT_EQ(keyboard_.screen.find('\a') != std::string::npos, c.quote && c.size == 16);
    }
    gl_show_completion_progress = 1;  // the dots do not fit: bell, completer not asked
    EXPECT_EQ(Complete("ls abcdefghij", -1, false, 16), "ls abcdefghij|");
    EXPECT_EQ(Screen(), "<bel>");
    EXPECT_TRUE(indexes_seen.empty());
    candidates = {"foo"};  // the dots shown are cleared
    std::strcpy(gl_buf, "ls fo");
    int loc = gl_pos = gl_cnt = 5;
    keyboard_.screen.clear();
    gl_complete_word(gl_buf, &loc, GL_BUF_SIZE, 0);
    EXPECT_STREQ(gl_buf, "ls foo ");
    EXPECT_EQ(Screen(), "...<bs><bs><bs>    ");
    gl_buf[0] = '\0';
    gl_pos = gl_cnt = 0;
}

std::vector<std::string> Numbered(int n) {
    std::vector<std::string> v;
    for (int i = 0; i < n; ++i) v.push_back("file" + std::to_string(100000 + i).substr(1) + "x");
    return v;
}

TEST_F(CompleteTest, ListsInColumnsDownThenAcross) {
    struct {
        std::vector<std::string> matches;
        const char *screen;
    } cases[] = {
        // (80 - 8) / (10 + 2) = 6 columns of 12.
        {Numbered(8),
         "<lf><cr>    file<5*0>x  file00002x  file00004x  file00006x<lf><cr>"
         "    file00001x  file00003x  file00005x  file00007x<lf><cr><cr>"},
        // Widest shown name 6: 9 columns of 8; no common folder; case ignored.
        {{"src/beta", "src/Alpha", "src/alpha2", "src/Beta1"},
         "<lf><cr>    Alpha   alpha2  beta    Beta1<lf><cr><cr>"},
        {{}, "<lf><cr><bel>    (no matches)<lf><cr><cr>"},
    };
    for (const auto &c : cases) {
        candidates = c.matches;
        EXPECT_EQ(Complete("ls x", -1, true), "ls x|");
        EXPECT_EQ(Screen(), c.screen);
    }
    candidates = Numbered(130);  // 21 rows fit: 120 shown
    Complete("ls f", -1, true);
    EXPECT_NE(Screen().find("<lf><cr>    file00019x  file00039x"), std::string::npos);
    EXPECT_NE(Screen().find("file00119x<lf><cr>    ... 10 others omitted ...<lf><cr>"),
              std::string::npos);
    EXPECT_EQ(Screen().find("file00120x"), std::string::npos);
}

TEST_F(CompleteTest, FileNames) {
    editor_test::ScratchDir dir;
    for (const char *name : {"apple", "apricot", ".hidden", "uniquefile", "my file", "sub/"}) {
        std::string path = dir.Path(name);
        path.back() == '/' ? (void)mkdir(path.c_str(), 0755) : (void)std::ofstream(path);
    }
    ASSERT_EQ(symlink("sub", dir.Path("ylink").c_str()), 0);
    auto all = [](const std::string &word) {
        std::set<std::string> out;
        for (int i = 0; char *m = gl_filename_completer(word.c_str(), i); ++i)
            out.insert(m), free(m);
        return out;
    };
    const std::string r = dir.root;
    EXPECT_EQ(all(r + "/"),
              (std::set<std::string>{r + "/apple", r + "/apricot", r + "/.hidden", r + "/ylink",
                                     r + "/uniquefile", r + "/my file", r + "/sub"}));
    EXPECT_EQ(all(r + "/.h"), std::set<std::string>{r + "/.hidden"});
    EXPECT_TRUE(all(r + "/missing/").empty());
    EXPECT_EQ(all("/tm").count("/tmp"), 1u);
    ASSERT_EQ(fc_dir, nullptr);
    gl_completer = gl_filename_completer;
    gl_quote_completions = -1;
    gl_set_home_directory((r + "/").c_str());  // no double slash after it
    for (auto [line, want] : std::vector<std::pair<std::string, std::string>>{
             {"ls ~/ap", "ls ~/ap|"},
             {"ls ~/un", "ls " + r + "/uniquefile |"},
             {"ls ~/su", "ls " + r + "/sub/|"},
             {"ls ~/yl", "ls " + r + "/ylink |"},
             {"ls ~/my", "ls \"" + r + "/my file\" |"},
         })
        EXPECT_EQ(Complete(line, -1, false, 256), want);
    EXPECT_EQ(all("~/ap"), (std::set<std::string>{"~/apple", "~/apricot"}));
    EXPECT_TRUE(all("~nosuchuser/").empty());
    // A home of "/" shortens the match that the driver holds.
    gl_set_home_directory("/");
    char *list[2] = {strdup("~/abc"), nullptr};
    gl_matches = list;
    EXPECT_EQ(gl_filename_completer("~/no such entry", 1), nullptr);
    gl_matches = nullptr;
    EXPECT_STREQ(list[0], "/abc");
    free(list[0]);
    gl_set_home_directory(nullptr);  // root's home from the user database
    gl_set_home_directory(gl_home_path);
    EXPECT_GT(std::strlen(gl_home_path), 0u);
}

}  // namespace
