// Follows one tone of one signal: from the tone bin's power in each spectrum
// it keeps the delayed amplitude, the envelope (level when on), the noise
// floor (level when off, fed back by the receiver), a signal-to-noise figure
// and the probability that the tone is on. Its amplitude density is the
// emission model of the bit decoder.
//
// Powers are on the scale of a median-normalised spectrum: noise reads about 1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "decoder/density_kernel.h"
#include "dsp/delay_line.h"
#include "dsp/quick_average.h"
#include "dsp/sliding_min_max.h"

namespace brenvo {

class TSignalExtractor {
 public:
  // Steps by which Amp lags the input: about the centre delays of the
  // envelope filters (17.5 + 17.5 + 8.5).
  static constexpr int32_t kDelay = 43;
  static constexpr int32_t kMaxSnrCount = 4096;
  static constexpr std::size_t kShapeCount = 9;
  // A density per tone shape and its natural logarithm (-infinity for 0).
  struct TShapeDensities {
    std::array<float, kShapeCount> Density{}, Ln{};
    bool operator==(const TShapeDensities&) const = default;
  };

  // The bit decoder's tone shapes: shape i (0..8) expects the tone at
  // Level(ToneShapes()[i]), (1 - cos(i pi / 8)) / 2: 0 off, 1 on, between
  // them a transition.
  static const std::array<float, kShapeCount>& ToneShapes();

  TSignalExtractor();

  // Back to the just-built state (the receiver never calls it: the extractor
  // runs on across a receiver reset).
  void Reset();

  // One spectrum: p is the tone bin's power (>= 0; a negative power counts
  // as 0 and a non-finite one as no power at all, 0).
  void Process(float p);
  // mark.Process(pm) and space.Process(ps), the densities of both tones
  // worked out together (fewer vector passes than one tone at a time).
  static void ProcessPair(TSignalExtractor& mark, float pm, TSignalExtractor& space, float ps);

  // One tone's step as the filters leave it: the power as taken, the
  // envelope and the delayed amplitude.
  struct TStep {
    float P = 0.0f;
    float Env = 0.0f;
    float Amp = 0.0f;
  };
  // The steps of both tones for up to kMaxSteps spectra.
  struct TPairSteps {
    static constexpr std::size_t kMaxSteps = 16;
    // Densities per step: the mark's shapes, then the space's.
    static constexpr std::size_t kLanes = 2 * kShapeCount;
    std::size_t Count = 0;
    std::array<TStep, kMaxSteps> Mark, Space;
    // Step t's densities and their logarithms from t * kLanes on; whole
    // vectors of the density kernel.
    static constexpr std::size_t kDensities =
        (kMaxSteps * kLanes + kDensityLanes - 1) / kDensityLanes * kDensityLanes;
    std::array<float, kDensities> Density, Ln;
  };
  // The first half of ProcessPair for several spectra in a row: the
  // filters of both tones with the bins' powers pm[t] and ps[t], t < count
  // (at most kMaxSteps), and all their densities in one go (vectors full,
  // and one step's chains of exponentials beside another's). The levels
  // come from the noise floors as they are: the steps must not span a
  // noise-floor update. The extractors' Env and Amp are then those of the
  // last step.
  static void FilterPairs(TSignalExtractor& mark, const float* pm, TSignalExtractor& space,
                          const float* ps, std::size_t count, TPairSteps& out);
  // The second half for one of those steps, in order: its envelope,
  // amplitude and densities become the current ones, and Prob and Snr follow.
  void TakeStep(const TStep& step, const float* density, const float* ln);
  // Noise-floor feedback with the amplitude x of a step in which the decoded
  // path says the tone is off: Nfl := 0.95 Nfl + 0.05 x. Non-finite x is ignored.
  void UpdateNfl(float x);
  // Expected level of the tone for shape s: Nfl + s (Env - Nfl), rounded to
  // single; s = 0 tone off, 1 tone on, between for a transition.
  float Level(float s) const;
  // Density of the current Amp at Level(s), in double precision (the
  // reference of ShapeDensities).
  double Likelihood(float s) const;
  // L1 / (L0 + L1) with L0 = Likelihood(0), L1 = Likelihood(1); 0.5 when
  // that is undefined (both 0 or not finite). Process sets Prob the same way
  // from ShapeDensities.
  double ComputeProb() const;
  // The densities of the current Amp at the levels of the nine tone shapes,
  // in single precision (AmplitudeDensities): worked out by Process, and
  // again when Env, Nfl or Amp have changed since.
  const TShapeDensities& ShapeDensities() const;

  // Density of an observed amplitude y given an expected level x (x >= 0),
  // in double precision, each term rounded to single: an exponential tail,
  // the main peak a little below x, and a broad floor. At x = 0 the peak
  // term takes its limit instead of dividing by zero.
  static double AmplitudeDensity(float x, float y);
  // The tail's fading in it, 0.96268291^x: taken as e^(x ln 0.96268291),
  // not with pow, so it can differ from pow's in the last bit or two (its
  // weight is rounded to single; tests count how often that differs).
  static double TailFade(float x);

  int32_t SnrCount() const { return FSnrCnt; }

  // Read by the receiver and the decoder; written only by this class (and by
  // tests that set up a state).
  float Amp = 0.0f;   // amplitude (sqrt of power) kDelay steps ago
  float Env = 0.0f;   // envelope: amplitude of the tone when on
  float Snr = 0.0f;   // mean power over the steps judged tone-on
  float Nfl = 1.0f;   // noise floor: amplitude when the tone is off
  double Prob = 0.0;  // probability that the tone is on at the step of Amp

 private:
  TSlidingMax Mx{36};
  TSlidingMin Mn{18};
  TQuickAverage Avg{1, 36};
  TDelayLine Del{kDelay};
  int32_t FSnrCnt = 0;
  // The steps of Process: the filters, the shape levels and the amplitude
  // for each, keeping the densities at them (and their logarithms) as
  // ShapeDensities, and Prob and Snr from them.
  TStep Filter(float p);
  // Level(s) for the envelope env.
  float LevelWith(float env, float s) const;
  // The levels of the nine shapes and the amplitude, for a step's envelope and amplitude.
  void ShapeLevels(const TStep& step, float* x, float* y) const;
  void KeepShapeDensities(const float* d, const float* ln) const;
  void UpdateProb(float p);
  // ShapeDensities and the state they belong to.
  void ComputeShapeDensities() const;
  mutable TShapeDensities FShapeDensities;
  mutable float FSeenEnv = 0.0f, FSeenNfl = 0.0f, FSeenAmp = 0.0f;
  mutable bool FSeen = false;
};

}  // namespace brenvo
