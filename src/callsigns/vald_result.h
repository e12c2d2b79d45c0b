// Ratings of a callsign candidate.
#pragma once

#include <cstdint>

namespace brenvo {

// The order matters: readers compare against vrWarning and the callsign score
// adds the ordinal, so never reorder or insert members.
enum TValdResult : uint8_t {
  vrUnknown = 0,  // not rated yet; TCallsignValidator::Validate never returns it
  vrError = 1,    // rejected: too short, malformed, no ITU prefix, error pattern, black-listed
  vrWarning = 2,  // well-formed, pattern unknown or doubtful
  vrGood = 3,     // well-formed, pattern marked good
  vrPerfect = 4,  // well-formed, pattern marked perfect
  vrDta = 5,      // in the callsign database ("MASTER.DTA")
  vrWatch = 6,    // on the user's watch list ("Watch.lst")
};

// The best call's score, capped at vlParanoid.
enum TValdLevel : uint8_t { vlMinimal = 0, vlNormal = 1, vlAggressive = 2, vlParanoid = 3 };

}  // namespace brenvo
