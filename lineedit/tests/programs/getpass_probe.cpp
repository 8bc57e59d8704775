// Reads secrets with gl_getpass and writes each, in hex, to standard error.
// Usage: getpass_probe [SIZE [COUNT [PROMPT]]]   (defaults 128, 1, "Password: ")
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "lineedit/lineedit.h"

int main(int argc, char **argv) {
    int size = argc > 1 ? std::atoi(argv[1]) : 128;
    int count = argc > 2 ? std::atoi(argv[2]) : 1;
    const char *prompt = argc > 3 ? argv[3] : "Password: ";
    // A hang-up of the terminal must reach the editor as end of input, not
    // end the program.
    std::signal(SIGHUP, SIG_IGN);
    std::setlocale(LC_CTYPE, "");
    std::vector<char> buf(static_cast<size_t>(size) + 16, 'X');
    for (int i = 0; i < count; ++i) {
        gl_getpass(prompt, buf.data(), size);
        std::fprintf(stderr, "got:");
        for (const char *p = buf.data(); *p != '\0'; ++p)
            std::fprintf(stderr, "%02x", static_cast<unsigned char>(*p));
        std::fprintf(stderr, "\n");
    }
    return 0;
}
