// The engine against a plain, step-by-step engine written here: interleaved
// complex ring and folded block, the transform through Fft with natural
// order, powers swapped into bins, the median selected on a copy with
// MedianInPlace, then scaling and the slow, contrast and peak steps.
//
// The engine keeps its ring split into real and imaginary arrays, computes
// the powers in the transform's scrambled order and finds the median with a
// guess; none of that may change a single bit of what it delivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "dsp/dsp_engine.h"
#include "dsp/fft.h"
#include "dsp/percentile.h"
#include "dsp/spectrum_kernels.h"

namespace brenvo {
namespace {

class TPlainEngine {
 public:
  explicit TPlainEngine(const TDspEngine& twin)
      : n_(twin.FftSize()),
        ring_len_(twin.RingLength()),
        input_len_(twin.InputLength()),
        window_(twin.WindowFunc().begin(), twin.WindowFunc().end()),
        ring_(ring_len_),
        fft_(n_),
        swap_(n_),
        fast_(n_),
        slow_(n_),
        peak_data_(n_),
        peaks_(n_),
        mdn_buf_(n_) {}

  void ProcessIqBlock(const std::vector<TComplex>& data) {
    for (int i = 0; i < input_len_; ++i) {
      const TComplex c = data[i];
      ring_[ring_pos_ + i] = std::isfinite(c.Re) && std::isfinite(c.Im) ? c : TComplex{};
    }
    ring_pos_ += input_len_;
    if (ring_pos_ == ring_len_) ring_pos_ = 0;

    // Fold: four segments, each added in turn onto the cleared block.
    std::fill(fft_.begin(), fft_.end(), TComplex{});
    for (int s = 0; s < 4; ++s) {
      const TComplex* src = ring_.data() + s * n_;
      const float* win = window_.data() + (ring_len_ - ring_pos_) + s * n_;
      for (int i = 0; i < n_; ++i) {
        fft_[i].Re = fft_[i].Re + src[i].Re * win[i];
        fft_[i].Im = fft_[i].Im + src[i].Im * win[i];
      }
    }
    Fft(fft_.data(), n_, true, false, true, swap_.data());
    const int h = n_ / 2;
    for (int k = 0; k < n_; ++k) fast_[(k + h) % n_] = fft_[k].Re * fft_[k].Re + fft_[k].Im * fft_[k].Im;

    const int c = std::min(h, 1024);
    std::copy(fast_.begin() + (h - c), fast_.begin() + (h + c), mdn_buf_.begin());
    mdn_ = MedianInPlace(mdn_buf_.data(), 2 * c);
    // The noise reading: the median, but no bin more than 55 dB above it.
    const float bound = *std::max_element(fast_.begin(), fast_.end()) / 316227.766f;
    bounded_ += bound > mdn_ ? 1 : 0;
    const float noise = std::max(mdn_, bound);
    if (noise > 0.0f) {
      const float f = 1.0f / noise;
      if (std::isfinite(f))
        for (float& v : fast_) v *= f;
    }

    if (age_ >= 70) {
      for (int b = 0; b < n_; ++b) slow_[b] = std::min(0.95f * slow_[b] + fast_[b], 1e30f);
      for (int j = 4; j <= n_ - 5; ++j) {
        const float den = slow_[j - 4] + slow_[j + 4];
        const float ratio = den > 0.0f ? std::min(slow_[j] / den, 1e30f) : 0.0f;
        peak_data_[j] = 0.98f * peak_data_[j] + ratio;
      }
      for (int k = 5; k <= n_ - 5; ++k) {
        const float p = peak_data_[k];
        peaks_[k] = p > 70.0f && peak_data_[k - 1] < p && peak_data_[k + 1] < p ? -1 : 0;
      }
    }
    ++age_;
  }

  const std::vector<float>& FastPwr() const { return fast_; }
  const std::vector<float>& SlowPwr() const { return slow_; }
  const std::vector<float>& PeakData() const { return peak_data_; }
  const std::vector<int32_t>& Peaks() const { return peaks_; }
  float Mdn() const { return mdn_; }
  int Bounded() const { return bounded_; }  // spectra scaled by the bound

 private:
  int n_, ring_len_, input_len_;
  std::vector<float> window_;
  std::vector<TComplex> ring_, fft_, swap_;
  std::vector<float> fast_, slow_, peak_data_;
  std::vector<int32_t> peaks_;
  std::vector<float> mdn_buf_;
  int ring_pos_ = 0;
  long long age_ = 0;
  float mdn_ = 0.0f;
  int bounded_ = 0;
};

// Noise whose level jumps by decades, tones that come and go (some of them
// far above the noise), a stretch of digital silence and a few samples that
// are not numbers: the previous median is then a poor guess as often as a
// good one.
std::vector<TComplex> TestBlock(int call, int length, std::mt19937& rng) {
  std::normal_distribution<double> g(0.0, 1.0);
  const int phase = call / 97;
  const double level = std::pow(10.0, (phase * 7) % 9 - 4);
  const bool silent = call >= 600 && call < 700;
  std::vector<TComplex> out(length);
  for (int i = 0; i < length; ++i) {
    const double t = static_cast<double>(call) * length + i;
    double re = level * g(rng), im = level * g(rng);
    if (phase % 3 != 1) {
      const double a = 2.0 * std::numbers::pi * (0.1875 + 0.0002 * phase) * t;
      const double tone = (phase % 4 == 2 ? 1e4 : 20.0) * level;
      re += tone * std::cos(a);
      im += tone * std::sin(a);
    }
    out[i] = silent ? TComplex{} : TComplex{static_cast<float>(re), static_cast<float>(im)};
  }
  if (call % 211 == 5) out[length / 2] = {std::nanf(""), 0.0f};
  return out;
}

// bounded: where to count the spectra that the 55 dB bound scaled.
void ExpectSameBits(int inputLength, float rate, bool scaling, int calls, int* bounded = nullptr) {
  TDspEngine engine(inputLength, rate);
  engine.SetScalingEnabled(scaling);
  TPlainEngine plain(engine);
  std::mt19937 rng(4242);
  int callsWithPeaks = 0;
  for (int call = 0; call < calls; ++call) {
    const std::vector<TComplex> block = TestBlock(call, inputLength, rng);
    engine.ProcessIqBlock(block);
    plain.ProcessIqBlock(block);
    if (!scaling) {
      // The reference scales always; compare before its scaling instead.
      ASSERT_EQ(engine.Mdn(), plain.Mdn()) << "call " << call;
      continue;
    }
    const std::string where = "length " + std::to_string(inputLength) + " call " + std::to_string(call);
    ASSERT_EQ(engine.Mdn(), plain.Mdn()) << where;
    for (int b = 0; b < engine.FftSize(); ++b) {
      ASSERT_EQ(engine.FastPwr()[b], plain.FastPwr()[b]) << where << " bin " << b;
      ASSERT_EQ(engine.SlowPwr()[b], plain.SlowPwr()[b]) << where << " bin " << b;
      ASSERT_EQ(engine.PeakData()[b], plain.PeakData()[b]) << where << " bin " << b;
      ASSERT_EQ(engine.Peaks()[b], plain.Peaks()[b]) << where << " bin " << b;
    }
    callsWithPeaks += std::count(plain.Peaks().begin(), plain.Peaks().end(), -1) > 0 ? 1 : 0;
  }
  // The comparison means little unless the tone made peaks now and then.
  if (scaling && calls > 200) {
    EXPECT_GT(callsWithPeaks, calls / 10);
  }
  if (bounded) *bounded = plain.Bounded();
}

TEST(DspEngineReference, SameBitsAsThePlainEngine) {
  int bounded = 0;
  ExpectSameBits(8, 3000.0f, true, 1200, &bounded);
  EXPECT_GT(bounded, 60);  // the strong tone engaged the bound
}

TEST(DspEngineReference, SameMedianWithoutScaling) { ExpectSameBits(8, 3000.0f, false, 400); }

// Sizes above 2048 bins take the median of the central 2048 only.
TEST(DspEngineReference, OtherSizesIncludingCentralMedian) {
  ExpectSameBits(1, 3000.0f, true, 300);
  ExpectSameBits(128, 3000.0f, true, 90);
}

}  // namespace
}  // namespace brenvo
