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

void CodeProbs(const TBitProbArray& p, float (&out)[32]) {
  // The products of bits 0 .. i for the codes' low bits, a bit more each
  // round: code k's product is extended by bit i = 0 in place and by bit
  // i = 1 into k + 2^i.
  out[0] = 1.0f;
  for (int i = 0, n = 1; i < TBitProbArray::kCount; ++i, n *= 2) {
    const float one = p[i], zero = 1.0f - one;
    for (int k = 0; k < n; ++k) {
      out[k + n] = out[k] * one;
      out[k] *= zero;
    }
  }
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
  float codeProb[32];
  CodeProbs(p, codeProb);
  auto prob = [&](uint8_t ch) {
    const uint8_t code = CodeTable[ch];
    return ch == kChSeparator ? NoCharProb(p) : codeProb[code == kNoCode ? 31 : code];
  };
  float top = 0.0f;
  for (const char c : chars) top = std::max(top, prob(static_cast<uint8_t>(c)));
  // The first member with the highest logarithm. A member whose probability
  // lies more than 1e-4 of it below the highest has the lower logarithm
  // however a faithful logf rounds (above SafeLn's floor an ulp of the
  // logarithm is below 2e-6), so only the members near the highest need
  // theirs; near the floor all do.
  const float near = top > 2e-12f ? top * (1.0f - 1e-4f) : 0.0f;
  uint8_t best = 0;
  float bestLn = 0.0f;
  bool any = false;
  for (const char c : chars) {
    const auto ch = static_cast<uint8_t>(c);
    const float v = prob(ch);
    if (v < near) continue;
    const float ln = SafeLn(v);
    if (!any || ln > bestLn) {
      best = ch;
      bestLn = ln;
      any = true;
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
