// The character record that every decoding stage exchanges, and the internal
// 8-bit character set of decoded text.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "decoder/state_type.h"
#include "decoder/utc_clock.h"
#include "dsp/byte_set.h"
#include "dsp/errors.h"

namespace brenvo {

// Internal character set: bytes that stand for Baudot controls and decoder events.
inline constexpr uint8_t kChSpace = '_';          // code 4, both rows
inline constexpr uint8_t kChLineFeed = '|';       // code 2, both rows
inline constexpr uint8_t kChCarriageReturn = 0xA6;  // code 8, both rows
inline constexpr uint8_t kChNull = 0xB0;          // code 0, both rows
inline constexpr uint8_t kChFigures = 0xAB;       // figures shift, code 27
inline constexpr uint8_t kChLetters = 0xBB;       // letters shift, code 31
inline constexpr uint8_t kChIncomplete = 0xAE;    // stop after fewer than five data bits
inline constexpr uint8_t kChSteadyTone = 0xA9;    // a steady mark tone instead of characters
inline constexpr uint8_t kChSilence = 0xF7;       // neither tone
// Class characters of model patterns and corrected text.
inline constexpr uint8_t kChAnyLetter = '@';
inline constexpr uint8_t kChAnyDigit = 'n';
inline constexpr uint8_t kChAnyPunct = 'p';
inline constexpr uint8_t kChSeparator = '~';  // separator or no character

// Five bit probabilities, element i the probability (0..1) that bit i of the
// five-bit code is 1, bit 0 first on the air. Byte-aligned so that it can sit
// at its offset inside the packed TCharInfo; elements are read and written by
// value (operator[] returns a proxy on non-const objects).
class TBitProbArray {
 public:
  static constexpr int kCount = 5;

  class TRef {
   public:
    operator float() const {
      float v;
      std::memcpy(&v, FP, sizeof v);
      return v;
    }
    TRef& operator=(float v) {
      std::memcpy(FP, &v, sizeof v);
      return *this;
    }
    TRef& operator=(const TRef& r) { return *this = static_cast<float>(r); }

   private:
    friend class TBitProbArray;
    explicit TRef(uint8_t* p) : FP(p) {}
    uint8_t* FP;
  };

  TBitProbArray() = default;
  TBitProbArray(std::initializer_list<float> values) {
    if (values.size() != kCount) throw ERangeError();
    int i = 0;
    for (float v : values) Set(i++, v);
  }

  // Index 0..4; ERangeError otherwise.
  float operator[](int i) const { return Get(i); }
  TRef operator[](int i) {
    CheckIndex(i, kCount);
    return TRef(FBytes + i * 4);
  }
  float Get(int i) const {
    CheckIndex(i, kCount);
    float v;
    std::memcpy(&v, FBytes + i * 4, sizeof v);
    return v;
  }
  void Set(int i, float v) {
    CheckIndex(i, kCount);
    std::memcpy(FBytes + i * 4, &v, sizeof v);
  }
  bool operator==(const TBitProbArray& o) const {
    for (int i = 0; i < kCount; ++i)
      if (Get(i) != o.Get(i)) return false;
    return true;
  }

 private:
  uint8_t FBytes[kCount * 4] = {};
};
static_assert(sizeof(TBitProbArray) == 20 && alignof(TBitProbArray) == 1);

// Display flags of a character; bit 0 = cfVisible .. bit 5 = cfSquelch.
enum TCharFlag : uint8_t { cfVisible, cfWeak, cfNewLine, cfVisNewLine, cfPreSquelch, cfSquelch };

// A set of TCharFlag held in one byte.
using TCharFlags = TByteSet<TCharFlag>;
static_assert(sizeof(TCharFlags) == 1);

// One decoded character: plain value, copied whole between stages. Packed to
// 42 bytes: RawCh 0, CorrCh 1, MetaCh 2, ChType 3, BitProbs 4, RawFlags 24,
// CorrFlags 25, SampleNo 26, Utc 30, StopLen 38. Read the 32-bit and double
// fields by value (a reference to a packed field would be misaligned).
#pragma pack(push, 1)
struct TCharInfo {
  uint8_t RawCh = 0;  // as the bit decoder decided it
  uint8_t CorrCh = 0;  // after correction; 0 until the corrector has seen it
  uint8_t MetaCh = 0;  // class character ("@", "n", "p", "~") or 0
  TWordType ChType = ctSquelch;
  TBitProbArray BitProbs;  // all 0 for event records (AE, A9, F7)
  TCharFlags RawFlags;
  TCharFlags CorrFlags;
  // Zero-based spectrum number (since the decoder's reset) at which the path
  // passed the stop element (or the tone / silence element); wraps after 2^32.
  int32_t SampleNo = 0;
  TDateTime Utc = 0.0;  // UTC when the record was made, days
  int32_t StopLen = 0;  // length in spectra of the stop element before it
};
#pragma pack(pop)
static_assert(sizeof(TCharInfo) == 42);

using TCharInfoArray = std::vector<TCharInfo>;

}  // namespace brenvo
