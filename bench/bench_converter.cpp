// Real-to-complex converter: our block converter against a plain
// direct-convolution converter on the same 128-sample blocks.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/octave_resampler.h"
#include "dsp/re_to_complex_converter.h"

namespace {

using namespace brenvo;

constexpr int kBlock = 128;
constexpr double kRate = 6000.0;

std::vector<TSingleArray> NoiseBlocks(int count) {
  std::mt19937 gen(1);
  std::normal_distribution<float> d(0.0f, 1e8f);
  std::vector<TSingleArray> blocks(count, TSingleArray(kBlock));
  for (auto& b : blocks)
    for (float& v : b) v = d(gen);
  return blocks;
}

void SetCounters(benchmark::State& state) {
  // Audio seconds handled per second of CPU time.
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kBlock / kRate, benchmark::Counter::kIsRate);
}

void BM_Convert(benchmark::State& state) {
  const auto blocks = NoiseBlocks(64);
  TReToComplexConverter c(kBlock);
  TComplexArray iq;
  std::size_t i = 0;
  for (auto _ : state) {
    c.Convert(blocks[i++ & 63], iq);
    benchmark::DoNotOptimize(iq.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}
BENCHMARK(BM_Convert);

// The same job written the obvious way: mix with sin/cos per sample, then the
// full 151-tap filter in float for every output, no symmetry.
void BM_ConvertDirect(benchmark::State& state) {
  const auto blocks = NoiseBlocks(64);
  TOctaveResampler design(rf02x, kBlock);
  std::vector<float> h(151, 0.0f);
  h[75] = design.Kernel5D()[0];
  for (int k = 1; k <= 38; ++k) h[75 + 2 * k - 1] = h[75 - 2 * k + 1] = design.Kernel5D()[k];
  std::vector<float> re(150 + kBlock, 0.0f), im(150 + kBlock, 0.0f);
  TComplexArray iq(kBlock / 2);
  long long n = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    const TSingleArray& x = blocks[i++ & 63];
    std::copy(re.end() - 150, re.end(), re.begin());
    std::copy(im.end() - 150, im.end(), im.begin());
    for (int s = 0; s < kBlock; ++s, ++n) {
      const double a = 2 * std::numbers::pi * 1500.0 * static_cast<double>(n) / kRate;
      re[150 + s] = x[s] * static_cast<float>(std::cos(a));
      im[150 + s] = -x[s] * static_cast<float>(std::sin(a));
    }
    for (int j = 0; j < kBlock / 2; ++j) {
      float ar = 0, ai = 0;
      for (int t = 0; t < 151; ++t) {
        ar += h[t] * re[2 * j + 1 + t];
        ai += h[t] * im[2 * j + 1 + t];
      }
      iq[j] = {ar, ai};
    }
    benchmark::DoNotOptimize(iq.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}
BENCHMARK(BM_ConvertDirect);

void BM_Decimate(benchmark::State& state) {
  const auto blocks = NoiseBlocks(64);
  TOctaveResampler r(rf02x, kBlock);
  TSingleArray out(kBlock / 2);
  std::size_t i = 0;
  for (auto _ : state) {
    r.Decimate(blocks[i++ & 63], out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}
BENCHMARK(BM_Decimate);

}  // namespace
