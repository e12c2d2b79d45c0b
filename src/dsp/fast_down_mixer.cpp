#include "dsp/fast_down_mixer.h"

#include <cmath>
#include <numbers>

#include "dsp/errors.h"

namespace brenvo {

namespace {
constexpr int32_t kMaxCount = 1 << 24;
}

TFastDownMixer::TFastDownMixer() { SetParams(2048, 0.0, 48000.0); }

void TFastDownMixer::SetParams(int32_t Count, double Frequency, double Rate) {
  if (!std::isfinite(Rate) || Rate <= 0.0) throw ERangeError("Mixer rate must be above 0");
  if (!std::isfinite(Frequency)) throw ERangeError("Mixer frequency must be a finite number");
  if (Count < 0 || Count > kMaxCount) throw ERangeError("Mixer table length must be 0 to 16777216");
  if (Count == 0) {
    const double c = std::nearbyint(Rate);
    if (c < 1.0 || c > kMaxCount) throw ERangeError("Mixer table length must be 1 to 16777216");
    Count = static_cast<int32_t>(c);
  }
  FFrequency = Frequency;
  HighT = Count - 1;
  Osc.assign(static_cast<std::size_t>(Count), TComplex{});
  const double k = std::nearbyint(Frequency / Rate * Count);
  const float step = static_cast<float>(2.0 * std::numbers::pi * k / Count);
  for (int32_t n = 0; n < Count; ++n) {
    const double a = n * static_cast<double>(step);
    Osc[n] = {static_cast<float>(std::cos(a)), static_cast<float>(-std::sin(a))};
  }
  Reset();
}

void TFastDownMixer::MixReal(const float* data, std::size_t n, float* re, float* im) {
  int32_t t = CurrT;
  for (std::size_t i = 0; i < n; ++i) {
    const TComplex o = Osc[t];
    re[i] = data[i] * o.Re;
    im[i] = data[i] * o.Im;
    if (++t > HighT) t = 0;
  }
  CurrT = t;
}

void TFastDownMixer::Mix(const TSingleArray& Data, TComplexArray& Result) {
  Result.resize(Data.size());
  int32_t t = CurrT;
  for (std::size_t i = 0; i < Data.size(); ++i) {
    const TComplex o = Osc[t];
    Result[i] = {Data[i] * o.Re, Data[i] * o.Im};
    if (++t > HighT) t = 0;
  }
  CurrT = t;
}

void TFastDownMixer::Mix(const TComplexArray& Data, TComplexArray& Result) {
  Result.resize(Data.size());
  int32_t t = CurrT;
  for (std::size_t i = 0; i < Data.size(); ++i) {
    const TComplex a = Data[i];
    const TComplex o = Osc[t];
    Result[i] = {a.Re * o.Re - a.Im * o.Im, a.Im * o.Re + a.Re * o.Im};
    if (++t > HighT) t = 0;
  }
  CurrT = t;
}

void TFastDownMixer::Mix(const TSingleArray& Re, const TSingleArray& Im, TReImArrays& Result) {
  if (Im.size() < Re.size()) throw ERangeError();
  SetReImLength(Result, static_cast<int32_t>(Re.size()));
  int32_t t = CurrT;
  for (std::size_t i = 0; i < Re.size(); ++i) {
    const float a = Re[i];
    const float b = Im[i];
    const TComplex o = Osc[t];
    Result.Re[i] = a * o.Re - b * o.Im;
    Result.Im[i] = b * o.Re + a * o.Im;
    if (++t > HighT) t = 0;
  }
  CurrT = t;
}

}  // namespace brenvo
