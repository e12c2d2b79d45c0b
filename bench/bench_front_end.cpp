// The signal front end as the audio handler runs it, on 60 s of noise:
//   BM_FrontEnd60s: converter + spectrum engine over 60 s of audio in 128-sample
//     blocks; x_real_time = audio seconds per CPU second.
//   BM_DisplayNormalisation: the display's per-spectrum work, a 101-bin sliding
//     median of 256 bins and its 90 % value.
#include <benchmark/benchmark.h>

#include <random>
#include <span>

#include "dsp/array_filters.h"
#include "dsp/dsp_engine.h"
#include "dsp/percentile.h"
#include "dsp/re_to_complex_converter.h"

namespace {

using namespace brenvo;

TSingleArray Noise(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0.0f, 1000.0f * 65536.0f);
  TSingleArray a(n);
  for (float& v : a) v = g(rng);
  return a;
}

void BM_FrontEnd60s(benchmark::State& state) {
  const TSingleArray audio = Noise(60 * 6000, 3);
  TReToComplexConverter cnv(128);
  TDspEngine dsp(8, 3000.0f);
  TSingleArray block(128);
  TComplexArray iq;
  for (auto _ : state) {
    for (std::size_t start = 0; start + 128 <= audio.size(); start += 128) {
      std::copy(audio.begin() + start, audio.begin() + start + 128, block.begin());
      cnv.Convert(block, iq);
      for (int k = 0; k < 8; ++k) dsp.ProcessIqBlock(std::span<const TComplex>(iq.data() + 8 * k, 8));
    }
    benchmark::DoNotOptimize(dsp.FastPwr().data());
  }
  state.counters["x_real_time"] =
      benchmark::Counter(60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrontEnd60s)->Unit(benchmark::kMillisecond);

void BM_DisplayNormalisation(benchmark::State& state) {
  TSingleArray spectrum = Noise(256, 4);
  for (float& v : spectrum) v = v * v * 1e-12f;
  TSingleArray median(256), scratch;
  for (auto _ : state) {
    SlidingMedian(spectrum, 50, median);
    benchmark::DoNotOptimize(Percentile(median, 0.9f, scratch));
  }
  // Once per spectrum, 375 spectra per audio second.
  state.counters["x_real_time"] =
      benchmark::Counter(static_cast<double>(state.iterations()) / 375.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DisplayNormalisation);

}  // namespace
