// Probabilities of characters given the soft values of their five bits
// (bits taken as independent). Characters are of the internal character set;
// a class of characters is a string of its members.
#pragma once

#include <cstdint>
#include <string_view>

#include "decoder/char_info.h"

namespace brenvo {

// Probability that the bits spell ch; for "~" it is NoCharProb(p). A byte
// without a code is scored as the all-ones code.
float CharProb(uint8_t ch, const TBitProbArray& p);
// CharProb of every five-bit code at once (the same products, bit by bit).
void CodeProbs(const TBitProbArray& p, float (&out)[32]);
// How well p fits no character at all: 0.0001 (sure bits) .. 0.9999 (no decision).
float NoCharProb(const TBitProbArray& p);
// The largest CharProb of the class's members divided by their number.
// An empty class raises EBrenvoError.
float CharClassProb(std::string_view chars, const TBitProbArray& p);
float LnCharProb(uint8_t ch, const TBitProbArray& p);
float LnCharClassProb(std::string_view chars, const TBitProbArray& p);
// The member with the highest LnCharProb, the first one on ties. An empty
// class raises EBrenvoError.
uint8_t BestCharOfClass(std::string_view chars, const TBitProbArray& p);
// Hard decision: bit i set when p[i] >= 0.5.
int ProbsToCode(const TBitProbArray& p);
// 1 minus the probability of the hard decision.
float CharUncertainty(const TBitProbArray& p);

}  // namespace brenvo
