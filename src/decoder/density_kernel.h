// The hot arithmetic of the emissions: the signal extractor's amplitude
// density at many (level, amplitude) pairs at once (the nine tone shapes of
// both tones per spectrum) in vector lanes of singles, with its logarithm for
// the bit decoder. Each term of the density is computed and rounded to
// single, with faithfully rounded exponentials and logarithms of our own
// (dsp/lane_math.h); TSignalExtractor::AmplitudeDensity, in double precision,
// is the reference.
//
// Every kernel gives the same results bit for bit: the AVX2 one runs the
// operations of the portable one eight lanes at a time.
#pragma once

#include <cstddef>

namespace brenvo {

enum class TDensityKernel {
  Portable,  // four lanes, any processor
  Avx2,      // eight lanes, only where the processor has AVX2
};

// Lanes of the widest kernel's vectors: a count that is a whole multiple of
// it runs fastest (no partial vector to load and store).
inline constexpr std::size_t kDensityLanes = 8;

// The fastest kernel this processor runs.
TDensityKernel FastestDensityKernel();
bool DensityKernelRuns(TDensityKernel kernel);

// density[k] := the density of the amplitude y[k] >= 0 given the expected
// level x[k] >= 0 (both finite), and lnDensity[k] := its natural logarithm
// (-infinity for 0), for k < n (NaN in, NaN out). EBrenvoError for a kernel
// this processor cannot run.
void AmplitudeDensities(const float* x, const float* y, float* density, float* lnDensity, std::size_t n,
                        TDensityKernel kernel = FastestDensityKernel());

}  // namespace brenvo
