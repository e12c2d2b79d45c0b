// Rates the shape of a base call by the letter and digit pattern table of
// "Patt3Ch.lst" (reference-data folder).
//
// File format, one entry per line: character 1 is the marker (blank vrGood,
// "+" vrPerfect, "-" vrWarning, "x" vrError), character 2 is ignored, the
// rest is the pattern exactly as written (not trimmed), e.g. "+ DL1@@@". A line
// of one or two characters has an empty pattern, which matches no call. An
// empty line or an unknown marker makes the whole file count as missing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "callsigns/vald_result.h"
#include "callsigns/vuq_string_list.h"

namespace brenvo {

inline constexpr const char* kPatt3ChFileName = "Patt3Ch.lst";

class TCallsign3CharValidator {
 public:
  // An empty table: every call rates vrWarning.
  TCallsign3CharValidator() = default;

  // Replaces the table by the file's. An empty FileName stands for
  // "Patt3Ch.lst" in the reference-data folder; the name is matched without
  // regard to case. A missing, unreadable or malformed file leaves the table
  // empty; nothing is reported or thrown. When a pattern occurs on several
  // lines, the first of them counts.
  void LoadFromFile(const std::string& FileName);

  // The rating of a base call: the marker of its pattern, vrWarning when the
  // pattern is not in the table. Case-sensitive.
  TValdResult Validate(std::string_view Call) const;

  // The call with its first 2, 3 or 4 characters kept and every later digit
  // replaced by "#", anything else by "@": 2 kept when the first three are
  // letter-digit-letter (K1ABC -> K1@@@), 4 when digit-letter-letter
  // (3DA0RU -> 3DA0@@), else 3 (DL1ABC -> DL1@@@). Calls not longer than the
  // kept part, and calls shorter than 3, are their own pattern.
  static std::string CallToPattern(std::string_view Call);

  // The whole file was loaded (nothing in the program needs it; tests do).
  bool Initialized() const { return FInitialized; }
  int32_t PatternCount() const { return FPatterns.Count(); }

 private:
  bool FInitialized = false;
  TVuqStringList FPatterns;  // sorted; each object slot holds a TValdResult
};

}  // namespace brenvo
