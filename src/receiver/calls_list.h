// What the callsign list frame shows, without drawing: the rule by which
// the selected channel's candidates become lines. The frame calls it from
// ShowCalls (every 64 spectra, the road's cadence) and draws the
// lines; the JSON server's call-stack post applies the same filter.
#pragma once

#include <string>
#include <vector>

#include "callsigns/call_extractor.h"

namespace brenvo {

// Takes the extractor's change flag. False when the list is not to be
// rebuilt: no change, or no candidate rated vrWarning or better (the list
// then keeps its lines and nothing is posted). Otherwise true with Lines =
// the candidates, in list order, rated vrWarning or better whose Prob is at
// least 0.01 (the single compared exactly, so 0.01f is not shown).
// Anew: true whatever the flag said, Lines possibly empty.
bool TakeCallsToShow(TCallExtractor& Cx, std::vector<const TCallEstimate*>& Lines, bool Anew = false);

// Whether a candidate gets a line: rated vrWarning or better and Prob at
// least 0.01, the single compared exactly (0.01f, just below, is not shown).
bool CallLineShown(const TCallEstimate& E);
// The line's text: "   ", "DE " or "CQ " by context, then the call.
std::string CallLineText(const TCallEstimate& E);
// Grey instead of black: Prob at most 0.3 (0.3f, just above, is black).
bool CallLineGrey(const TCallEstimate& E);

}  // namespace brenvo
