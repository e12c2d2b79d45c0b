// The add-compare-select of one bit-decoder step over the whole bit model:
// every state's best predecessor and its new path metric, in place, less the
// best one. Built once from the model and shared by every
// decoder; the per-decoder arrays are passed in.
//
// The kernels differ only in the order of independent work: each gives the
// same metrics and back-pointers bit for bit (on ties the first predecessor
// in the model's order wins).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "decoder/rtty_bit_hmm.h"

namespace brenvo {

class TRttyBitAcs {
 public:
  // Log-likelihood of the spectrum per ShapeIdx + 2 (element 0, for the exit
  // states, must be 0), zero-padded to 16 for the vector lookups.
  using TEmissions = std::array<float, 16>;

  enum class TKernel {
    Reference,  // scalar, state by state
    Vector,     // four lanes, any processor
    Avx2,       // eight lanes, only where the processor has AVX2
  };
  // The fastest kernel this processor runs.
  static TKernel Fastest();
  static bool Runs(TKernel kernel);

  explicit TRttyBitAcs(const TRttyBitHmm& hmm);
  ~TRttyBitAcs();

  // One step over metric (StateCount() values, in place). A state's path
  // metric is metric[state] - offset: the step reads the values so, writes
  // this step's values as they come and sets offset to the best of them (so
  // that the best path metric is 0 again, without a pass over the array).
  // history (HistorySize() values) receives the step's back-pointers: the
  // best predecessor of a state with several at HistoryIndex(state).
  // joinValue (JoinValueCount() values) is scratch.
  void Step(TKernel kernel, const TEmissions& em, float* metric, float& offset, int16_t* history,
            float* joinValue) const;

  int32_t StateCount() const;
  int32_t HistorySize() const;
  int32_t JoinValueCount() const;
  // Where a step's history keeps the state's best predecessor; -1 for a
  // state with one predecessor (its first, always).
  int32_t HistoryIndex(int32_t state) const;

  struct TLayout;

 private:
  std::unique_ptr<const TLayout> FLayout;
};

// The one for BitHmm(), built on first use (thread-safe).
const TRttyBitAcs& SharedBitAcs();

}  // namespace brenvo
