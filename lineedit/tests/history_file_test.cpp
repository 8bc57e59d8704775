// History files written by two programs at once, through a symbolic link.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

std::string ReadAll(const std::string &path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

// Writer w's history, and what its file holds.
std::string FillHistory(int w) {
    hist_release();
    std::string file;
    for (int i = 0; i < 98; ++i) {
        file += "writer " + std::to_string(w) + " line " + std::to_string(i) + "\n";
        gl_add_history(file.c_str() + file.rfind('w'));
    }
    return file;
}

// Whoever reads the file while both write sees one writer's whole file;
// the link stays a link and the file keeps its mode.
TEST(HistoryFileTest, TwoWritersAtOnceThroughALink) {
    char tmpl[] = "/tmp/lineedit-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string target = std::string(tmpl) + "/target", link = std::string(tmpl) + "/link";
    std::ofstream(target) << "old\n";
    chmod(target.c_str(), 0640);
    ASSERT_EQ(symlink("target", link.c_str()), 0);
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        if ((writers[w] = fork()) != 0) continue;
        FillHistory(w);
        for (int k = 0; k < 150; ++k) gl_write_history(link.c_str());
        _exit(0);
    }
    const std::string whole[2] = {FillHistory(0), FillHistory(1)};
    hist_release();
    for (int running = 2; running > 0;) {
        std::string seen = ReadAll(target);
        EXPECT_TRUE(seen == "old\n" || seen == whole[0] || seen == whole[1]) << seen.size();
        running = (waitpid(writers[0], nullptr, WNOHANG) == 0) +
                  (waitpid(writers[1], nullptr, WNOHANG) == 0);
    }
    struct stat st = {};
    EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_TRUE(stat(target.c_str(), &st) == 0 && (st.st_mode & 07777) == 0640);
    EXPECT_NE(ReadAll(target), "old\n");
    std::filesystem::remove_all(tmpl);
}

}  // namespace
