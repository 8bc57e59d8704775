// The filename completer and the home directory, on a temporary directory.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

class FilenameTest : public editor_test::EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        ASSERT_TRUE(dir_.ok());
        root_ = dir_.root();
        for (const char *name : {"apple", "apricot", ".hidden", "uniquefile"}) Touch(name);
        ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
        Touch("sub/one");
        Touch("sub/two");
        ASSERT_EQ(mkdir(Path("zdir").c_str(), 0755), 0);
        ASSERT_EQ(symlink("zdir", Path("ylink").c_str()), 0);
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        old_cwd_ = cwd;
        ASSERT_EQ(chdir(root_.c_str()), 0);
        gl_set_completer(nullptr);
        gl_quote_completions = -1;
        gl_show_completion_progress = 0;
        gl_prompt = "";
    }
    void TearDown() override {
        // Run one completion to its end, which closes the listing.
        All("");
        EXPECT_EQ(fc_dir, nullptr);
        EXPECT_EQ(chdir(old_cwd_.c_str()), 0);
        gl_set_home_directory("/nonexistent-home");
        EditorTest::TearDown();
    }
    std::string Path(const std::string &name) const { return dir_.Path(name); }
    void Touch(const std::string &name) { std::ofstream(Path(name)) << "x"; }

    // Every match of word, as the completion driver would ask for them.
    static std::set<std::string> All(const char *word) {
        std::set<std::string> out;
        for (int i = 0;; ++i) {
            char *m = gl_filename_completer(word, i);
            if (m == nullptr) break;
            out.insert(m);
            std::free(m);
        }
        return out;
    }
    // The line after one TAB at its end.
    static std::string Tab(const std::string &line) {
        char buf[256] = {};
        std::memcpy(buf, line.c_str(), line.size());
        int loc = static_cast<int>(line.size());
        gl_complete_word(buf, &loc, sizeof buf, 0);
        return std::string(buf).insert(static_cast<size_t>(loc), "|");
    }

    editor_test::ScratchDir dir_;
    std::string root_, old_cwd_;
};

TEST_F(FilenameTest, EmptyWordListsEverythingButDotAndDotDot) {
    std::set<std::string> want = {"apple", "apricot", ".hidden", "uniquefile",
                                  "sub",   "zdir",    "ylink"};
    EXPECT_EQ(All(""), want);
    EXPECT_EQ(All("ap"), (std::set<std::string>{"apple", "apricot"}));
    EXPECT_EQ(All(".h"), (std::set<std::string>{".hidden"}));
    EXPECT_TRUE(All("nothing").empty());
}

TEST_F(FilenameTest, RootDirectory) {
    std::set<std::string> want;
    DIR *d = opendir("/");
    ASSERT_NE(d, nullptr);
    while (struct dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            want.insert(std::string("/") + e->d_name);
    closedir(d);
    EXPECT_EQ(All("/"), want);
    std::set<std::string> tmp = All("/tm");
    EXPECT_EQ(tmp.count("/tmp"), 1u);
    for (const auto &m : tmp) EXPECT_EQ(m.rfind("/tm", 0), 0u) << m;
}

TEST_F(FilenameTest, DirectoryPartKeptAsTyped) {
    EXPECT_EQ(All("sub/"), (std::set<std::string>{"sub/one", "sub/two"}));
    EXPECT_EQ(All("./sub/t"), (std::set<std::string>{"./sub/two"}));
    EXPECT_EQ(All((root_ + "/sub/o").c_str()), (std::set<std::string>{root_ + "/sub/one"}));
    EXPECT_TRUE(All("missing/").empty());
}

TEST_F(FilenameTest, SuffixSlashForDirectorySpaceForLinkAndFile) {
    EXPECT_EQ(Tab("ls zd"), "ls zdir/|");
    EXPECT_EQ(Tab("ls yl"), "ls ylink |");
    EXPECT_EQ(Tab("ls un"), "ls uniquefile |");
    EXPECT_EQ(Tab("ls su"), "ls sub/|");
    EXPECT_EQ(Tab("ls sub/o"), "ls sub/one |");
}

TEST_F(FilenameTest, FileNamesAreQuotedWhenNeeded) {
    Touch("my file");
    EXPECT_EQ(Tab("ls my"), "ls \"my file\" |");
    Touch("say \"hi\"");
    EXPECT_EQ(Tab("ls sa"), "ls 'say \"hi\"' |");
}

TEST_F(FilenameTest, TildeExpandedForSingleMatchOnly) {
    gl_set_home_directory(root_.c_str());
    EXPECT_EQ(All("~/ap"), (std::set<std::string>{"~/apple", "~/apricot"}));
    EXPECT_EQ(Tab("cat ~/ap"), "cat ~/ap|");
    EXPECT_EQ(Tab("cat ~/un"), "cat " + root_ + "/uniquefile |");
    EXPECT_EQ(Tab("cd ~/zd"), "cd " + root_ + "/zdir/|");
    EXPECT_TRUE(All("~nosuchuser/").empty());
}

TEST_F(FilenameTest, HomeWithTrailingSlashGivesNoDoubleSlash) {
    std::string home = root_ + "/";
    gl_set_home_directory(home.c_str());
    EXPECT_STREQ(gl_home_path, home.c_str());
    EXPECT_EQ(Tab("cat ~/un"), "cat " + root_ + "/uniquefile |");

    // A home of "/" shortens the match: the completer finishes the single
    // match that the driver holds once the listing runs out.
    gl_set_home_directory("/");
    char *list[2] = {strdup("~/abc"), nullptr};
    gl_matches = list;
    EXPECT_EQ(gl_filename_completer("~/no such entry", 1), nullptr);
    gl_matches = nullptr;
    EXPECT_STREQ(list[0], "/abc");
    std::free(list[0]);
}

TEST_F(FilenameTest, HomeDirectoryLookupAndSelfAssignment) {
    gl_set_home_directory(nullptr);
    ASSERT_NE(gl_home_path, nullptr);  // the user database knows root's home
    gl_set_home_directory(gl_home_path);
    ASSERT_NE(gl_home_path, nullptr);
    EXPECT_GT(std::strlen(gl_home_path), 0u);
}

TEST_F(FilenameTest, CalledWithoutTheDriverDoesNotNeedMatchList) {
    ASSERT_EQ(gl_matches, nullptr);
    char *m = gl_filename_completer("uniq", 0);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m, "uniquefile");
    std::free(m);
    EXPECT_EQ(gl_filename_completer("uniq", 1), nullptr);
    EXPECT_EQ(fc_dir, nullptr);
}

}  // namespace
