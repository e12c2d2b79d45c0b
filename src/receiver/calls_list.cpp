#include "receiver/calls_list.h"

namespace brenvo {

namespace {

bool Listed(const TCallEstimate& e) { return e.Vald >= vrWarning; }

}  // namespace

bool TakeCallsToShow(TCallExtractor& cx, std::vector<const TCallEstimate*>& lines, bool anew) {
  if (!cx.TakeChanged() && !anew) return false;
  bool any = anew;
  for (int i = 0; i < cx.CallCount(); ++i) any = any || Listed(cx.Calls(i));
  if (!any) return false;
  lines.clear();
  for (int i = 0; i < cx.CallCount(); ++i) {
    const TCallEstimate& e = cx.Calls(i);
    if (CallLineShown(e)) lines.push_back(&e);
  }
  return true;
}

bool CallLineShown(const TCallEstimate& e) { return Listed(e) && static_cast<double>(e.Prob) >= 0.01; }

std::string CallLineText(const TCallEstimate& e) {
  const char* prefix = e.CqDe == cdDe ? "DE " : e.CqDe == cdCQ ? "CQ " : "   ";
  return prefix + e.Txt;
}

bool CallLineGrey(const TCallEstimate& e) { return static_cast<double>(e.Prob) <= 0.3; }

}  // namespace brenvo
