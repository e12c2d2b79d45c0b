// A whole receiver passband of RTTY signals, for benchmarks and the decoding
// corpus: several signals summed, then one white Gaussian noise over 3 kHz.
// Reproducible: the noise comes from a generator whose sequence the standard
// fixes (not std::normal_distribution, which differs between libraries).
//
// Scale as in rtty_synth.h (32-bit integer scale). Each signal's SNR is its
// tone power over the common noise power in 3000 Hz.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dsp/types.h"
#include "support/rtty_synth.h"

namespace brenvo::testing {

struct BandSignal {
  RttySynthParams Params;  // SnrDb and Seed are ignored: the band adds the noise
  std::string Text;        // sent over and over until the band's end
};

// Signals of `seconds` of audio with noise of standard deviation
// noiseSigma (0: none), seeded with noiseSeed. A signal longer than the band
// is cut; a shorter one is followed by silence (and noise).
TSingleArray SynthesizeBand(const std::vector<BandSignal>& band, double seconds, double noiseSigma,
                            uint64_t noiseSeed);

// Noise sigma that gives a signal of peak `amplitude` the SNR snrDb in 3 kHz.
double NoiseSigmaFor(double amplitude, double snrDb);

// The benchmark band: n lower-sideband signals (mark below space, 15 bins
// apart) 17 bins apart from bin 36 up, each at 10 dB SNR with a 16-bit peak
// of 2000 (12 of them stay below full scale), starting 0.3 s apart, each
// sending a CQ call of its own over and over.
TSingleArray BenchmarkBand(int n, double seconds, uint64_t seed);

}  // namespace brenvo::testing
