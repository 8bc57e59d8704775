// What the line editor writes to the terminal per typed key: a 300-character
// line typed (or pasted) at width 80, through the gl_io seam (no terminal),
// counting every byte written and every write call.  The line is ASCII, or
// 2-byte or 3-byte (two columns wide) UTF-8 characters, typed in a UTF-8
// locale.
#include <benchmark/benchmark.h>

#include <clocale>
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

// Keys: bytes that do not continue a UTF-8 character; an escape sequence
// (ESC [ or ESC O up to its final byte) is one key.
double KeysIn(const std::string &bytes) {
    double n = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        n += (static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80;
        if (bytes[i] != '\x1b' || i + 1 >= bytes.size() ||
            (bytes[i + 1] != '[' && bytes[i + 1] != 'O'))
            continue;
        for (i += 2; i < bytes.size() && !(bytes[i] >= 0x40 && bytes[i] <= 0x7E);) ++i;
    }
    return n;
}

// Types keys into one gl_getline call per iteration; counters give the
// bytes and write calls per key.  scroll 0 keeps the default step (27).
void Run(benchmark::State &state, const std::string &keys, int scroll) {
    gl_io.read = Read;
    gl_io.write = Write;
    gl_io.isatty = IsATTY;
    gl_io.tcgetattr = GetAttr;
    gl_io.tcsetattr = SetAttr;
    gl_io.select = Select;
    gl_io.exit = Exit;
    gl_vi_mode = 0;
    gl_setwidth(80);  // not the size of the terminal the benchmark runs in
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
    const double n = KeysIn(keys);
    state.counters["keys"] = n;
    state.counters["bytes_per_key"] = static_cast<double>(bytes) / n;
    state.counters["writes_per_key"] = static_cast<double>(writes) / n;
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

// 300 characters of ASCII (kind 0), of 2-byte letters (1) or of 3-byte
// wide characters (2).
std::string Line(int64_t kind) {
    static const char *const kAlphabets[][5] = {
        {"a", "b", "c", "d", "e"},
        {"\u00e0", "\u00e9", "\u00ee", "\u00f5", "\u00fc"},
        {"\u4e2d", "\u6587", "\u5b57", "\u7b26", "\u884c"},
    };
    std::string s;
    for (int i = 0; i < 300; ++i) s += kAlphabets[kind][i % 5];
    return s;
}

// Typing 300 characters and Return; range(0) the scroll step, range(1)
// the kind of characters.
void BM_Type300(benchmark::State &state) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    Run(state, Line(state.range(1)) + "\r", static_cast<int>(state.range(0)));
}
BENCHMARK(BM_Type300)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({0, 2});

// Typing 300 characters, going back 150 and typing 20 more there.
void BM_Type300EditMiddle(benchmark::State &state) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    Run(state, Line(state.range(1)) + std::string(150, '\x02') + std::string(20, 'X') + "\r",
        static_cast<int>(state.range(0)));
}
BENCHMARK(BM_Type300EditMiddle)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({0, 2});

// 300 characters pasted between the terminal's paste marks (asked for with
// gl_bracketed_paste), then Return; each mark counts as one key.
void BM_Paste300(benchmark::State &state) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    gl_bracketed_paste(1);
    Run(state, "\x1b[200~" + Line(state.range(0)) + "\x1b[201~\r", 0);
    gl_bracketed_paste(0);
}
BENCHMARK(BM_Paste300)->Arg(0)->Arg(2);

// 300 ASCII characters, then Home, End and Ctrl-Left / Ctrl-Right 20 times
// each, as their escape sequences.
void BM_Type300Keys(benchmark::State &state) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::string keys = Line(0);
    for (int i = 0; i < 20; ++i) keys += "\x1b[H\x1b[F\x1b[1;5D\x1b[1;5C";
    Run(state, keys + "\r", 0);
}
BENCHMARK(BM_Type300Keys);

}  // namespace

BENCHMARK_MAIN();
