// Two-row Baudot table (five-bit code -> internal character), its reverse,
// and the clamped logarithm of the character-probability routines.
#pragma once

#include <array>
#include <cstdint>

#include "decoder/char_info.h"

namespace brenvo {

// Row 0 letters (ITA2), row 1 figures (this program's own row: code 5 is the
// apostrophe, 11 the asterisk, 17 the double quote; no bell, "=" or "+").
// Indexed [row][code], code 0..31, bit 0 of the code first on the air.
inline constexpr uint8_t BaudotTable[2][32] = {
    {kChNull, 'E', kChLineFeed, 'A', kChSpace, 'S', 'I', 'U',
     kChCarriageReturn, 'D', 'R', 'J', 'N', 'F', 'C', 'K',
     'T', 'Z', 'L', 'W', 'H', 'Y', 'P', 'Q',
     'O', 'B', 'G', kChFigures, 'M', 'X', 'V', kChLetters},
    {kChNull, '3', kChLineFeed, '-', kChSpace, '\'', '8', '7',
     kChCarriageReturn, '$', '4', '*', ',', '!', ':', '(',
     '5', '"', ')', '2', '#', '6', '0', '1',
     '9', '?', '&', kChFigures, '.', '/', ';', kChLetters}};

inline constexpr uint8_t kNoCode = 255;

// The reverse of BaudotTable: every character of either row maps to its code,
// the plain blank to the code of "_", everything else to kNoCode.
constexpr std::array<uint8_t, 256> BuildCodeTable() {
  std::array<uint8_t, 256> t{};
  for (auto& e : t) e = kNoCode;
  for (int row = 0; row < 2; ++row)
    for (int code = 0; code < 32; ++code) t[BaudotTable[row][code]] = static_cast<uint8_t>(code);
  t[' '] = t[kChSpace];
  return t;
}

// Computed at compile time: no start-up order to get wrong.
inline constexpr std::array<uint8_t, 256> CodeTable = BuildCodeTable();

// ln(1e-12) as a single: the floor of SafeLn.
inline constexpr float kSafeLnFloor = static_cast<float>(-27.631021115928547);

// ln(max(x, 1e-12)); NaN also gives the floor, never -inf.
float SafeLn(float x);

}  // namespace brenvo
