// The /etc/group scan over generated files of 1,000 to 100,000 lines, and
// the availability probe and group lookup in whatever world the process
// sees (bench/run-probe.sh runs them inside generated worlds).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/discard.h"
#include "cred/cred.h"
#include "cred/internal.h"

namespace {

FILE *Trace(int which) {
    return which == 0 ? DiscardStream() : DevNullStream();
}

// N group lines, every tenth listing the user among other members.
FILE *GroupFile(int64_t n) {
    FILE *fp = tmpfile();
    for (int64_t i = 0; i < n; ++i)
        fprintf(fp, "group%05lld:x:%lld:u%05lld,u%05lld%s\n", static_cast<long long>(i),
                static_cast<long long>(1000 + i), static_cast<long long>(i),
                static_cast<long long>(i + 1), i % 10 == 0 ? ",bench" : "");
    fflush(fp);
    return fp;
}

void BM_GroupScan(benchmark::State &state) {
    CredDebugStream = DiscardStream();
    FILE *fp = GroupFile(state.range(0));
    std::vector<int32_t> gids(32);
    char buf[512];
    int n = 0;
    for (auto _ : state) {
        rewind(fp);
        n = ScanGroupStream(fp, gids.data(), gids.size(), "bench", buf, sizeof buf);
    }
    fclose(fp);
    state.counters["groups"] = n;
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_GroupScan)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// The probe in this process's world; the argument picks the trace stream
// (0: dropped in the process, 1: /dev/null).
void BM_Probe(benchmark::State &state) {
    CredDebugStream = Trace(static_cast<int>(state.range(0)));
    unsigned n = 0, tx = 0;
    int rc = 0;
    for (auto _ : state) rc = CanGetEncryptedPasswords2(0, &n, &tx);
    EndCred();
    if (rc != 0)
        state.SkipWithError("a valid encrypted password was found: the walk stopped early");
    state.counters["records"] = n;
    state.counters["per_record"] =
        benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Probe)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// GetUserGroups in this process's world (it opens /etc/group).
void BM_GetUserGroups(benchmark::State &state) {
    CredDebugStream = Trace(static_cast<int>(state.range(0)));
    int32_t gids[32];
    int n = 0;
    for (auto _ : state) n = GetUserGroups(gids, 32, "bench");
    state.counters["groups"] = n;
}
BENCHMARK(BM_GetUserGroups)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
