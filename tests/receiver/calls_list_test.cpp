#include "receiver/calls_list.h"

#include <gtest/gtest.h>

namespace brenvo {
namespace {

TCallEstimate Estimate(TValdResult vald, float prob, TCqDe cqDe = cdNone) {
  TCallEstimate e;
  e.Txt = "DL1ABC";
  e.Vald = vald;
  e.Prob = prob;
  e.CqDe = cqDe;
  return e;
}

// The list's rules for one candidate: rated vrWarning or later, Prob at least
// 0.01 to be shown and above 0.3 to be black, both compared at a precision
// above single, so the single nearest each threshold counts as below it.
TEST(CallsList, LineRulesPerCandidate) {
  struct Case {
    TValdResult vald;
    float prob;
    bool shown, grey;
  } cases[] = {
      {vrError, 0.9f, false, false},   {vrUnknown, 0.9f, false, false},
      {vrWarning, 0.9f, true, false},  {vrGood, 0.9f, true, false},
      {vrPerfect, 0.9f, true, false},  {vrDta, 0.9f, true, false},
      {vrWatch, 0.9f, true, false},    {vrWarning, 0.005f, false, true},
      {vrWarning, 0.01f, false, true},  // 0.00999999978
      {vrWarning, 0.0100001f, true, true},
      {vrWarning, 0.3f, true, false},   // 0.300000012: black
      {vrWarning, 0.29999998f, true, true},
      {vrDta, 0.2f, true, true},
  };
  for (const Case& c : cases) {
    const TCallEstimate e = Estimate(c.vald, c.prob);
    EXPECT_EQ(CallLineShown(e), c.shown) << c.vald << " " << c.prob;
    EXPECT_EQ(CallLineGrey(e), c.grey) << c.prob;
  }
}

TEST(CallsList, LinePrefixByContext) {
  EXPECT_EQ(CallLineText(Estimate(vrGood, 1.0f, cdNone)), "   DL1ABC");
  EXPECT_EQ(CallLineText(Estimate(vrGood, 1.0f, cdDe)), "DE DL1ABC");
  EXPECT_EQ(CallLineText(Estimate(vrGood, 1.0f, cdCQ)), "CQ DL1ABC");
}

}  // namespace
}  // namespace brenvo
