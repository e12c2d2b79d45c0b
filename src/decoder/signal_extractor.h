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
  // Expected levels whose level-only terms Likelihoods keeps (the decoder's
  // nine tone shapes).
  static constexpr std::size_t kLevelSlots = 9;

  TSignalExtractor();

  // Back to the just-built state (the receiver never calls it: the extractor
  // runs on across a receiver reset).
  void Reset();

  // One spectrum: p is the tone bin's power (>= 0; a negative power counts
  // as 0 and a non-finite one as no power at all, 0).
  void Process(float p);
  // Noise-floor feedback with the amplitude x of a step in which the decoded
  // path says the tone is off: Nfl := 0.95 Nfl + 0.05 x. Non-finite x is ignored.
  void UpdateNfl(float x);
  // Expected level of the tone for shape s: Nfl + s (Env - Nfl), rounded to
  // single; s = 0 tone off, 1 tone on, between for a transition.
  float Level(float s) const;
  // Density of the current Amp at Level(s).
  double Likelihood(float s) const;
  // L1 / (L0 + L1) with L0 = Likelihood(0), L1 = Likelihood(1); 0.5 when
  // that is undefined (both 0 or not finite).
  double ComputeProb() const;
  // out[i] = Likelihood(shapes[i]) for i < n <= kLevelSlots, computed
  // together for a fixed table of shapes (the decoder's nine tone shapes):
  // the terms that depend only on the level are kept per position i and used
  // again while that level stays the same (level 0, the noise floor, changes
  // only with UpdateNfl); Likelihood(0) and Likelihood(1) are the values
  // Process computed for Prob while Env, Nfl and Amp are unchanged.
  // ERangeError for n above kLevelSlots.
  void Likelihoods(const float* shapes, std::size_t n, double* out) const;

  // Density of an observed amplitude y given an expected level x (x >= 0):
  // an exponential tail, the main peak a little below x, and a broad floor.
  // At x = 0 the peak term takes its limit instead of dividing by zero.
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
  // The terms of the density that depend on the expected level X only,
  // each rounded to single.
  struct TLevelTerms {
    float X = 0.0f;
    float D1 = 0.0f, W1 = 0.0f;          // tail: divisor, weight
    float M = 0.0f, S = 0.0f, W2 = 0.0f;  // peak: centre, width, weight
    float W3 = 0.0f;                     // floor: width
    bool Valid = false;
  };
  static TLevelTerms TermsOf(float x);
  static double DensityOf(const TLevelTerms& t, float y);
  // The three terms from the exponentials of the tail, the peak and the floor.
  static double Combine(const TLevelTerms& t, double y, double tail, double peak, double floor);
  // out[k] = DensityOf(*terms[k], Amp), k < m <= kLevelSlots.
  void Densities(const TLevelTerms* const* terms, std::size_t m, double* out) const;
  // The terms of level x through the cache slot.
  const TLevelTerms& Terms(std::size_t slot, float x) const;
  // Whether Env, Nfl and Amp are those the last Process computed FL0, FL1 with.
  bool Unchanged() const;

  int32_t FSnrCnt = 0;
  mutable std::array<TLevelTerms, kLevelSlots> FLevels{};
  // The two likelihoods of the last Process and the state they belong to.
  double FL0 = 0.0, FL1 = 0.0;
  float FSeenEnv = 0.0f, FSeenNfl = 0.0f, FSeenAmp = 0.0f;
  bool FSeen = false;
};

}  // namespace brenvo
