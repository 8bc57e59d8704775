// MD5 against OpenSSL, the MD5-based crypt against libcrypt, and how much
// of a classification and a check is ours when the host's crypt does the
// hashing.  bench/ratios.py turns a JSON run into the ratios.
#include <benchmark/benchmark.h>
#include <crypt.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "bench/discard.h"
#include "cred/cred.h"
#include "verify/md5.h"
#include "verify/verify.h"

namespace {

std::vector<unsigned char> Input(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
    return v;
}

void BM_MD5_Ours(benchmark::State &state) {
    const auto in = Input(static_cast<size_t>(state.range(0)));
    unsigned char digest[16];
    for (auto _ : state) {
        MD5_CTX ctx;
        MD5Init(&ctx);
        MD5Update(&ctx, in.data(), in.size());
        MD5Final(digest, &ctx);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_MD5_Ours)->Arg(64)->Arg(8192);

void BM_MD5_OpenSSL(benchmark::State &state) {
    const auto in = Input(static_cast<size_t>(state.range(0)));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    const EVP_MD *md = EVP_md5();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, in.data(), in.size());
        EVP_DigestFinal_ex(ctx, digest, &len);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_MD5_OpenSSL)->Arg(64)->Arg(8192);

constexpr const char *kMd5Setting = "$1$abcdefgh$";

void BM_Md5Crypt_Ours(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(Cred_md5_crypt("correct horse", kMd5Setting));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Md5Crypt_Ours);

void BM_Md5Crypt_Libcrypt(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(crypt("correct horse", kMd5Setting));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Md5Crypt_Libcrypt);

// Answers made by the host's crypt, so that the checks succeed.
std::string Answer(const char *setting) {
    return crypt("password", setting);
}

void Classify(benchmark::State &state, const char *setting) {
    CredDebugStream = DiscardStream();
    const std::string answer = Answer(setting);
    for (auto _ : state) benchmark::DoNotOptimize(IsValidEncryptedPassword(answer.c_str()));
}

void Check(benchmark::State &state, const char *setting) {
    CredDebugStream = DiscardStream();
    const std::string answer = Answer(setting);
    for (auto _ : state)
        if (CheckGuess("password", answer.c_str()) != 0) state.SkipWithError("check failed");
}

void HostCrypt(benchmark::State &state, const char *setting) {
    const std::string answer = Answer(setting);
    for (auto _ : state) benchmark::DoNotOptimize(crypt("password", answer.c_str()));
}

constexpr const char *kDes = "ab";
constexpr const char *kSha512 = "$6$saltsaltsaltsalt$";

BENCHMARK_CAPTURE(Classify, DES, kDes);
BENCHMARK_CAPTURE(Check, DES, kDes);
BENCHMARK_CAPTURE(HostCrypt, DES, kDes);
BENCHMARK_CAPTURE(Classify, SHA512, kSha512);
BENCHMARK_CAPTURE(Check, SHA512, kSha512);
BENCHMARK_CAPTURE(HostCrypt, SHA512, kSha512);

}  // namespace

BENCHMARK_MAIN();
