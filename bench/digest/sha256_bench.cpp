// SPDX-License-Identifier: ISC
// Bytes per second of each variant of the compression over a buffer that
// stays in cache, and of the whole digest as the program calls it.
#include <benchmark/benchmark.h>
#ifdef SIGNCHECK_BENCH_OPENSSL
#include <openssl/sha.h>
#endif

#include <cstdint>
#include <vector>

#include "cpu/variant.h"
#include "hash/sha256.h"
#include "hash/sha256_compress.h"

namespace {

constexpr size_t kBlocks = 1024;  // 64 KiB

void RunCompress(benchmark::State& state, const sha256::Variant& variant) {
  if (!cpu::CanRun(variant)) return state.SkipWithError("this CPU does not run the variant");
  std::vector<uint8_t> data(kBlocks * 64, 0x5a);
  uint32_t chaining[8] = {};
  for (auto _ : state) {
    variant.compress(chaining, data.data(), kBlocks);
    benchmark::DoNotOptimize(chaining);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_CompressPortable(benchmark::State& state) { RunCompress(state, sha256::kPortable); }
BENCHMARK(BM_CompressPortable);

void BM_CompressShaNi(benchmark::State& state) {
#if SHA256_HAVE_SHANI
  RunCompress(state, sha256::kShaNi);
#else
  state.SkipWithError("not built for this architecture");
#endif
}
BENCHMARK(BM_CompressShaNi);

void BM_CompressSsse3(benchmark::State& state) {
#if SHA256_HAVE_VECTOR
  RunCompress(state, sha256::kSsse3);
#else
  state.SkipWithError("not built for this architecture");
#endif
}
BENCHMARK(BM_CompressSsse3);

void BM_CompressAvx2(benchmark::State& state) {
#if SHA256_HAVE_VECTOR
  RunCompress(state, sha256::kAvx2);
#else
  state.SkipWithError("not built for this architecture");
#endif
}
BENCHMARK(BM_CompressAvx2);

#ifdef SIGNCHECK_BENCH_OPENSSL
// The reference: OpenSSL's digest of the same buffer, on whatever its CPU
// check picks (OPENSSL_ia32cap can hide the SHA extensions from it).
void BM_OpenSslCompress(benchmark::State& state) {
  std::vector<uint8_t> data(kBlocks * 64, 0x5a);
  uint8_t out[32];
  for (auto _ : state) {
    SHA256(data.data(), data.size(), out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_OpenSslCompress);
#endif

// Whole digests of a file-sized piece, as the selected variant runs them
// (SIGNCHECK_CPU pins it).
void BM_Sha256Digest(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0xa5);
  uint8_t out[32];
  for (auto _ : state) {
    Sha256Digest(data.data(), static_cast<uint32_t>(data.size()), out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Sha256Digest)->Arg(64)->Arg(4096)->Arg(1 << 20);

}  // namespace
