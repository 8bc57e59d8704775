// Test helper: send the Cred trace into a string for one scope.
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
        CredDebugStream = open_memstream(&data_, &size_);
    }
    ~TraceCapture() {
        Close();
        free(data_);
    }
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    // Everything traced so far; ends the capture.
    std::string Text() {
        Close();
        return std::string(data_, size_);
    }

  private:
    void Close() {
        if (CredDebugStream != saved_) {
            fclose(CredDebugStream);
            CredDebugStream = saved_;
        }
    }
    FILE *saved_ = nullptr;
    char *data_ = nullptr;
    size_t size_ = 0;
};

#endif
