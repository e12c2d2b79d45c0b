// Our FFT against FFTW's single-precision transform with an FFTW_ESTIMATE plan
// (the plan a program gets without measuring), in the engine's direction
// (negative exponent), natural order, in place.
//
// Each timed transform starts from the same input, copied in first, so that
// the values neither blow up nor die out over millions of repetitions; both
// sides pay the same copy, which BM_FftCopyOnly shows on its own.
//
// BM_FftVsFftw/N reports both times and their ratio side by side in one line:
//   ours_ns, fftw_ns (per copy + transform), ours/fftw.
// BM_FftPowersVsPlain/N does the same for the spectrum engine's powers.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dsp/fft.h"
#include "dsp/types.h"

namespace {

using brenvo::TAlignedComplexArray;
using brenvo::TComplex;

TAlignedComplexArray RandomInput(int n) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  TAlignedComplexArray x(n);
  for (auto& c : x) c = {u(rng), u(rng)};
  return x;
}

class FftwPlan {
 public:
  explicit FftwPlan(int n) : n_(n) {
    buf_ = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * n));
    plan_ = fftwf_plan_dft_1d(n, buf_, buf_, FFTW_FORWARD, FFTW_ESTIMATE);
  }
  ~FftwPlan() {
    fftwf_destroy_plan(plan_);
    fftwf_free(buf_);
  }
  FftwPlan(const FftwPlan&) = delete;
  FftwPlan& operator=(const FftwPlan&) = delete;
  void Run(const TComplex* in) {
    std::memcpy(buf_, in, sizeof(TComplex) * n_);
    fftwf_execute(plan_);
    benchmark::DoNotOptimize(buf_[0][0]);
  }

 private:
  int n_;
  fftwf_complex* buf_;
  fftwf_plan plan_;
};

class OurFft {
 public:
  explicit OurFft(int n) : n_(n), buf_(n), work_(n) { (void)brenvo::FftTwiddles(n); }
  void Run(const TComplex* in) {
    std::memcpy(buf_.data(), in, sizeof(TComplex) * n_);
    brenvo::Fft(buf_.data(), n_, true, false, true, work_.data());
    benchmark::DoNotOptimize(buf_[0].Re);
  }

 private:
  int n_;
  TAlignedComplexArray buf_;
  TAlignedComplexArray work_;
};

// ns per copy + transform of one implementation.
template <class TImpl>
void RunTransforms(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto input = RandomInput(n);
  TImpl fft(n);
  for (auto _ : state) fft.Run(input.data());
  state.SetItemsProcessed(state.iterations());
}

void BM_FftOurs(benchmark::State& state) { RunTransforms<OurFft>(state); }
void BM_FftFftw(benchmark::State& state) { RunTransforms<FftwPlan>(state); }

void BM_FftCopyOnly(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto input = RandomInput(n);
  TAlignedComplexArray buf(n);
  for (auto _ : state) {
    std::memcpy(buf.data(), input.data(), sizeof(TComplex) * n);
    benchmark::DoNotOptimize(buf[0].Re);
    benchmark::ClobberMemory();
  }
}

// Alternates batches of two jobs so that both see the same machine state, and
// reports the time per run of each and their ratio: counters <a>_ns, <b>_ns
// and <a>/<b>.
template <class TRunA, class TRunB>
void SideBySide(benchmark::State& state, int batch, const std::string& a, TRunA runA, const std::string& b,
                TRunB runB) {
  using Clock = std::chrono::steady_clock;
  double aNs = 0, bNs = 0;
  long long count = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (int i = 0; i < batch; ++i) runA();
    const auto t1 = Clock::now();
    for (int i = 0; i < batch; ++i) runB();
    const auto t2 = Clock::now();
    aNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
    bNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
    count += batch;
  }
  if (count > 0) {
    state.counters[a + "_ns"] = aNs / count;
    state.counters[b + "_ns"] = bNs / count;
    state.counters[a + "/" + b] = bNs > 0 ? aNs / bNs : 0;
  }
}

int BatchFor(int n) { return std::max(1, 200000 / (n * 4)); }

// Ours against FFTW's estimate plan.
void BM_FftVsFftw(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto input = RandomInput(n);
  OurFft ours(n);
  FftwPlan fftw(n);
  SideBySide(
      state, BatchFor(n), "ours", [&] { ours.Run(input.data()); }, "fftw", [&] { fftw.Run(input.data()); });
}

// The spectrum engine's transform: powers straight into bins (TFftPowers)
// against the transform, a power pass and a reordering pass one after the
// other.
void BM_FftPowersVsPlain(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto input = RandomInput(n);
  brenvo::TAlignedSingleArray re0(n), im0(n), re(n), im(n), scrambled(n), power(n);
  for (int i = 0; i < n; ++i) {
    re0[i] = input[i].Re;
    im0[i] = input[i].Im;
  }
  std::vector<int32_t> binOfX(n), source(n);
  const auto perm = brenvo::FftPermutation(n);
  for (int k = 0; k < n; ++k) {
    binOfX[k] = (k + n / 2) % n;
    source[binOfX[k]] = perm[k];
  }
  const brenvo::TFftPowers powers(n, binOfX);
  auto plain = [&] {
    re = re0;
    im = im0;
    brenvo::FftSplitScrambled(re.data(), im.data(), n);
    for (int i = 0; i < n; ++i) scrambled[i] = re[i] * re[i] + im[i] * im[i];
    for (int i = 0; i < n; ++i) power[i] = scrambled[source[i]];
    benchmark::DoNotOptimize(power.data());
  };
  auto direct = [&] {
    re = re0;
    im = im0;
    powers.Run(re, im, power);
    benchmark::DoNotOptimize(power.data());
  };
  SideBySide(state, BatchFor(n), "plain", plain, "powers", direct);
}

BENCHMARK(BM_FftOurs)->Arg(256)->Arg(1024)->Arg(4096)->Arg(65536);
BENCHMARK(BM_FftFftw)->Arg(256)->Arg(1024)->Arg(4096)->Arg(65536);
BENCHMARK(BM_FftCopyOnly)->Arg(256)->Arg(65536);
BENCHMARK(BM_FftVsFftw)->Arg(256)->Arg(1024)->Arg(4096)->Arg(65536);
BENCHMARK(BM_FftPowersVsPlain)->Arg(256)->Arg(1024)->Arg(4096);

}  // namespace
