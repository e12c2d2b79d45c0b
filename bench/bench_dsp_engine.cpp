// Spectrum engine and quick-select timings.
//   BM_ProcessIqBlock: one spectrum from 8 new complex samples (the system's
//     parameters), on noise with two tones; x_real_time = audio time per CPU
//     time at 375 spectra per audio second.
//   BM_Percentile / BM_MedianInPlace / BM_RankValueNear: 256 values, as the
//     audio handler and the engine use them.
//   BM_GatherRange/0 and /1: RankValueNear's first gathering (a fifth of 256
//     values), portable kernel and AVX2 kernel side by side.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "dsp/cpu_features.h"
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

// Power-like values; 64 different arrays in turn, so that the branch
// predictor cannot learn one array's comparisons.
std::vector<brenvo::TSingleArray> Spectra256() {
  std::mt19937 rng(78);
  std::exponential_distribution<float> e(1.0f);
  std::vector<brenvo::TSingleArray> all(64, brenvo::TSingleArray(256));
  for (auto& a : all)
    for (auto& v : a) v = e(rng);
  return all;
}

void BM_Percentile(benchmark::State& state) {
  const auto all = Spectra256();
  brenvo::TSingleArray scratch;
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(brenvo::Percentile(all[i++ & 63], 0.9f, scratch));
}
BENCHMARK(BM_Percentile);

void BM_PercentileAllocating(benchmark::State& state) {
  const auto all = Spectra256();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(brenvo::Percentile(all[i++ & 63], 0.9f));
}
BENCHMARK(BM_PercentileAllocating);

void BM_MedianInPlace(benchmark::State& state) {
  const auto all = Spectra256();
  brenvo::TSingleArray buf(256);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& a = all[i++ & 63];
    std::copy(a.begin(), a.end(), buf.begin());
    benchmark::DoNotOptimize(brenvo::MedianInPlace(buf.data(), 256));
  }
}
BENCHMARK(BM_MedianInPlace);

// The engine's way: the median with a guess 6 % off (the typical change from
// one spectrum to the next).
void BM_RankValueNear(benchmark::State& state) {
  const auto all = Spectra256();
  std::vector<float> guesses;
  for (const auto& a : all) {
    brenvo::TSingleArray c = a;
    guesses.push_back(brenvo::MedianInPlace(c.data(), 256) * 1.06f);
  }
  brenvo::TSingleArray scratch(256);
  std::size_t i = 0;
  for (auto _ : state) {
    const std::size_t k = i++ & 63;
    benchmark::DoNotOptimize(brenvo::RankValueNear(all[k], 128, guesses[k], scratch));
  }
}
BENCHMARK(BM_RankValueNear);

void BM_GatherRange(benchmark::State& state) {
  const bool avx2 = state.range(0) != 0;
  if (avx2 && !brenvo::CpuHasAvx2()) {
    state.SkipWithError("no AVX2 here");
    return;
  }
  const auto all = Spectra256();
  std::vector<float> lo, hi;
  for (const auto& a : all) {
    brenvo::TSingleArray c = a;
    std::sort(c.begin(), c.end());
    lo.push_back(c[102]);
    hi.push_back(c[153]);
  }
  brenvo::TSingleArray out(256);
  std::size_t i = 0;
  for (auto _ : state) {
    const std::size_t k = i++ & 63;
    benchmark::DoNotOptimize(brenvo::GatherRange(all[k].data(), 256, lo[k], hi[k], out.data(), avx2));
  }
}
BENCHMARK(BM_GatherRange)->Arg(0)->Arg(1);

}  // namespace
