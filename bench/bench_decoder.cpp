// Cost of one bit-decoder step (both signal extractors plus the Viterbi
// step), and how many channels one core carries at 375 steps per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "decoder/rtty_bit_viterbi.h"
#include "decoder/signal_extractor.h"

namespace {

using namespace brenvo;

// Mark and space powers of a keyed signal at about 15 dB per bin in
// exponential noise of median 1: a realistic mix of paths for the decoder.
struct TLevels {
  std::vector<float> Mark, Space;
  TLevels() {
    std::mt19937 rng(1);
    std::exponential_distribution<float> noise(std::log(2.0f));
    std::bernoulli_distribution bit(0.5);
    bool level = true;
    for (int i = 0; i < 65536; ++i) {
      if (i % 8 == 0) level = bit(rng);
      const float tone = 45.0f;
      Mark.push_back((level ? tone : 0.0f) + noise(rng));
      Space.push_back((level ? 0.0f : tone) + noise(rng));
    }
  }
};

const TLevels& Levels() {
  static const TLevels levels;
  return levels;
}

void SetCounters(benchmark::State& state) {
  const double steps = static_cast<double>(state.iterations());
  state.counters["us_per_step"] = benchmark::Counter(steps * 1e-6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["channels_per_core"] = benchmark::Counter(steps / 375.0, benchmark::Counter::kIsRate);
}

void BM_DecoderStep(benchmark::State& state) {
  const TLevels& lv = Levels();
  TSignalExtractor mark, space;
  TRttyBitViterbi v;
  std::size_t i = 0;
  for (auto _ : state) {
    mark.Process(lv.Mark[i]);
    space.Process(lv.Space[i]);
    v.ProcessSample(mark, space);
    benchmark::DoNotOptimize(v.Chars().data());
    i = (i + 1) & 65535;
  }
  SetCounters(state);
}
BENCHMARK(BM_DecoderStep);

void BM_ExtractorsOnly(benchmark::State& state) {
  const TLevels& lv = Levels();
  TSignalExtractor mark, space;
  std::size_t i = 0;
  for (auto _ : state) {
    mark.Process(lv.Mark[i]);
    space.Process(lv.Space[i]);
    benchmark::DoNotOptimize(mark.Prob + space.Prob);
    i = (i + 1) & 65535;
  }
  SetCounters(state);
}
BENCHMARK(BM_ExtractorsOnly);

// The Viterbi pass alone, from precomputed emissions.
void BM_ViterbiStepOnly(benchmark::State& state) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> u(-12.0f, 0.0f);
  std::vector<TRttyBitViterbi::TEmissions> table(1024);
  for (auto& em : table)
    for (std::size_t k = 1; k < em.size(); ++k) em[k] = u(rng);
  TRttyBitViterbi v;
  std::size_t i = 0;
  for (auto _ : state) {
    v.Step(table[i], 0.5f);
    benchmark::DoNotOptimize(v.Chars().data());
    i = (i + 1) & 1023;
  }
  SetCounters(state);
}
BENCHMARK(BM_ViterbiStepOnly);

}  // namespace
