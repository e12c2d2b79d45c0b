// Array filters on one display spectrum (256 bins, half-width 50), against
// sorting each window afresh.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "dsp/array_filters.h"

namespace {

using namespace brenvo;

constexpr int kBins = 256;
constexpr int kHalfWidth = 50;

// Noise power spectra: exponentially distributed bins.
std::vector<TSingleArray> Spectra(int count) {
  std::mt19937 gen(3);
  std::exponential_distribution<float> d(1.0f);
  std::vector<TSingleArray> s(count, TSingleArray(kBins));
  for (auto& v : s)
    for (float& x : v) x = d(gen);
  return s;
}

template <void (*Filter)(const TSingleArray&, int32_t, TSingleArray&)>
void BM_Filter(benchmark::State& state) {
  const auto spectra = Spectra(64);
  TSingleArray dst(kBins);
  std::size_t i = 0;
  for (auto _ : state) {
    Filter(spectra[i++ & 63], kHalfWidth, dst);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.counters["spectra_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Filter<SlidingMedian>)->Name("BM_SlidingMedian");
BENCHMARK(BM_Filter<SlidingMax>)->Name("BM_SlidingMax");
BENCHMARK(BM_Filter<SlidingMin>)->Name("BM_SlidingMin");
BENCHMARK(BM_Filter<SlidingMean>)->Name("BM_SlidingMean");

// The same medians by selecting in a copy of every window.
void BM_SlidingMedianBySelection(benchmark::State& state) {
  const auto spectra = Spectra(64);
  TSingleArray dst(kBins), win(2 * kHalfWidth + 1);
  std::size_t i = 0;
  for (auto _ : state) {
    const TSingleArray& s = spectra[i++ & 63];
    for (int k = kHalfWidth + 1; k <= kBins - 1 - kHalfWidth; ++k) {
      std::copy(s.begin() + (k - kHalfWidth), s.begin() + (k + kHalfWidth + 1), win.begin());
      std::nth_element(win.begin(), win.begin() + kHalfWidth, win.end());
      dst[k] = win[kHalfWidth];
    }
    std::fill(dst.begin(), dst.begin() + kHalfWidth + 1, dst[kHalfWidth + 1]);
    std::fill(dst.end() - kHalfWidth - 1, dst.end(), dst[kBins - kHalfWidth - 2]);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.counters["spectra_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SlidingMedianBySelection);

}  // namespace
