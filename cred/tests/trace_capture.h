// Test helper: the Cred trace written while a capture lives goes into a
// string.  The library is started first, so its announcement goes to
// standard error and is not captured.
#ifndef CRED_TESTS_TRACE_CAPTURE_H
#define CRED_TESTS_TRACE_CAPTURE_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cred/cred.h"

struct TraceCapture {
    TraceCapture() : saved((EnsureCredInit(), CredDebugStream)) { CredDebugStream = stream; }
    ~TraceCapture() { CredDebugStream = saved, std::fclose(stream), std::free(data); }
    // Everything traced since the capture began or since the last Take.
    std::string Take() {
        std::fflush(stream);
        std::string text(data, size);
        return std::rewind(stream), text;
    }
    char *data = nullptr;
    size_t size = 0;
    FILE *saved, *stream = open_memstream(&data, &size);
};

#endif
