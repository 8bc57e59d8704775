// Helpers shared by the fuzz targets: reading typed pieces from the input
// and a trace stream that throws everything away.
#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/discard.h"

namespace fuzz {

// Takes bytes off the front of the fuzzer's input; past its end every
// request gets zeros or nothing.
class Input {
  public:
    Input(const uint8_t *data, size_t size) : p_(data), left_(size) {}

    uint8_t Byte() {
        if (left_ == 0) return 0;
        --left_;
        return *p_++;
    }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    // Up to n bytes as a string (it may hold NUL bytes).
    std::string Bytes(size_t n) {
        if (n > left_) n = left_;
        std::string s(reinterpret_cast<const char *>(p_), n);
        p_ += n;
        left_ -= n;
        return s;
    }
    // A string whose length comes first, as one byte.
    std::string Sized() { return Bytes(Byte()); }
    std::string Rest() { return Bytes(left_); }
    size_t Left() const { return left_; }

  private:
    const uint8_t *p_;
    size_t left_;
};

// The trace stream that throws everything away (shared with the benchmarks).
using ::DiscardStream;

// The text up to its first NUL byte.
inline std::string CString(const std::string &s) {
    return std::string(s.c_str());
}

[[noreturn]] inline void Fail(const char *what) {
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
}

}  // namespace fuzz

#endif
