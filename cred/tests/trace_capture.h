// Test helper: the Cred trace written while a capture lives goes into a
// string.  The library is started first, so its announcement goes to
// standard error and is not captured.
#ifndef CRED_TESTS_TRACE_CAPTURE_H
#define CRED_TESTS_TRACE_CAPTURE_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cred/cred.h"

class TraceCapture {
  public:
    TraceCapture() : saved_((EnsureCredInit(), CredDebugStream)) { CredDebugStream = stream_; }
    ~TraceCapture() { CredDebugStream = saved_, std::fclose(stream_), std::free(data_); }
    // Everything traced since the capture began or since the last Take.
    std::string Take() {
        std::fflush(stream_);
        std::string text(data_, size_);
        return std::rewind(stream_), text;
    }

  private:
    char *data_ = nullptr;
    size_t size_ = 0;
    FILE *saved_, *stream_ = open_memstream(&data_, &size_);
};

#endif
