// SPDX-License-Identifier: ISC
// Verification and digest speed against OpenSSL on the same inputs, in one
// run; prints the ratios (ours / OpenSSL) after the table.
#include <benchmark/benchmark.h>
#include <openssl/dsa.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cpu/variant.h"
#include "dsa/builtin_key.h"
#include "dsa/key_loader.h"
#include "dsa/limbs_paths.h"
#include "dsa/public_key.h"
#include "dsa/reference.h"
#include "hash/sha0_paths.h"
#include "hash/sha256_compress.h"
#include "signtool/dsa_keys.h"

namespace {

struct Fixture {
  signtool::DsaKey key;
  std::vector<uint8_t> message;
  uint8_t signature[40];
  DSA* dsa = nullptr;
  DSA_SIG* dsa_sig = nullptr;
  uint8_t digest_be[20];

  Fixture() : message(4096, 'x') {
    std::string error;
    if (!signtool::LoadKey(SOURCE_DIR "/keys/development.key", signtool::KeyKind::kPrivate, key, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    signtool::Bn h = signtool::DigestNumber(message.data(), message.size());
    signtool::SignDigest(key, h.get(), signature, error);
    BN_bn2binpad(h.get(), digest_be, 20);

    dsa = DSA_new();
    DSA_set0_pqg(dsa, BN_dup(key.p.get()), BN_dup(key.q.get()), BN_dup(key.g.get()));
    DSA_set0_key(dsa, BN_dup(key.y.get()), nullptr);
    dsa_sig = DSA_SIG_new();
    DSA_SIG_set0(dsa_sig, BN_lebin2bn(signature, 20, nullptr), BN_lebin2bn(signature + 20, 20, nullptr));
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BM_VerifySignature(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    const int result = VerifySignature(f.message.data(), static_cast<int>(f.message.size()), kVerifyKey, f.signature);
    if (result != kVerifyOk) state.SkipWithError("signature did not verify");
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_VerifySignature);

// The text of keys/development.pub, the key of every verification here.
const std::string& PublicKeyText() {
  static const std::string text = [] {
    std::ifstream in(SOURCE_DIR "/keys/development.pub", std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }();
  return text;
}

// Digest and verification, as BM_VerifySignature does, over a key value.
void RunVerifyWithKey(benchmark::State& state, const PublicKey& key) {
  Fixture& f = Shared();
  for (auto _ : state) {
    Sha0Context context;
    Sha0Init(context);
    Sha0Update(context, f.message.data(), static_cast<uint32_t>(f.message.size()));
    Sha0Final(context);
    const int result = VerifyDigestWithKey(key, f.signature, context);
    if (result != kVerifyOk) state.SkipWithError("signature did not verify");
    benchmark::DoNotOptimize(result);
  }
}

void BM_VerifyCompiledKey(benchmark::State& state) { RunVerifyWithKey(state, *CompiledKeyRing()[0]); }
BENCHMARK(BM_VerifyCompiledKey);

void BM_VerifyLoadedKey(benchmark::State& state) {
  const auto key = std::make_unique<PublicKey>();
  std::string reason;
  if (!LoadPublicKey(PublicKeyText(), "development.pub", *key, reason)) return state.SkipWithError(reason.c_str());
  RunVerifyWithKey(state, *key);
}
BENCHMARK(BM_VerifyLoadedKey);

void BM_LoadKey(benchmark::State& state) {
  const auto key = std::make_unique<PublicKey>();
  std::string reason;
  for (auto _ : state) {
    if (!LoadPublicKey(PublicKeyText(), "development.pub", *key, reason)) state.SkipWithError(reason.c_str());
    benchmark::DoNotOptimize(key->id);
  }
  state.SetLabel(std::to_string(sizeof(PublicKey)) + " bytes per key");
}
BENCHMARK(BM_LoadKey)->Unit(benchmark::kMicrosecond);

void BM_OpenSslDsaVerify(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    // The same work as ours: digest the message, then verify.
    SHA_CTX sha;
    uint8_t unused[20];
    SHA1_Init(&sha);
    SHA1_Update(&sha, f.message.data(), f.message.size());
    SHA1_Final(unused, &sha);
    benchmark::DoNotOptimize(unused);
    const int result = DSA_do_verify(f.digest_be, 20, f.dsa_sig, f.dsa);
    if (result != 1) state.SkipWithError("OpenSSL rejected the signature");
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_OpenSslDsaVerify);

// One 512-bit Montgomery product modulo p, on each path this CPU runs; the
// chain feeds each result back in, as the exponentiation does.
void RunMontMul32(benchmark::State& state, limbs::MontMul32Fn mul) {
  Limb x[32], y[32];
  std::memcpy(x, kBaseTable[5], sizeof x);
  std::memcpy(y, kBaseTable[40], sizeof y);
  for (auto _ : state) {
    mul(x, y, x, kPrimeP, kFactorP);
    benchmark::DoNotOptimize(x);
  }
}

void BM_MontMul32(benchmark::State& state) {
  RunMontMul32(state, [](const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor) {
    limbs::MontMulReference(a, b, out, m, factor, 32);
  });
  state.SetLabel("reference");
}
BENCHMARK(BM_MontMul32);

void BM_MontMul32Avx2(benchmark::State& state) {
  if (!cpu::Has(cpu::Feature::kAvx2)) return state.SkipWithError("no AVX2 on this CPU");
  RunMontMul32(state, limbs::MontMul32Avx2);
}
BENCHMARK(BM_MontMul32Avx2);

#if LIMBS_HAVE_WORDS
void BM_MontMul32Words(benchmark::State& state) { RunMontMul32(state, limbs::MontMul32Words); }
BENCHMARK(BM_MontMul32Words);
#endif

#if LIMBS_HAVE_MULX
void BM_MontMul32MulxAdx(benchmark::State& state) {
  if (!cpu::Has(cpu::Feature::kMulxAdx)) return state.SkipWithError("no mulx/adx on this CPU");
  RunMontMul32(state, limbs::MontMul32MulxAdx);
}
BENCHMARK(BM_MontMul32MulxAdx);
#endif

// The inverse modulo q of the verification, on each path.
void RunInverse(benchmark::State& state, void (*inverse)(const uint8_t*, const Limb*, Limb*)) {
  uint8_t s[20];
  for (int i = 0; i < 20; ++i) s[i] = static_cast<uint8_t>(i * 37 + 11);
  s[19] = 0x3F;
  Limb out[10];
  for (auto _ : state) {
    inverse(s, kPrimeQ, out);
    benchmark::DoNotOptimize(out);
    s[0] = static_cast<uint8_t>(s[0] + out[0]);
  }
}

void BM_ModInverseQ(benchmark::State& state) {
  RunInverse(state, limbs::ModInverseReference);
  state.SetLabel("reference");
}
BENCHMARK(BM_ModInverseQ);

#if LIMBS_HAVE_WORDS
void BM_ModInverseQWords(benchmark::State& state) { RunInverse(state, limbs::ModInverseWords); }
BENCHMARK(BM_ModInverseQWords);
#endif

constexpr size_t kDigestBytes = size_t{64} << 20;

std::vector<uint8_t>& DigestInput() {
  static std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(kDigestBytes);
    for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    return d;
  }();
  return data;
}

void BM_Sha0(benchmark::State& state) {
  auto& data = DigestInput();
  for (auto _ : state) {
    Sha0Context ctx;
    Sha0Init(ctx);
    Sha0Update(ctx, data.data(), static_cast<uint32_t>(data.size()));
    Sha0Final(ctx);
    benchmark::DoNotOptimize(ctx.state);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Sha0)->Unit(benchmark::kMillisecond);

// Each compression this CPU runs, the selected one or not: the portable one
// and the vector one are what CPUs without the SHA extensions take.
void RunSha0Path(benchmark::State& state, const sha0::Variant* variant) {
  if (!cpu::CanRun(*variant)) {
    state.SkipWithError("this CPU cannot run the variant");
    return;
  }
  auto& data = DigestInput();
  for (auto _ : state) {
    Sha0Context ctx;
    Sha0Init(ctx);
    sha0::UpdateWith(ctx, data.data(), static_cast<uint32_t>(data.size()), *variant);
    sha0::FinalWith(ctx, *variant);
    benchmark::DoNotOptimize(ctx.state);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK_CAPTURE(RunSha0Path, Portable, &sha0::kPortable)->Unit(benchmark::kMillisecond);
#if SHA0_HAVE_VECTOR
BENCHMARK_CAPTURE(RunSha0Path, Ssse3, &sha0::kSsse3)->Unit(benchmark::kMillisecond);
#endif

void BM_OpenSslSha1(benchmark::State& state) {
  auto& data = DigestInput();
  for (auto _ : state) {
    uint8_t out[20];
    SHA1(data.data(), data.size(), out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_OpenSslSha1)->Unit(benchmark::kMillisecond);

// Keeps the time per iteration of every run, to print the ratios at the end;
// with repetitions the medians are compared.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // CPU seconds, whatever unit the benchmark reports in: the machine is
      // shared, and waiting for a core is not our time.
      if (run.iterations > 0) {
        seconds_[run.benchmark_name()] = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatio(const char* what, const char* ours, const char* reference) const {
    const double* a = Find(ours);
    const double* b = Find(reference);
    if (a == nullptr || b == nullptr) return;
    std::printf("%-44s %.2f  (%s / %s)\n", what, *a / *b, ours, reference);
  }
  // The ratio beside its target, "met" or "MISSED".
  void PrintTarget(const char* what, const char* ours, const char* reference, double target) const {
    const double* a = Find(ours);
    const double* b = Find(reference);
    if (a == nullptr || b == nullptr) return;
    std::printf("%-44s %.2f  target <= %.2f %-6s (%s / %s)\n", what, *a / *b, target,
                *a / *b <= target ? "met" : "MISSED", ours, reference);
  }
  void PrintMilliseconds(const char* what, const char* name) const {
    if (const double* a = Find(name)) std::printf("%-44s %.3f ms\n", what, *a * 1e3);
  }
  void PrintThroughput(const char* name) const {
    const double* a = Find(name);
    if (a == nullptr) return;
    std::printf("%-44s %.0f MB/s\n", name, static_cast<double>(kDigestBytes) / *a / 1e6);
  }

 private:
  const double* Find(const std::string& name) const {
    for (const std::string& key : {name + "_median", name}) {
      const auto it = seconds_.find(key);
      if (it != seconds_.end()) return &it->second;
    }
    return nullptr;
  }

  std::map<std::string, double> seconds_;
};

// The CPU as /proc/cpuinfo names it (vendor, family, model, model name), or
// "unknown CPU" where there is no such file.
std::string CpuName() {
  std::ifstream in("/proc/cpuinfo");
  std::map<std::string, std::string> fields;
  for (std::string line; std::getline(in, line) && !line.empty();) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    key.erase(key.find_last_not_of(" \t") + 1);
    fields.emplace(key, line.substr(colon + 1 + (colon + 1 < line.size())));
  }
  if (fields.count("model name") == 0) return "unknown CPU";
  return fields["vendor_id"] + ", family " + fields["cpu family"] + ", model " + fields["model"] + ", " +
         fields["model name"];
}

}  // namespace

int main(int argc, char** argv) {
  // Another output format (json, csv) is left to the library's own reporter,
  // untouched by the ratio lines, for scripts that read it.
  bool console = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--benchmark_format=", 19) == 0) console = std::strcmp(argv[i] + 19, "console") == 0;
  }
  benchmark::Initialize(&argc, argv);
  // The variants the programs run on this CPU, in the table's header and the
  // JSON output's context.
  benchmark::AddCustomContext("sha0", sha0::Selected().name);
  benchmark::AddCustomContext("sha256", sha256::Selected().name);
  benchmark::AddCustomContext("mont_mul32", limbs::SelectedMontMul32().name);
  if (!console) {
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  reporter.PrintRatio("verification time, ours / OpenSSL DSA:", "BM_VerifySignature", "BM_OpenSslDsaVerify");
  // CPU time, medians where repeated; the figures hold for this CPU and
  // this variant of the 512-bit product only.
  std::printf("CPU: %s; mont_mul32: %s%s%s\n", CpuName().c_str(), limbs::SelectedMontMul32().name,
              std::getenv("SIGNCHECK_CPU") != nullptr ? ", SIGNCHECK_CPU=" : "",
              std::getenv("SIGNCHECK_CPU") != nullptr ? std::getenv("SIGNCHECK_CPU") : "");
  reporter.PrintTarget("compiled key value / OpenSSL DSA:", "BM_VerifyCompiledKey", "BM_OpenSslDsaVerify", 0.25);
  reporter.PrintTarget("loaded key value / OpenSSL DSA:", "BM_VerifyLoadedKey", "BM_OpenSslDsaVerify", 0.25);
  reporter.PrintRatio("loading a key / OpenSSL DSA verification:", "BM_LoadKey", "BM_OpenSslDsaVerify");
  reporter.PrintMilliseconds("loading a key (CPU):", "BM_LoadKey");
  reporter.PrintRatio("64 MiB digest time, SHA-0 / OpenSSL SHA-1:", "BM_Sha0", "BM_OpenSslSha1");
  reporter.PrintThroughput("BM_Sha0");
  reporter.PrintThroughput("BM_OpenSslSha1");
  benchmark::Shutdown();
  return 0;
}
