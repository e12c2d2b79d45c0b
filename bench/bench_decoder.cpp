// Cost of one bit-decoder step (both signal extractors plus the Viterbi
// step), and how many channels one core carries at 375 steps per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "decoder/density_kernel.h"
#include "decoder/rtty_bit_acs.h"
#include "decoder/rtty_bit_viterbi.h"
#include "decoder/signal_extractor.h"
#include "support/reference_density.h"

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
    TSignalExtractor::ProcessPair(mark, lv.Mark[i], space, lv.Space[i]);
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
    TSignalExtractor::ProcessPair(mark, lv.Mark[i], space, lv.Space[i]);
    benchmark::DoNotOptimize(mark.Prob + space.Prob);
    i = (i + 1) & 65535;
  }
  SetCounters(state);
}
BENCHMARK(BM_ExtractorsOnly);

// The same steps sixteen at a time, as a receiver takes a run of spectra:
// the filters of all, their densities in one call, then each step's end.
void BM_ExtractorsInRuns(benchmark::State& state) {
  using TPairSteps = TSignalExtractor::TPairSteps;
  const TLevels& lv = Levels();
  TSignalExtractor mark, space;
  TPairSteps steps;
  std::size_t i = 0;
  for (auto _ : state) {
    TSignalExtractor::FilterPairs(mark, &lv.Mark[i], space, &lv.Space[i], TPairSteps::kMaxSteps, steps);
    for (std::size_t t = 0; t < TPairSteps::kMaxSteps; ++t) {
      const std::size_t lane = t * TPairSteps::kLanes;
      mark.TakeStep(steps.Mark[t], steps.Density.data() + lane, steps.Ln.data() + lane);
      space.TakeStep(steps.Space[t], steps.Density.data() + lane + TSignalExtractor::kShapeCount,
                     steps.Ln.data() + lane + TSignalExtractor::kShapeCount);
    }
    benchmark::DoNotOptimize(mark.Prob + space.Prob);
    i = (i + TPairSteps::kMaxSteps) & 65535;
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(TPairSteps::kMaxSteps));
  state.SetLabel("time = 16 steps");
}
BENCHMARK(BM_ExtractorsInRuns);

// 1024 steps' emissions, shape indices -1..8 (elements 1..10).
template <typename TEm>
std::vector<TEm> RandomEmissions() {
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> u(-12.0f, 0.0f);
  std::vector<TEm> table(1024);
  for (auto& em : table)
    for (std::size_t k = 1; k <= 10; ++k) em[k] = u(rng);
  return table;
}

// The Viterbi pass alone, from precomputed emissions.
void BM_ViterbiStepOnly(benchmark::State& state) {
  const auto table = RandomEmissions<TRttyBitViterbi::TEmissions>();
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

// The step's add-compare-select alone, each kernel (argument: Reference,
// Vector, Avx2) on the same emissions.
void BM_BitAcs(benchmark::State& state) {
  const auto kernel = static_cast<TRttyBitAcs::TKernel>(state.range(0));
  if (!TRttyBitAcs::Runs(kernel)) {
    state.SkipWithError("this processor cannot run the kernel");
    return;
  }
  const auto table = RandomEmissions<TRttyBitAcs::TEmissions>();
  const TRttyBitAcs& acs = SharedBitAcs();
  std::vector<float> metric(static_cast<std::size_t>(acs.StateCount())), join(static_cast<std::size_t>(acs.JoinValueCount()));
  std::vector<int16_t> history(static_cast<std::size_t>(acs.HistorySize()));
  float offset = 0.0f;
  std::size_t i = 0;
  for (auto _ : state) {
    acs.Step(kernel, table[i], metric.data(), offset, history.data(), join.data());
    benchmark::DoNotOptimize(metric.data());
    i = (i + 1) & 1023;
  }
  SetCounters(state);
}
BENCHMARK(BM_BitAcs)->Arg(0)->Arg(1)->Arg(2);

// The amplitude density alone, as the decoder's realistic (level, amplitude)
// pairs need it: the reference (pow for both powers) and ours, side by side.
struct TPairs {
  std::vector<float> X, Y;
  TPairs() {
    const TLevels& lv = Levels();
    TSignalExtractor e;
    TRttyBitViterbi v;
    for (std::size_t t = 0; t < 4096; ++t) {
      e.Process(lv.Mark[t]);
      for (int i = 0; i <= 8; ++i) {
        X.push_back(e.Level(v.Shp(i)));
        Y.push_back(e.Amp);
      }
    }
  }
};

const TPairs& Pairs() {
  static const TPairs pairs;
  return pairs;
}

template <typename TDensity>
void RunDensity(benchmark::State& state, TDensity density) {
  const TPairs& p = Pairs();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(density(p.X[i], p.Y[i]));
    i = (i + 1) % p.X.size();
  }
  state.counters["ns_per_density"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_DensityReference(benchmark::State& state) {
  RunDensity(state, [](float x, float y) { return testing::ReferenceDensity(x, y).Density; });
}
BENCHMARK(BM_DensityReference);

void BM_Density(benchmark::State& state) { RunDensity(state, TSignalExtractor::AmplitudeDensity); }
BENCHMARK(BM_Density);

// One tone's nine shape densities per step: one Likelihood call per shape
// (double precision, the reference) against the single-precision kernel that
// Process runs over all nine at once.
void BM_ShapeLikelihoodsOneByOne(benchmark::State& state) {
  const TLevels& lv = Levels();
  TSignalExtractor e;
  std::size_t i = 0;
  double out[9];
  for (auto _ : state) {
    e.Process(lv.Mark[i]);
    for (int k = 0; k <= 8; ++k) out[k] = e.Likelihood(TSignalExtractor::ToneShapes()[static_cast<std::size_t>(k)]);
    benchmark::DoNotOptimize(out);
    i = (i + 1) & 65535;
  }
  SetCounters(state);
}
BENCHMARK(BM_ShapeLikelihoodsOneByOne);

void BM_ShapeDensities(benchmark::State& state) {
  const TLevels& lv = Levels();
  TSignalExtractor e;
  std::size_t i = 0;
  for (auto _ : state) {
    e.Process(lv.Mark[i]);
    benchmark::DoNotOptimize(e.ShapeDensities().Ln.data());
    i = (i + 1) & 65535;
  }
  SetCounters(state);
}
BENCHMARK(BM_ShapeDensities);

// The densities of one decoder step (both tones, nine levels each) alone:
// the reference one pair at a time, and each kernel on them padded to whole
// vectors, as the extractors call it.
constexpr std::size_t kStepPairs = 18;
constexpr std::size_t kStepLanes = (kStepPairs + kDensityLanes - 1) / kDensityLanes * kDensityLanes;

void BM_StepDensitiesReference(benchmark::State& state) {
  const TPairs& p = Pairs();
  std::size_t i = 0;
  double out[kStepPairs];
  for (auto _ : state) {
    for (std::size_t k = 0; k < kStepPairs; ++k) out[k] = TSignalExtractor::AmplitudeDensity(p.X[i + k], p.Y[i + k]);
    benchmark::DoNotOptimize(out);
    i = (i + kStepPairs) % (p.X.size() - kStepPairs);
  }
  SetCounters(state);
}
BENCHMARK(BM_StepDensitiesReference);

void BM_StepDensities(benchmark::State& state, TDensityKernel kernel) {
  if (!DensityKernelRuns(kernel)) {
    state.SkipWithError("this processor does not run the kernel");
    return;
  }
  const TPairs& p = Pairs();
  std::size_t i = 0;
  float d[kStepLanes], ln[kStepLanes];
  for (auto _ : state) {
    AmplitudeDensities(&p.X[i], &p.Y[i], d, ln, kStepLanes, kernel);
    benchmark::DoNotOptimize(ln);
    i = (i + kStepLanes) % (p.X.size() - kStepLanes);
  }
  SetCounters(state);
}
BENCHMARK_CAPTURE(BM_StepDensities, Portable, TDensityKernel::Portable);
BENCHMARK_CAPTURE(BM_StepDensities, Avx2, TDensityKernel::Avx2);

}  // namespace
