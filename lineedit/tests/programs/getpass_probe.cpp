// Reads secrets with gl_getpass and writes each, in hex, to standard error,
// with the byte just past the buffer, which must stay 'X' (58).
// Usage: getpass_probe [SIZE [COUNT]]   (defaults 128, 1)
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lineedit/lineedit.h"

int main(int argc, char **argv) {
    int size = argc > 1 ? std::atoi(argv[1]) : 128, count = argc > 2 ? std::atoi(argv[2]) : 1;
    std::signal(SIGHUP, SIG_IGN);  // a hang-up must reach the editor as end of input
    std::setlocale(LC_CTYPE, "");
    for (std::string buf(size + 16, 'X'); count-- > 0;) {
        gl_getpass("Password: ", buf.data(), size);
        std::fprintf(stderr, "got:");
        for (const char *p = buf.c_str(); *p != '\0'; ++p)
            std::fprintf(stderr, "%02x", static_cast<unsigned char>(*p));
        std::fprintf(stderr, " past:%02x\n", buf[size]);
    }
}
