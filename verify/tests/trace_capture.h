// Captures what the library writes to CredDebugStream while it lives.
#ifndef VERIFY_TESTS_TRACE_CAPTURE_H
#define VERIFY_TESTS_TRACE_CAPTURE_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cred/cred.h"

class TraceCapture {
  public:
    TraceCapture() : saved_(CredDebugStream), stream_(open_memstream(&buf_, &size_)) {
        CredDebugStream = stream_;
    }
    ~TraceCapture() {
        CredDebugStream = saved_;
        std::fclose(stream_);
        std::free(buf_);
    }
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    // Everything written so far; the capture starts afresh.
    std::string Take() {
        std::fclose(stream_);
        std::string text(buf_, size_);
        std::free(buf_);
        buf_ = nullptr;
        size_ = 0;
        stream_ = open_memstream(&buf_, &size_);
        CredDebugStream = stream_;
        return text;
    }

  private:
    FILE *saved_;
    char *buf_ = nullptr;
    size_t size_ = 0;
    FILE *stream_;
};

#endif
