#include "decoder/char_prob.h"

#include <algorithm>
#include <cmath>

#include "decoder/baudot_table.h"

namespace brenvo {

float SafeLn(float x) {
  // Written so that NaN fails the test and takes the floor.
  if (!(x > 1e-12f)) return kSafeLnFloor;
  return std::log(x);
}

namespace {

void CheckClass(std::string_view chars) {
  if (chars.empty()) throw EBrenvoError("Empty character class");
}

}  // namespace

float CharProb(uint8_t ch, const TBitProbArray& p) {
  if (ch == kChSeparator) return NoCharProb(p);
  const int c = CodeTable[ch];
  float r = 1.0f;
  for (int i = 0; i < TBitProbArray::kCount; ++i) {
    const float pi = p[i];
    r *= ((c >> i) & 1) ? pi : 1.0f - pi;
  }
  return r;
}

float NoCharProb(const TBitProbArray& p) {
  float r = 1.0f;
  for (int i = 0; i < TBitProbArray::kCount; ++i) {
    const float pi = p[i];
    r = r * 30.0f * pi * (1.0f - pi);
  }
  if (std::isnan(r)) return 0.0001f;
  return std::clamp(r, 0.0001f, 0.9999f);
}

float CharClassProb(std::string_view chars, const TBitProbArray& p) {
  CheckClass(chars);
  float best = CharProb(static_cast<uint8_t>(chars[0]), p);
  for (std::size_t i = 1; i < chars.size(); ++i) {
    const float v = CharProb(static_cast<uint8_t>(chars[i]), p);
    if (v > best) best = v;
  }
  return best / static_cast<float>(chars.size());
}

float LnCharProb(uint8_t ch, const TBitProbArray& p) { return SafeLn(CharProb(ch, p)); }

float LnCharClassProb(std::string_view chars, const TBitProbArray& p) {
  return SafeLn(CharClassProb(chars, p));
}

uint8_t BestCharOfClass(std::string_view chars, const TBitProbArray& p) {
  CheckClass(chars);
  uint8_t best = static_cast<uint8_t>(chars[0]);
  float bestLn = LnCharProb(best, p);
  for (std::size_t i = 1; i < chars.size(); ++i) {
    const uint8_t ch = static_cast<uint8_t>(chars[i]);
    const float v = LnCharProb(ch, p);
    if (v > bestLn) {
      best = ch;
      bestLn = v;
    }
  }
  return best;
}

int ProbsToCode(const TBitProbArray& p) {
  int code = 0;
  for (int i = 0; i < TBitProbArray::kCount; ++i)
    if (p[i] >= 0.5f) code |= 1 << i;
  return code;
}

float CharUncertainty(const TBitProbArray& p) {
  float prod = 1.0f;
  for (int i = 0; i < TBitProbArray::kCount; ++i) {
    const float pi = p[i];
    prod *= std::max(pi, 1.0f - pi);
  }
  return 1.0f - prod;
}

}  // namespace brenvo
