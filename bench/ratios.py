#!/usr/bin/env python3
"""Ratios from a JSON run of bench_crypto (CPU time, so that other load on
the machine counts less):

    build/bench/bench_crypto --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true --benchmark_format=json > crypto.json
    bench/ratios.py crypto.json
"""
import json
import sys


def load(path):
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    out = {}
    for r in runs:
        # The median of repetitions when there are repetitions, else the run.
        if r.get("run_type") == "aggregate" and r.get("aggregate_name") != "median":
            continue
        out[r.get("run_name", r["name"])] = r
    return out


def main():
    b = load(sys.argv[1])

    def cpu(name):
        return b[name]["cpu_time"]

    def rate(name, key):
        return b[name][key]

    print("| measure | ours | reference | ratio (ours / reference) |")
    print("|---|---|---|---|")
    for n in (64, 8192):
        o, s = rate("BM_MD5_Ours/%d" % n, "bytes_per_second"), rate("BM_MD5_OpenSSL/%d" % n, "bytes_per_second")
        print("| MD5 throughput, %d-byte input | %.0f MB/s | %.0f MB/s (OpenSSL EVP) | %.3f |" % (n, o / 1e6, s / 1e6, o / s))
    o, s = rate("BM_Md5Crypt_Ours", "items_per_second"), rate("BM_Md5Crypt_Libcrypt", "items_per_second")
    print("| MD5-crypt hashes per second | %.0f | %.0f (libcrypt crypt, \"$1$\") | %.3f |" % (o, s, o / s))
    print()
    print("| answer | classification | check (CheckGuess) | host crypt alone | our share of a check |")
    print("|---|---|---|---|---|")
    for alg in ("DES", "SHA512"):
        c, k, h = cpu("Classify/%s" % alg), cpu("Check/%s" % alg), cpu("HostCrypt/%s" % alg)
        unit = b["Check/%s" % alg]["time_unit"]
        share = max(k - h, 0.0) / k
        print("| %s | %.3g %s | %.4g %s | %.4g %s | %.1f %% |" % (alg, c, unit, k, unit, h, unit, 100 * share))


if __name__ == "__main__":
    main()
