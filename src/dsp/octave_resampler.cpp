#include "dsp/octave_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

#include "dsp/cpu_features.h"
#include "dsp/errors.h"

namespace brenvo {

namespace {

// Four-term Blackman-Harris window, centred on 0, near zero at +-1.
float Window(float x) {
  const double px = std::numbers::pi * static_cast<double>(x);
  return static_cast<float>(0.35875 + 0.48829 * std::cos(px) + 0.14128 * std::cos(2.0 * px) +
                            0.01168 * std::cos(3.0 * px));
}

// sin(2 pi x) / (2 pi x): the ideal half-band response.
float Sinc(float x) {
  if (x == 0.0f) return 1.0f;
  const double a = 2.0 * std::numbers::pi * static_cast<double>(x);
  return static_cast<float>(std::sin(a) / a);
}

// Tap at the odd offset n of a kernel whose window spans +-span.
float Tap(int n, int span) {
  const float w = Window(static_cast<float>(static_cast<double>(n) / span));
  const float s = Sinc(static_cast<float>(static_cast<double>(n) / 4.0));
  return static_cast<float>(static_cast<double>(w) * s);
}

// One halving stage. x holds 2(2M - 1) history values and then n new ones; it
// writes n / 2 values to y. Output j is centred on x[c], c = 2j + 2M - 1: the
// taps at odd distances read only even positions, so the kernel's symmetry
// gives one product per pair. The even positions are first gathered (as
// doubles, in which the taps are summed) so that the tap loops run over
// contiguous values. Each output adds its taps in order, the centre first;
// sixteen outputs at a time keep their sums in registers through all taps
// (four lanes of doubles: a processor with AVX2 runs each vector as one).
template <int M>
BRENVO_AVX2_CLONES void DecimateStage(const float* x, int32_t n, float centre, const float* k, double* even,
                                      float* y) {
  using V4d = double __attribute__((vector_size(32)));
  const int32_t half = n / 2;
  const int32_t evens = half + 2 * M - 1;  // x[0], x[2], .. x[n + 4M - 4]
  for (int32_t i = 0; i < evens; ++i) even[i] = x[2 * i];
  const float* xc = x + (2 * M - 1);
  const double c = centre;
  std::array<double, M> kd;
  for (int t = 0; t < M; ++t) kd[t] = k[t];
  int32_t j = 0;
  for (; j + 16 <= half; j += 16) {
    V4d a[4];
    for (int q = 0; q < 4; ++q) {
      const float* xq = xc + 2 * (j + 4 * q);
      a[q] = V4d{c * xq[0], c * xq[2], c * xq[4], c * xq[6]};
    }
    // x[c + 2t + 1] = even[j + M + t], x[c - 2t - 1] = even[j + M - 1 - t].
    for (int t = 0; t < M; ++t) {
      const double* up = even + (j + M + t);
      const double* down = even + (j + M - 1 - t);
      const V4d kt = {kd[t], kd[t], kd[t], kd[t]};
      for (int q = 0; q < 4; ++q) {
        V4d u, d;
        std::memcpy(&u, up + 4 * q, sizeof u);
        std::memcpy(&d, down + 4 * q, sizeof d);
        a[q] += kt * (u + d);
      }
    }
    for (int q = 0; q < 4; ++q)
      for (int l = 0; l < 4; ++l) y[j + 4 * q + l] = static_cast<float>(a[q][l]);
  }
  for (; j < half; ++j) {
    double a = c * xc[2 * j];
    for (int t = 0; t < M; ++t) a += kd[t] * (even[j + M + t] + even[j + M - 1 - t]);
    y[j] = static_cast<float>(a);
  }
}

// One doubling stage. x holds 2M - 1 history values and then n new ones; it
// writes 2n values to y: the even ones copy x[c] (times the centre tap), the
// odd ones interpolate halfway between x[c] and x[c + 1], c = j + M - 1.
template <int M>
void InterpolateStage(const float* x, int32_t n, float centre, const float* k, double* acc,
                      float* y) {
  const float* xc = x + (M - 1);
  for (int32_t j = 0; j < n; ++j) acc[j] = 0.0;
  for (int t = 0; t < M; ++t) {
    const double kt = k[t];
    for (int32_t j = 0; j < n; ++j)
      acc[j] += kt * (static_cast<double>(xc[j + 1 + t]) + static_cast<double>(xc[j - t]));
  }
  for (int32_t j = 0; j < n; ++j) {
    y[2 * j] = static_cast<float>(static_cast<double>(centre) * xc[j]);
    y[2 * j + 1] = static_cast<float>(acc[j]);
  }
}

}  // namespace

TOctaveResampler::TOctaveResampler() {
  FGain = 1.0f;
  SetFactor(rf02x);
}

TOctaveResampler::TOctaveResampler(TResamplingFactor factor, int32_t bigBlockSize) {
  // Validate both before storing either, so that any valid pair is accepted
  // whatever the default block size.
  if (factor > rf64x) throw ERangeError("Resampling factor must be rf01x to rf64x");
  FBigBlockSize = int32_t{1} << factor;
  SetFactor(factor);
  SetBigBlockSize(bigBlockSize);
}

void TOctaveResampler::SetFactor(TResamplingFactor value) {
  if (value > rf64x) throw ERangeError("Resampling factor must be rf01x to rf64x");
  const int32_t f = int32_t{1} << value;
  if (FBigBlockSize % f != 0)
    throw ERangeError("BigBlockSize " + std::to_string(FBigBlockSize) +
                      " is not a whole multiple of the resampling factor " + std::to_string(f));
  FFactor = value;
  DesignKernels();
  // Each further halving stage runs at twice the rate of the one after it and
  // adds its half-length plus one of its own samples.
  static constexpr float kDelays[7] = {0, 76, 166, 342, 692, 1392, 2792};
  FDelay = kDelays[FFactor];
  Reset();
}

void TOctaveResampler::SetIntegerFactor(int32_t v) {
  if (v < 1) throw ERangeError("IntegerFactor must be at least 1, got " + std::to_string(v));
  const double l = std::nearbyint(std::log2(static_cast<double>(v)));
  if (l > 6.0) throw ERangeError("IntegerFactor must be at most 64, got " + std::to_string(v));
  SetFactor(static_cast<TResamplingFactor>(static_cast<int>(l)));
}

void TOctaveResampler::SetBigBlockSize(int32_t value) {
  const int32_t f = IntegerFactor();
  if (value < f || value % f != 0)
    throw ERangeError("BigBlockSize must be a positive whole multiple of the resampling factor " +
                      std::to_string(f) + ", got " + std::to_string(value));
  FBigBlockSize = value;
  Reset();
}

void TOctaveResampler::SetGainDb(float value) {
  if (!std::isfinite(value)) throw ERangeError("GainDb must be a finite number");
  FGainDb = value;
  FGain = static_cast<float>(std::pow(10.0, static_cast<double>(value) / 20.0));
  DesignKernels();
}

void TOctaveResampler::DesignKernels() {
  for (int k = 0; k < 4; ++k) FKernel2[k] = Tap(2 * k + 1, 9);
  for (int k = 0; k < 5; ++k) FKernel3[k] = Tap(2 * k + 1, 11);
  for (int k = 0; k < 7; ++k) FKernel4[k] = Tap(2 * k + 1, 15);
  const double scale = 1.0 / static_cast<double>(IntegerFactor());
  for (int k = 0; k < 38; ++k) {
    const int n = 2 * k + 1;
    const float w = Window(static_cast<float>(static_cast<double>(n) / 77.0));
    const float s = Sinc(static_cast<float>(static_cast<double>(n) / 4.0));
    FKernel5I[k + 1] = static_cast<float>(static_cast<double>(w) * FGain * s);
    FKernel5D[k + 1] = static_cast<float>(FKernel5I[k + 1] * scale);
  }
  FKernel5I[0] = FGain;
  FKernel5D[0] = static_cast<float>(FGain * scale);
}

int TOctaveResampler::DecimateHistory(int b) {
  static constexpr int kHist[6] = {14, 14, 14, 18, 26, 150};
  return kHist[b];
}

int TOctaveResampler::InterpolateHistory(int b) {
  static constexpr int kHist[6] = {7, 7, 7, 9, 13, 75};
  return kHist[b];
}

void TOctaveResampler::Reset() {
  FSmallBlockSize = FBigBlockSize >> FFactor;
  for (int b = 0; b < 6; ++b) {
    Buf[b].clear();
    if (BufferUsed(b)) Buf[b].assign(BufferBlock(b) + DecimateHistory(b), 0.0f);
  }
  Acc.assign(static_cast<std::size_t>(std::max(FBigBlockSize / 2, 1)), 0.0);
  Even.assign(Acc.size() + 75, 0.0);
}

void TOctaveResampler::CopyWithGain(const TSingleArray& Input, TSingleArray& Output) const {
  if (FGainDb != 0.0f) {
    for (std::size_t i = 0; i < Input.size(); ++i) Output[i] = Input[i] * FGain;
  } else {
    std::copy(Input.begin(), Input.end(), Output.begin());
  }
}

void TOctaveResampler::Decimate(const TSingleArray& Input, TSingleArray& Output) {
  BRENVO_ASSERT(Input.size() == static_cast<std::size_t>(FBigBlockSize));
  BRENVO_ASSERT(Output.size() == static_cast<std::size_t>(FSmallBlockSize));
  if (FFactor == rf01x) {
    CopyWithGain(Input, Output);
    return;
  }
  const int first = 6 - FFactor;
  for (int b = first; b < 6; ++b) {
    const int32_t n = BufferBlock(b);
    const int h = DecimateHistory(b);
    std::copy(Buf[b].begin() + n, Buf[b].begin() + n + h, Buf[b].begin());
  }
  std::copy(Input.begin(), Input.end(), Buf[first].begin() + DecimateHistory(first));
  for (int b = first; b < 6; ++b) {
    const int32_t n = BufferBlock(b);
    const float* x = Buf[b].data();
    double* even = Even.data();
    float* y = b == 5 ? Output.data() : Buf[b + 1].data() + DecimateHistory(b + 1);
    switch (b) {
      case 5: DecimateStage<38>(x, n, FKernel5D[0], FKernel5D.data() + 1, even, y); break;
      case 4: DecimateStage<7>(x, n, 1.0f, FKernel4.data(), even, y); break;
      case 3: DecimateStage<5>(x, n, 1.0f, FKernel3.data(), even, y); break;
      default: DecimateStage<4>(x, n, 1.0f, FKernel2.data(), even, y); break;
    }
  }
}

void TOctaveResampler::Interpolate(const TSingleArray& Input, TSingleArray& Output) {
  BRENVO_ASSERT(Input.size() == static_cast<std::size_t>(FSmallBlockSize));
  BRENVO_ASSERT(Output.size() == static_cast<std::size_t>(FBigBlockSize));
  if (FFactor == rf01x) {
    CopyWithGain(Input, Output);
    return;
  }
  const int first = 6 - FFactor;
  // Buffer b takes the input of the stage that doubles to the rate of buffer b's
  // decimation input: FSmallBlockSize << (5 - b) values.
  for (int b = first; b < 6; ++b) {
    const int32_t n = FSmallBlockSize << (5 - b);
    const int h = InterpolateHistory(b);
    std::copy(Buf[b].begin() + n, Buf[b].begin() + n + h, Buf[b].begin());
  }
  std::copy(Input.begin(), Input.end(), Buf[5].begin() + InterpolateHistory(5));
  for (int b = 5; b >= first; --b) {
    const int32_t n = FSmallBlockSize << (5 - b);
    const float* x = Buf[b].data();
    double* acc = Acc.data();
    float* y = b == first ? Output.data() : Buf[b - 1].data() + InterpolateHistory(b - 1);
    switch (b) {
      case 5: InterpolateStage<38>(x, n, FKernel5I[0], FKernel5I.data() + 1, acc, y); break;
      case 4: InterpolateStage<7>(x, n, 1.0f, FKernel4.data(), acc, y); break;
      case 3: InterpolateStage<5>(x, n, 1.0f, FKernel3.data(), acc, y); break;
      default: InterpolateStage<4>(x, n, 1.0f, FKernel2.data(), acc, y); break;
    }
  }
}

}  // namespace brenvo
