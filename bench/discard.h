// Trace streams for the benchmarks: one that drops every byte without a
// system call, and /dev/null.
#ifndef BENCH_DISCARD_H
#define BENCH_DISCARD_H

#include <cstdio>

inline FILE *DiscardStream() {
    static FILE *stream = [] {
        cookie_io_functions_t io{};
        io.write = [](void *, const char *, size_t n) -> ssize_t {
            return static_cast<ssize_t>(n);
        };
        return fopencookie(nullptr, "w", io);
    }();
    return stream;
}

inline FILE *DevNullStream() {
    static FILE *stream = fopen("/dev/null", "w");
    return stream;
}

#endif
