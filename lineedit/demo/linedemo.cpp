// linedemo: read lines with the line editor and print each one back.
//
// Shows how to embed the editor: a prompt loop around gl_getline, a
// history file read at the start and written at the end, file-name
// completion on TAB, pastes taken as text, and gl_dispose before leaving.
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lineedit/lineedit.h"

namespace {

const char kUsage[] =
    "usage: linedemo [-p PROMPT] [-w WIDTH] [-s] [HISTORY-FILE]\n"
    "  Reads lines at the terminal and prints each one back; Ctrl-D on an\n"
    "  empty line ends.  TAB completes file names.  A paste is text: its\n"
    "  line ends and tabs become spaces, and nothing in it acts as a key.\n"
    "  -p PROMPT  the prompt (default \"> \")\n"
    "  -w WIDTH   a fixed screen width (21 to 250), scrolled one column at a time\n"
    "  -s         handle SIGINT and SIGTSTP with a printed line instead of\n"
    "             ending or stopping, so Ctrl-C and Ctrl-Z return to the editor;\n"
    "             ignore SIGHUP, so a hang-up shows as the end of input; count\n"
    "             window resizes (SIGWINCH) and print the count at the end\n"
    "  HISTORY-FILE  lines kept between runs: read at the start, written at the end\n";

struct Options {
    const char *prompt = "> ";
    int width = 0;
    bool handlers = false;
    const char *history = nullptr;
};

// A handler may only use async-signal-safe calls, so it writes directly.
void on_signal(int sig) {
    const char *text = sig == SIGINT ? "[SIGINT]\n" : "[SIGTSTP]\n";
    ssize_t ignored = write(1, text, std::strlen(text));
    (void)ignored;
}

volatile sig_atomic_t resizes = 0;

void on_resize(int) {
    resizes = resizes + 1;
}

void install_handlers() {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTSTP, &action, nullptr);
    action.sa_handler = on_resize;
    sigaction(SIGWINCH, &action, nullptr);
    signal(SIGHUP, SIG_IGN);
}

bool parse(int argc, char **argv, Options &opt) {
    int c;
    while ((c = getopt(argc, argv, "p:w:s")) != -1) {
        switch (c) {
            case 'p':
                opt.prompt = optarg;
                break;
            case 'w':
                opt.width = std::atoi(optarg);
                break;
            case 's':
                opt.handlers = true;
                break;
            default:
                return false;
        }
    }
    if (optind < argc) opt.history = argv[optind++];
    return optind == argc;
}

}  // namespace

int main(int argc, char **argv) {
    std::setlocale(LC_CTYPE, "");  // the editor works on characters in UTF-8
    Options opt;
    if (!parse(argc, argv, opt)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (opt.handlers) install_handlers();
    if (opt.width > 0) gl_setwidth(opt.width);
    if (opt.history) gl_read_history(opt.history);
    gl_set_completer(nullptr);  // complete file names
    gl_bracketed_paste(1);      // the terminal marks pastes, which are then text

    while (const char *line = gl_getline(opt.prompt)) {
        if (gl_last_result() == -2) {
            std::printf("(interrupted)\n");
        } else if (gl_last_result() == -3) {
            std::printf("(suspended)\n");
        } else {
            std::printf("line: %s", line);  // the line ends with "\n"
            gl_add_history(line);
        }
        std::fflush(stdout);
    }

    if (opt.history) gl_write_history(opt.history);
    gl_dispose();
    if (opt.handlers) std::printf("resizes: %d\n", static_cast<int>(resizes));
    return 0;
}
