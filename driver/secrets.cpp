// secrets.cpp - buffers that held a password, a guess or an encrypted
// password are cleared before the process ends, on every path through
// exit(), including the line editor's own fatal errors.
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/driver.h"

namespace credcheck {
namespace {

struct Region {
    void *start;
    std::size_t size;
};

// The modes register a handful of buffers; this is far more than enough.
constexpr std::size_t kMaxRegions = 16;
Region regions[kMaxRegions];
std::size_t regionCount = 0;
bool registered = false;

void WipeAll() {
    for (std::size_t i = 0; i < regionCount; ++i) explicit_bzero(regions[i].start, regions[i].size);
    regionCount = 0;
}

}  // namespace

void WipeAtExit(void *p, std::size_t size) {
    if (!registered) registered = std::atexit(WipeAll) == 0;
    if (regionCount == kMaxRegions) std::abort();  // a programming error, never input
    regions[regionCount++] = Region{p, size};
}

void WipeArgumentAtExit(int argc, char **argv, int index) {
    if (index < argc && argv[index] != nullptr) WipeAtExit(argv[index], std::strlen(argv[index]));
}

[[noreturn]] void FinishReport(int status) {
    WipeAll();
    errno = 0;
    bool failed = std::fflush(stdout) != 0 || std::ferror(stdout);
    if (failed) {
        int saved = errno;
        std::fprintf(stderr, "credcheck: the report could not be written to standard output%s%s\n",
                     saved != 0 ? ": " : "", saved != 0 ? std::strerror(saved) : "");
        std::exit(kUsageStatus);
    }
    std::exit(status);
}

void HoldStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // Read-only, so that writing to a closed output still fails.
        int held = open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}

[[noreturn]] void Finish(int status) {
    WipeAll();
    std::fflush(Report());
    std::exit(status);
}

}  // namespace credcheck
