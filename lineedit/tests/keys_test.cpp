// gl_getline as a transcript: keys in, the returned line and the exact
// screen bytes out (see keys_fake_terminal.h for the notation); then the
// terminal layer: waits, raw mode and its undoing.
#include <clocale>
#include <sstream>

#include "lineedit/tests/keys_fake_terminal.h"

namespace {

using editor_test::Keys;

struct Row {
    const char *keys, *line, *screen = nullptr;  // screen null: not checked
    const char *matches = nullptr;               // a completer answering these, split at "|"
    int vi = 0;
    const char *prompt = "> ";
    int width = 80;
};

std::vector<std::string> candidates;

char *Scripted(const char *, int i) {
    return i < static_cast<int>(candidates.size()) ? strdup(candidates[i].c_str()) : nullptr;
}

// clang-format off
const Row kRows[] = {
    // First, while the history is not browsed yet: older, newer, and past the newest.
    {"<c-p><c-p><c-n><c-n><c-n><cr>", "\n", "<cr>> ls -l<5*\b>banana<6*\b>ls -l <6*\b><5* ><5*\b><bel><lf><cr>"},
    {"<c-d>", "<null>", "<cr>> <lf><cr>"},
    {"abc", "<null>"},  // end of input drops text never confirmed
    {"abc<c-a><c-d><cr>", "bc\n"},
    {"abc<c-b><c-b>X<cr>", "aXbc\n"},
    {"abc<c-a>X<c-e>Y<cr>", "XabcY\n"},
    {"abcd<c-b><c-b><c-k><c-a><c-y><cr>", "cdab\n"},
    {"foo bar  <c-w><c-y><cr>", "foo bar \n"},
    {"abcd<c-u>xy<cr>", "xy\n"},
    {"ab<bs><del>c<cr>", "c\n"},
    {"ab<c-t><cr>", "ab\n", "<cr>> ab<bel><lf><cr>"},
    {"abc<c-b><c-t>X<cr>", "acXb\n"},
    {"abc<c-a><c-o>XYZW<c-o><cr>", "XYZW\n"},
    {"ab<esc>[01DX<cr>", "aXb\n"},  // the parameter 01 is 1, the default
    {"a\xff<c-b>X<cr>", "aX\xff\n"},  // 0xFF is a character
    {"<esc>[3~x<cr>", "x\n", "<cr>> <bel>x<lf><cr>"},  // Delete never ends the input
    // A paste is text, whose losses ring the bell once; its marks never show.
    {"<esc>[200~a<c-a><c-b>\r\n<esc>[1;5D<esc>[201~<cr>", "a \n", "<cr>> a<bel> <lf><cr>"},
    {"one two<esc>b<esc>bX<esc>fY<cr>", "Xone Ytwo\n"},
    {"a<c-x><c-g>b<cr>", "ab\n", "<cr>> a<bel><bel>b<lf><cr>"},
    // Ctrl-F at the end is silent while completion progress is shown.
    {"ab<c-f><c-a><c-b><cr>", "ab\n", "<cr>> ab<bs><bs><bel><lf><cr>"},
    {"abcd<c-b><c-b><bs><cr>", "acd\n", "<cr>> abcd<bs><bs><bs>cd <bs><bs><bs><lf><cr>"},
    // Kills over 255 characters are refused; exactly 255 are kept.
    {"<300*k><c-a><c-k><c-y><cr>", "<300*k>\n"},
    {"<300*k><c-a><45*\x06><c-k><cr>", "<45*k>\n"},
    // TAB spaces to the next stop, refused where they would push text off.
    {"<tab>x<cr>", "      x\n"},
    {"abcdef<tab>|<cr>", "abcdef  |\n", nullptr, nullptr, 0, ""},
    {"<2044*a><c-a><tab><cr>", "<2044*a>\n"},
    // Escape in emacs mode enters vi commands, but only with text.
    {"abc<esc>hhiX<cr>", "Xabc\n"},
    {"<esc>kkj<cr>", "ls -l\n", nullptr, nullptr, 1},
    {"one two three<esc>^2dw<cr>", "three\n", nullptr, nullptr, 1},
    {"abc<esc>ddxy<cr>", "xy\n", nullptr, nullptr, 1},
    {"abcdef<esc>^3liX<cr>", "abcXdef\n", nullptr, nullptr, 1},
    {"one two<esc>^wiX<cr>", "one Xtwo\n", nullptr, nullptr, 1},
    {"abc<esc>^d$AX<cr>", "X\n", nullptr, nullptr, 1},
    {"abc<esc>^rZ<cr>", "Zbc\n", nullptr, nullptr, 1},
    {"ab<esc>lrZ<cr>", "ab\n", "<cr>> ab<cr>> ab<bs>b<bel><lf><cr>", nullptr, 1},
    {"abc<esc>^r<nul><cr>", "abc\n", "<cr>> abc<cr>> abc<bs><bs><bs><bel><lf><cr>", nullptr, 1},
    {"abc<esc>^dlp<cr>", "bac\n", nullptr, nullptr, 1},
    {"abc<esc>^RXY<cr>", "XYc\n", nullptr, nullptr, 1},
    {"ab<esc>f<esc>X<cr>", "ab\n", nullptr, nullptr, 1},
    {"abc<esc>^5<right>iX<cr>", "aXbc\n", nullptr, nullptr, 1},  // digits wait for a command
    {"abcdefgh<esc>^<35*9>lix<cr>", "abcdefghx\n", nullptr, nullptr, 1},
    {"a b c d e f g<esc>^2d3wiX<cr>", "a b c d e f gX\n", nullptr, nullptr, 1},  // 2 times 3
    // Search: a high byte is text; Escape only ends it; other keys end it and act.
    {"<c-r>\xe9<cr>", "caf\xe9 au lait\n"},
    // Ctrl-R again anchors at the found line; Backspace returns to it.
    {"<c-r>an<c-r>t<bs><c-a>X<cr>", "Xplan two\n"},
    {"<c-r>an<c-r><c-r><c-s><esc>X<cr>", "plXan two\n"},
    {"<c-r>zz<cr>", "\n", "<cr>> <cr>? <bel><cr>z? <bel><cr>zz? <cr>>   <bs><bs><lf><cr>"},
    {"<c-r>ban<esc>", "<null>", "<cr>> <cr>? <cr>b? banana<6*\b><cr>ba? banana<6*\b><cr>ban? banana<6*\b><cr>> banana   <9*\b><lf><cr>"},
    // Prompts of 80 or more are drawn once, not at every key.
    {"abc<c-a><cr>", "abc\n", "<cr><80*p>abc<bs><bs><bs><lf><cr>", nullptr, 0, "<80*p>", 250},
    // Return shows the start of a scrolled line; a prompt leaving under
    // five columns asks for a cursor before the start.
    {"<100*a><cr>", "<100*a>\n"},
    {"ab<cr>", "ab\n", "<cr><77*p>ab<bel><bs><bs><lf><cr>", nullptr, 0, "<77*p>"},
    // Completion: "." and ".." are dropped; a common prefix, never past a
    // shorter match; in a word's middle the rest is kept apart.
    {"ls fo<tab><cr>", "ls foo \n", "<cr>> ls fo...<bs><bs><bs>   <bs><bs><bs>    <cr>> ls foo <lf><cr>", ".|foo|.."},
    {"ls foo<tab><cr>", "ls foo\n", nullptr, "f|foobar"},
    {"ls fox<left><tab><cr>", "ls fooba x\n", nullptr, "foobar|foobaz"},
    {"ls my<tab><cr>", "ls \"my file\" \n", nullptr, "my file"},
    {"ls sa<tab><cr>", "ls 'say \"hi\"' \n", nullptr, "say \"hi\""},
    // Only where there is room: a match is cut, quotes and dots refused.
    {"<2040*x> ab<tab><cr>", "<2040*x> abc \n", nullptr, "abc"},
    {"<2041*x> ab<tab><cr>", "<2041*x> ab\n", nullptr, "abc"},
    // A second TAB lists the matches, a third completes again.
    {"x<tab><tab><cr>", "file0000\n", "<cr>> x...<bs><bs><bs>   <bs><bs><bs>    <cr>> file0000...<bs><bs><bs>   <bs><bs><bs>    <lf><cr>    file<5*0>x  file00002x  file00004x  file00006x<lf><cr>    file00001x  file00003x  file00005x  file00007x<lf><cr><cr>> file0000<cr>> file0000<lf><cr>", "file00000x|file00001x|file00002x|file00003x|file00004x|file00005x|file00006x|file00007x"},
    {"x<tab><tab><cr>", "src/\n", "<cr>> x...<bs><bs><bs>   <bs><bs><bs>    <cr>> src/...<bs><bs><bs>   <bs><bs><bs>    <lf><cr>    Alpha   alpha2  beta    Beta1<lf><cr><cr>> src/<cr>> src/<lf><cr>", "src/beta|src/Alpha|src/alpha2|src/Beta1"},
    {"x<tab><tab><cr>", "x\n", "<cr>> x...<bs><bs><bs>   <bs><bs><bs>    <cr>> x...<bs><bs><bs>   <bs><bs><bs>    <lf><cr><bel>    (no matches)<lf><cr><cr>> x<cr>> x<lf><cr>", ""},
    {"a<tab><tab><tab><cr>", "alp\n", "<cr>> a...<bs><bs><bs>   <bs><bs><bs>    <cr>> alp...<bs><bs><bs>   <bs><bs><bs>    <lf><cr>    alpha.txt   alpine<lf><cr><cr>> alp<cr>> alp...<bs><bs><bs>   <bs><bs><bs>    <cr>> alp<lf><cr>", "alpha.txt|alpine"},
};
// clang-format on

// Keys after typing "one two" (then Escape and a pause in vi command mode)
// and X typed at the cursor (after i in vi command mode): the line, and
// whether the bell rang.  Every mode takes every key alike.
// clang-format off
const struct { const char *keys, *line; bool bell = false; } kSequences[] = {
    {"<esc>[H", "Xone two"}, {"<esc>[1~", "Xone two"}, {"<esc>[7~", "Xone two"},
    {"<esc>OH", "Xone two"}, {"<c-a><esc>[F", "one twoX"}, {"<c-a><esc>[4~", "one twoX"},
    {"<c-a><esc>[8~", "one twoX"}, {"<c-a><esc>OF", "one twoX"}, {"<c-a><esc>[3~", "Xne two"},
    {"<c-a><esc>[1;5C", "one Xtwo"}, {"<c-a><esc>[1;3C", "one Xtwo"},
    {"<c-e><esc>[1;5D", "one Xtwo"}, {"<c-e><esc>[1;3D", "one Xtwo"},
    // Unknown: parameters, modifiers, private markers, intermediates, too
    // many numbers, too long; a control key cuts one short and acts.
    {"<c-e><esc>[2~<esc>[1;2C<esc>[?2004h<esc>[2 q", "one twoX", true},
    {"<c-e><esc>[1;5;2D<esc>[<20*1>~<esc>Oz", "one twoX", true}, {"<c-e><esc>[1<c-a>", "Xone two", true},
    // Pastes: text whose line ends and tabs are spaces; what does not fit is lost.
    {"<c-e><esc>[201~", "one twoX"}, {"<c-e><esc>[200~ a\tb<c-w>\r\nc<esc>[201~", "one two a b cX", true},
    {"<c-e><esc>[200~<2045*x><esc>[201~", "one two<2039*x>", true},
};
// clang-format on

class KeysTest : public editor_test::EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        gl_quote_completions = 1;
        for (const char *line :
             {"ant one", "make all", "plan two", "caf\xe9 au lait", "banana", "ls -l"})
            gl_add_history(line);
    }
};

TEST_F(KeysTest, Transcripts) {
    for (const Row &r : kRows) {
        SCOPED_TRACE(r.keys);
        gl_vi_mode = r.vi;
        gl_setwidth(r.width);
        gl_overwrite = 0;
        std::istringstream matches(r.matches ? r.matches : "");
        candidates.clear();
        for (std::string m; std::getline(matches, m, '|');) candidates.push_back(m);
        gl_completer = r.matches ? Scripted : nullptr;
        EXPECT_EQ(Line(r.keys, Keys(r.prompt)), Keys(r.line));
        EXPECT_EQ(gl_last_result(), std::string(r.line) == "<null>" ? -1 : 0);
        EXPECT_EQ(Screen(), r.screen ? Keys(r.screen) : Screen());
    }
}

TEST_F(KeysTest, KeySequencesInEveryMode) {
    for (int mode = 0; mode < 3; ++mode) {  // emacs, vi insert, vi command (Escape, a pause)
        for (const auto &r : kSequences) {
            gl_vi_mode = mode > 0;
            keyboard_.waits.assign(mode == 2, 0);
            std::string keys = mode == 2 ? std::string("<esc>") + r.keys + "i" : r.keys;
            EXPECT_EQ(Line("one two" + keys + "X<cr>"), Keys(r.line) + "\n") << keys;
            EXPECT_EQ(Screen().find('\a') != std::string::npos, r.bell) << keys;
        }
    }
}

TEST_F(KeysTest, BracketedPasteIsAskedForWhileKeysAreRead) {
    auto old = std::signal(SIGINT, SIG_IGN);
    gl_bracketed_paste(1);
    for (const char *keys : {"ab<cr>", "<c-d>", "ab", "ab<c-c>"}) {  // end of input, a signal
        const std::string screen = (Line(keys), gl_cleanup(), Screen());
        EXPECT_EQ(screen.rfind("\x1b[?2004h"), 0u) << keys;  // once, before the prompt
        EXPECT_NE(screen.find("\x1b[?2004l"), std::string::npos) << keys;
    }
    std::signal(SIGINT, old);
}

// In UTF-8, vi counts, r and the Delete key take a letter with its marks.
TEST_F(KeysTest, MarksGoWithTheirCharacter) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    gl_vi_mode = 1;
    EXPECT_EQ(Line("ae\u0301be\u0301<esc>^2lrZ<c-a>l<esc>[3~<cr>"), "aZe\u0301\n");
    std::setlocale(LC_CTYPE, "C");
}

TEST_F(KeysTest, HooksSearchStateAndSignals) {
    gl_load_hook = [](char *buf) {
        if (buf[0] == '\0') std::strcpy(buf, "preset");
        if (buf[0] == 'b') std::memset(buf, 'x', GL_BUF_SIZE);  // no terminator
        return 0;
    };
    EXPECT_EQ(Line("<cr>"), "preset\n");
    EXPECT_EQ(Line("<c-p>!<cr>"), "ls -l!\n");
    std::strcpy(gl_buf, "b"), gl_prompt = "> ";
    srch_end();  // the hook's line is cut to fit
    EXPECT_EQ(std::strlen(gl_buf), GL_BUF_SIZE - 1u);
    gl_load_hook = nullptr;
    gl_accept_hook = [](char *buf) { return std::memset(buf, 'x', GL_BUF_SIZE - 1), 0; };
    EXPECT_EQ(Line("short<cr>"), Keys("<2046*x>\n"));
    gl_accept_hook = nullptr;
    gl_completer = Scripted;
    candidates = {"a b"};
    gl_quote_completions = -1;  // then only file names are quoted
    EXPECT_EQ(Line("a<tab><cr>"), "a b \n");
    gl_quote_completions = 1, gl_show_completion_progress = 0;
    EXPECT_EQ(Line("<2040*x> a<tab><cr>"), Keys("<2040*x> \"a \" \n"));  // the match cut
    EXPECT_EQ(Line("<2041*x> a<tab><cr>"), Keys("<2041*x> a\n"));        // no room for the quotes
    gl_scroll = 0;                                                       // taken as 1
    EXPECT_EQ(Line("<100*a><cr>"), Keys("<100*a>\n"));
    EXPECT_EQ(Line("<c-r><77*q>r"), "<null>");  // a 78th character is dropped
    EXPECT_EQ(srch_len, 77);
    EXPECT_EQ(Line("x<cr>"), "x\n");  // the search left active is reset
    static int interrupts = 0;
    struct sigaction action {
    }, old{};
    action.sa_handler = [](int) { ++interrupts; };
    sigaction(SIGINT, &action, &old);
    EXPECT_EQ(Line("abc<c-c>"), "");
    EXPECT_EQ(std::vector<int>({gl_last_result(), interrupts, gl_init_state}),
              std::vector<int>({-2, 1, 1}));
    EXPECT_EQ(Screen(), Keys("<cr>> abc<lf><cr><cr>> "));  // raw still, until the next call
    sigaction(SIGINT, &old, nullptr);
    gl_cleanup();
    keyboard_.tty.c_cc[VINTR] = 127;  // bound keys are never signal characters
    EXPECT_EQ(Line("ab<del><cr>"), "a\n");
}

TEST_F(KeysTest, HistoryRingAndFiles) {
    char tmpl[] = "/tmp/lineedit-test-XXXXXX";
    const std::string r = mkdtemp(tmpl), h = r + "/h", fresh = r + "/new";
    auto file = [](const std::string &path) {
        return (std::stringstream() << std::ifstream(path).rdbuf()).str();
    };
    hist_release();
    for (int i = 0; i < 350; ++i) gl_add_history(("line" + std::to_string(i)).c_str());
    hist_older();
    EXPECT_STREQ(hist_older(), "line348");  // browsing changes nothing that is written
    std::string want;
    for (int i = 252; i < 350; ++i) want += "line" + std::to_string(i) + "\n";
    gl_write_history(h.c_str());
    EXPECT_EQ(file(h), want);
    // New files are private, old ones keep their mode.
    mode_t mask = umask(0);
    chmod(h.c_str(), 0644);
    gl_write_history(h.c_str());
    gl_write_history(fresh.c_str());
    umask(mask);
    struct stat st[2] = {};
    EXPECT_EQ(stat(h.c_str(), &st[0]) + stat(fresh.c_str(), &st[1]), 0);
    EXPECT_EQ((st[0].st_mode & 0777) | (st[1].st_mode & 0777) << 9, 0644u | 0600u << 9);
    EXPECT_EQ(file(h), file(fresh));
    std::filesystem::remove_all(r);
}

TEST_F(KeysTest, FileNamesAndTheHomeDirectory) {
    char tmpl[] = "/tmp/lineedit-test-XXXXXX";
    const std::string r = mkdtemp(tmpl);
    std::ofstream(r + "/my file"), std::ofstream(r + "/.hidden"), std::ofstream(r + "/apple");
    mkdir((r + "/sub").c_str(), 0755);
    gl_completer = gl_filename_completer;
    gl_quote_completions = -1;
    gl_set_home_directory((r + "/").c_str());  // no double slash after it
    for (auto [keys, line] : std::vector<std::pair<std::string, std::string>>{
             {"ls ~/ap<tab>", "ls " + r + "/apple "},  // "~" expanded for a single match only
             {"ls ~/<tab>", "ls ~/"},
             {"ls ~/su<tab>", "ls " + r + "/sub/"},
             {"ls \"" + r + "/my<tab>", "ls \"" + r + "/my file\" "},
         })
        EXPECT_EQ(Line(keys + "<cr>"), line + "\n");
    std::filesystem::remove_all(r);
    gl_set_home_directory("/");  // "~/" becomes "/", not "//"
    EXPECT_EQ(Line("ls ~/tm<tab><cr>"), "ls /tmp/\n");
    gl_set_home_directory(nullptr);  // root's home from the user database
    gl_set_home_directory(gl_home_path);
    EXPECT_GT(std::strlen(gl_home_path), 0u);
    gl_set_home_directory("/nonexistent-home");
}

// A cooked terminal as a login shell leaves it, and what raw mode makes of it.
// clang-format off
const struct termios kCooked = {ICRNL | BRKINT | ISTRIP | IXON | IXOFF | IMAXBEL | INPCK, OPOST | ONLCR,
    CS8 | CREAD | HUPCL, ECHO | ECHOE | ECHOK | ICANON | ISIG | IEXTEN, 0, {3, 28, 0, 0, 0, 7, 4, 0, 0, 0, 26}, 0, 0};
const struct termios kRaw = {ICRNL | IMAXBEL | INPCK | IGNBRK | IGNPAR, OPOST | ONLCR,
    CS8 | CREAD | HUPCL, ECHOE | ECHOK, 0, {3, 28, 0, 0, 0, 0, 1, 0, 0, 0, 26}, 0, 0};
// clang-format on

bool Is(const struct termios &want) {
    const struct termios &t = editor_test::keyboard->tty;
    return t.c_iflag == want.c_iflag && t.c_oflag == want.c_oflag && t.c_cflag == want.c_cflag &&
           t.c_lflag == want.c_lflag && std::memcmp(t.c_cc, want.c_cc, NCCS) == 0;
}

class TerminalTest : public editor_test::EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        keyboard_.tty = kCooked;
        gl_init_state = -1;  // as in a new process
    }
};

TEST_F(TerminalTest, MaskedEntryLeavesABufferItCannotUseAlone) {
    char buf[1] = {'x'};
    EXPECT_EQ(gl_getpass("Password: ", nullptr, 16), nullptr);
    for (int size : {0, -1}) EXPECT_EQ(gl_getpass("Password: ", buf, size), buf);
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(Screen(), "");
}

TEST_F(TerminalTest, ReadsAndWaits) {
    // 'x', an interrupted read, a typed NUL, 0xFF (a byte like any other),
    // 0x80, end of input, EIO, 'z'
    keyboard_.keys = std::string("x\0\xff\x80z", 5);
    keyboard_.fails = {{1, EINTR}, {4, 0}, {4, EIO}};
    for (int want : {120, 0, -1, -128, 0, GL_READ_ERROR, 122}) EXPECT_EQ(gl_getc(), want);
    // A timeout, then a wait interrupted once is restarted in full.
    keyboard_.keys = "\xe9", keyboard_.next = 0;
    keyboard_.waits = {0, -1, 1};
    EXPECT_EQ(gl_getc_timed(3), GL_TIMEOUT);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(gl_getc_timed(25), -23);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(keyboard_.timeouts[i].tv_sec * 1000000 + keyboard_.timeouts[i].tv_usec,
                  i ? 2500000 : 300000);
}

TEST_F(TerminalTest, RawModeChangesExactlyTheListedFlagsAndIsUndoneOnce) {
    gl_cleanup();  // before any init: the terminal is left alone
    gl_init();
    EXPECT_TRUE(Is(kRaw));
    gl_init();  // still raw, as after a signal character: the first saved settings stay
    EXPECT_EQ(std::vector<int>({gl_intrc, gl_quitc, gl_suspc, gl_dsuspc}),
              std::vector<int>({3, 28, 26, 0}));
    gl_cleanup();
    gl_cleanup();
    EXPECT_EQ(keyboard_.sets, 3);
    EXPECT_TRUE(Is(kCooked));
    keyboard_.tty.c_cc[VINTR] = 7;  // changed between entries: taken afresh
    gl_init();
    gl_cleanup();
    EXPECT_EQ(keyboard_.tty.c_cc[VINTR], 7);
}

TEST_F(TerminalTest, FatalErrorsRestoreTheTerminal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    gl_setheight(10);  // the smallest height
    EXPECT_EQ(gl_termh, 10);
    EXPECT_EXIT(gl_setheight(9), testing::ExitedWithCode(1), "height is 10");
    EXPECT_EXIT(gl_setwidth(20), testing::ExitedWithCode(1),
                "^\n\\*\\*\\* Error: minimum screen width is 21\n$");
    gl_io.exit = [](int status) {  // reports how the terminal was left
        std::fputs(Is(kCooked) ? "restored" : "raw", stderr);
        if (editor_test::keyboard->screen.ends_with("\x1b[?2004l"))
            std::fputs(", no paste marks", stderr);
        _exit(status);
    };
    EXPECT_EXIT((gl_init(), gl_error("boom\n")), testing::ExitedWithCode(1), "^boom\nrestored$");
    gl_bracketed_paste(1);
    gl_load_hook = [](char *) { return gl_setwidth(1), 0; };  // a fatal error inside gl_getline
    EXPECT_EXIT(gl_getline("> "), testing::ExitedWithCode(1), "21\nrestored, no paste marks$");
}

}  // namespace
