// Reading a history file of arbitrary contents, browsing it and writing it
// back.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "fuzz_common.h"
#include "lineedit/internal.h"

namespace {

// In memory where the machine has it: a file system on disk makes every
// run wait for the truncation and the rewrite.
char g_in[64] = "/tmp/fuzz-history-in-XXXXXX";
char g_out[64] = "/tmp/fuzz-history-out-XXXXXX";
int g_inFd = -1;

ssize_t Discard(int, const void *, size_t n) {
    return static_cast<ssize_t>(n);
}

void RemoveFiles() {
    unlink(g_in);
    unlink(g_out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (access("/dev/shm", W_OK) == 0) {
        strcpy(g_in, "/dev/shm/fuzz-history-in-XXXXXX");
        strcpy(g_out, "/dev/shm/fuzz-history-out-XXXXXX");
    }
    g_inFd = mkstemp(g_in);
    int out = mkstemp(g_out);
    if (g_inFd < 0 || out < 0) abort();
    close(out);
    atexit(RemoveFiles);
    gl_io.write = Discard;  // the bell of a browse past the end
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (ftruncate(g_inFd, 0) != 0 || pwrite(g_inFd, data, size, 0) != static_cast<ssize_t>(size))
        abort();
    gl_read_history(g_in);
    for (int i = 0; i < HIST_SLOTS; ++i) {
        const char *line = hist_ring[i];
        if (line != nullptr && strlen(line) > 253) fuzz::Fail("history line longer than a piece");
    }
    // Browse to the oldest end and back, then write the ring out.
    for (int i = 0; i < 3; ++i)
        if (hist_older() == nullptr) fuzz::Fail("hist_older returned null");
    for (int i = 0; i < 4; ++i)
        if (hist_newer() == nullptr) fuzz::Fail("hist_newer returned null");
    gl_write_history(g_out);
    gl_dispose();
    return 0;
}
