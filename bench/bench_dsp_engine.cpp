// Spectrum engine and quick-select timings.
//   BM_ProcessIqBlock: one spectrum from 8 new complex samples (the system's
//     parameters), on noise with two tones; x_real_time = audio time per CPU
//     time at 375 spectra per audio second.
//   BM_Percentile / BM_MedianInPlace: 256 values, as the audio handler and
//     the engine use them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "dsp/dsp_engine.h"
#include "dsp/percentile.h"

namespace {

using brenvo::TComplex;

std::vector<std::vector<TComplex>> NoiseBlocks(int count, int length) {
  std::mt19937 rng(77);
  std::normal_distribution<float> g(0.0f, 1000.0f);
  std::vector<std::vector<TComplex>> blocks(count, std::vector<TComplex>(length));
  double ph1 = 0, ph2 = 0;
  for (auto& b : blocks)
    for (auto& c : b) {
      c = {g(rng) + 5000.0f * static_cast<float>(std::cos(ph1) + std::cos(ph2)),
           g(rng) + 5000.0f * static_cast<float>(std::sin(ph1) + std::sin(ph2))};
      ph1 += 0.71;
      ph2 -= 0.31;
    }
  return blocks;
}

void BM_ProcessIqBlock(benchmark::State& state) {
  brenvo::TDspEngine engine(8, 3000.0f);
  const auto blocks = NoiseBlocks(375, 8);
  for (int i = 0; i < 200; ++i) engine.ProcessIqBlock(blocks[i % blocks.size()]);
  std::size_t i = 0;
  for (auto _ : state) {
    engine.ProcessIqBlock(blocks[i]);
    if (++i == blocks.size()) i = 0;
    benchmark::DoNotOptimize(engine.FastPwr().data());
  }
  // One call is 1/375 s of audio.
  state.counters["x_real_time"] =
      benchmark::Counter(static_cast<double>(state.iterations()) / 375.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ProcessIqBlock);

brenvo::TSingleArray Spectrum256() {
  std::mt19937 rng(78);
  std::exponential_distribution<float> e(1.0f);
  brenvo::TSingleArray a(256);
  for (auto& v : a) v = e(rng);
  return a;
}

void BM_Percentile(benchmark::State& state) {
  const auto a = Spectrum256();
  brenvo::TSingleArray scratch;
  for (auto _ : state) benchmark::DoNotOptimize(brenvo::Percentile(a, 0.9f, scratch));
}
BENCHMARK(BM_Percentile);

void BM_PercentileAllocating(benchmark::State& state) {
  const auto a = Spectrum256();
  for (auto _ : state) benchmark::DoNotOptimize(brenvo::Percentile(a, 0.9f));
}
BENCHMARK(BM_PercentileAllocating);

void BM_MedianInPlace(benchmark::State& state) {
  const auto a = Spectrum256();
  brenvo::TSingleArray buf(256);
  for (auto _ : state) {
    std::copy(a.begin(), a.end(), buf.begin());
    benchmark::DoNotOptimize(brenvo::MedianInPlace(buf.data(), 256));
  }
}
BENCHMARK(BM_MedianInPlace);

}  // namespace
