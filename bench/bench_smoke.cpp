#include <benchmark/benchmark.h>

#include "dsp/types.h"

namespace {

void BM_ComplexModulus(benchmark::State& state) {
  brenvo::TComplex c{3.0f, -4.0f};
  for (auto _ : state) {
    benchmark::DoNotOptimize(c);
    benchmark::DoNotOptimize(brenvo::ComplexModulus(c));
  }
}
BENCHMARK(BM_ComplexModulus);

}  // namespace
