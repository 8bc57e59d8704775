// History files written at the same time by two programs, and through a
// symbolic link.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Writer w's history and what its file holds.
std::string FillHistory(int w) {
    hist_release();
    std::string file;
    for (int i = 0; i < 98; ++i) {
        std::string line = "writer " + std::to_string(w) + " line " + std::to_string(i);
        gl_add_history(line.c_str());
        file += line + "\n";
    }
    return file;
}

// Whoever reads the file while both write sees one writer's whole file.
TEST(HistoryFileTest, TwoWritersAtOnceNeverMixTheirLines) {
    editor_test::ScratchDir dir;
    const std::string path = dir.Path("history");
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            FillHistory(w);
            for (int k = 0; k < 150; ++k) gl_write_history(path.c_str());
            _exit(0);
        }
    }
    const std::string whole[2] = {FillHistory(0), FillHistory(1)};
    hist_release();
    int running = 2, reads = 0;
    while (running > 0) {
        std::string seen = ReadAll(path);
        if (!seen.empty()) ++reads;
        EXPECT_TRUE(seen.empty() || seen == whole[0] || seen == whole[1]) << seen.size();
        running = 0;
        for (pid_t pid : writers) running += waitpid(pid, nullptr, WNOHANG) == 0;
    }
    EXPECT_TRUE(ReadAll(path) == whole[0] || ReadAll(path) == whole[1]);
    EXPECT_GT(reads, 0);
}

TEST(HistoryFileTest, SymbolicLinkIsWrittenThroughAndKept) {
    editor_test::ScratchDir dir;
    std::ofstream(dir.Path("target")) << "old\n";
    chmod(dir.Path("target").c_str(), 0640);
    ASSERT_EQ(symlink("target", dir.Path("link").c_str()), 0);
    std::string expected = FillHistory(7);
    gl_write_history(dir.Path("link").c_str());
    hist_release();
    struct stat st {};
    ASSERT_EQ(lstat(dir.Path("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(dir.Path("target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadAll(dir.Path("target")), expected);
}

}  // namespace
