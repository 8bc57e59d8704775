// Test helper: send the Cred trace into a string while the capture lives.
// The library is initialised first, so its announcement goes to standard
// error and is not part of the captured text.
#ifndef CRED_TESTS_TRACE_CAPTURE_H
#define CRED_TESTS_TRACE_CAPTURE_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cred/cred.h"

class TraceCapture {
  public:
    TraceCapture() {
        EnsureCredInit();
        saved_ = CredDebugStream;
        Open();
    }
    ~TraceCapture() {
        std::fclose(stream_);
        std::free(data_);
        CredDebugStream = saved_;
    }
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    // Everything traced since the capture began or since the last Take;
    // the capture goes on afresh.
    std::string Take() {
        std::fclose(stream_);
        std::string text(data_, size_);
        std::free(data_);
        Open();
        return text;
    }

  private:
    void Open() {
        data_ = nullptr;
        size_ = 0;
        stream_ = open_memstream(&data_, &size_);
        CredDebugStream = stream_;
    }
    FILE *saved_ = nullptr;
    FILE *stream_ = nullptr;
    char *data_ = nullptr;
    size_t size_ = 0;
};

#endif
