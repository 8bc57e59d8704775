// What the line editor writes to the terminal per typed key: a 300-character
// line typed at width 80, through the gl_io seam (no terminal), counting
// every byte written.
#include <benchmark/benchmark.h>

#include <string>

#include "lineedit/internal.h"

namespace {

std::string g_keys;
size_t g_at = 0;
size_t g_written = 0;
size_t g_writes = 0;

ssize_t Read(int, void *buf, size_t n) {
    if (n == 0 || g_at >= g_keys.size()) return 0;
    *static_cast<char *>(buf) = g_keys[g_at++];
    return 1;
}
ssize_t Write(int, const void *, size_t n) {
    g_written += n;
    ++g_writes;
    return static_cast<ssize_t>(n);
}
int IsATTY(int) {
    return 1;
}
int GetAttr(int, struct termios *t) {
    *t = termios{};
    return 0;
}
int SetAttr(int, int, const struct termios *) {
    return 0;
}
int Select(int, fd_set *, fd_set *, fd_set *, struct timeval *) {
    return 1;
}
[[noreturn]] void Exit(int status) {
    std::exit(status);
}

// Types keys into one gl_getline call per iteration; counters give the
// bytes and write calls per key.  scroll 0 keeps the default step (27).
void Run(benchmark::State &state, const std::string &keys, int scroll) {
    gl_io = {Read, Write, IsATTY, GetAttr, SetAttr, Select, Exit, nullptr};
    gl_vi_mode = 0;
    gl_termw = 80;
    gl_scroll = scroll ? scroll : 27;
    g_keys = keys;
    size_t bytes = 0, writes = 0;
    for (auto _ : state) {
        g_at = 0;
        g_written = g_writes = 0;
        if (gl_getline("> ") == nullptr) state.SkipWithError("line not accepted");
        bytes = g_written;
        writes = g_writes;
    }
    const double n = static_cast<double>(keys.size());
    state.counters["keys"] = n;
    state.counters["bytes_per_key"] = static_cast<double>(bytes) / n;
    state.counters["writes_per_key"] = static_cast<double>(writes) / n;
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

const std::string kLine = [] {
    std::string s;
    for (int i = 0; i < 300; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}();

// Typing 300 characters and Return.
void BM_Type300(benchmark::State &state) {
    Run(state, kLine + "\r", static_cast<int>(state.range(0)));
}
BENCHMARK(BM_Type300)->Arg(0)->Arg(1);

// Typing 300 characters, going back 150 and typing 20 more there.
void BM_Type300EditMiddle(benchmark::State &state) {
    Run(state, kLine + std::string(150, '\x02') + std::string(20, 'X') + "\r",
        static_cast<int>(state.range(0)));
}
BENCHMARK(BM_Type300EditMiddle)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
