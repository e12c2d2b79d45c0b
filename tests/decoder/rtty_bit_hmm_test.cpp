#include "decoder/rtty_bit_hmm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "dsp/errors.h"

namespace brenvo {
namespace {

const TRttyBitHmm& M() { return BitHmm(); }

// Outgoing transitions of every state, gathered from the incoming lists.
std::vector<std::vector<std::pair<int32_t, double>>> Outgoing() {
  std::vector<std::vector<std::pair<int32_t, double>>> out(static_cast<std::size_t>(M().StateCount()));
  for (int32_t s = 0; s < M().StateCount(); ++s) {
    const TBitHmmState& st = M().State(s);
    for (int32_t k = 0; k < st.PrevCount; ++k) {
      const auto j = static_cast<std::size_t>(st.PrevBegin + k);
      out[static_cast<std::size_t>(M().PrevState()[j])].emplace_back(s, M().PrevLn()[j]);
    }
  }
  return out;
}

TEST(BoundedLn, FloorAtMinus60) {
  EXPECT_EQ(BoundedLn(0), -60.0);
  EXPECT_EQ(BoundedLn(1), 0.0);
  EXPECT_EQ(BoundedLn(-3), -60.0);
  EXPECT_EQ(BoundedLn(NAN), -60.0);
  // A tiny positive value never scores below an exact 0.
  EXPECT_EQ(BoundedLn(1e-90), -60.0);
  EXPECT_DOUBLE_EQ(BoundedLn(0.5), std::log(0.5));
}

TEST(RttyBitHmm, Counts) {
  EXPECT_EQ(M().StateCount(), 370);
  EXPECT_EQ(M().TransitionCount(), 451);
  EXPECT_EQ(M().HistoryStateCount(), 24);
  int virtuals = 0;
  for (int32_t s = 0; s < M().StateCount(); ++s) {
    const bool v = M().State(s).Kind == skVirtual;
    virtuals += v;
    EXPECT_EQ(v, s < 24) << s;
    EXPECT_GE(M().State(s).PrevCount, 1) << s;
    EXPECT_EQ(M().State(s).HistorySlot >= 0, M().State(s).PrevCount > 1) << s;
  }
  EXPECT_EQ(virtuals, 24);
  for (int32_t r = 0; r < 24; ++r) EXPECT_EQ(M().StateIndexOf(r, M().SectionStateCount(r)), r);
  // Predecessor counts of the stop exits and the start entry.
  EXPECT_EQ(M().State(19).PrevCount, 28);
  EXPECT_EQ(M().State(20).PrevCount, 28);
  EXPECT_EQ(M().State(M().StateIndexOf(0, 0)).PrevCount, 4);
  // Start bit and data bits span 50 spectra.
  int span = M().SectionStateCount(0);
  for (int r : {1, 3, 7, 11, 15}) span += M().SectionStateCount(r);
  EXPECT_EQ(span, 50);
}

TEST(RttyBitHmm, LabelsAndShapes) {
  struct Case {
    int section, pos;
    TStateKind kind;
    int shape;
  } cases[] = {{0, 7, skStart, 0},  {2, 7, skMark, 8},    {19, 7, skStop, 8}, {22, 7, skSilence, -1},
               {2, 3, sk01, 4},     {5, 3, sk10, 4},      {1, 8, sk00, 0},    {2, 0, sk01, 1},
               {2, 8, sk01, 8},     {5, 0, sk10, 7},      {5, 7, skSpace, 0}, {21, 7, skTone, 8},
               {0, 8, skVirtual, -2}};
  for (const auto& c : cases) {
    const TBitHmmState& s = M().State(M().StateIndexOf(c.section, c.pos));
    EXPECT_EQ(s.Kind, c.kind) << c.section << ":" << c.pos;
    EXPECT_EQ(s.ShapeIdx, c.shape) << c.section << ":" << c.pos;
  }
  // Exactly one labelled state per section.
  for (int32_t r = 0; r < 24; ++r) {
    int labelled = 0;
    for (int32_t i = 0; i < M().SectionStateCount(r); ++i) labelled += M().State(M().StateIndexOf(r, i)).Kind <= skSilence;
    EXPECT_EQ(labelled, 1) << r;
  }
}

TEST(RttyBitHmm, OutgoingProbabilitiesSumToOne) {
  const auto out = Outgoing();
  for (std::size_t s = 0; s < out.size(); ++s) {
    ASSERT_FALSE(out[s].empty()) << s;
    double sum = 0;
    for (const auto& t : out[s]) sum += std::exp(t.second);
    EXPECT_NEAR(sum, 1.0, 1e-6) << s;
  }
  auto lns = [&](int32_t s) {
    std::vector<double> v;
    for (const auto& t : out[static_cast<std::size_t>(s)]) v.push_back(t.second);
    return v;
  };
  EXPECT_EQ(lns(0).size(), 2u);
  for (double v : lns(0)) EXPECT_NEAR(v, std::log(0.5), 1e-6);
  for (int s : {15, 16, 17, 18}) {
    ASSERT_EQ(lns(s).size(), 1u);
    EXPECT_EQ(lns(s)[0], 0.0);
  }
  for (int s : {19, 20}) {
    ASSERT_EQ(lns(s).size(), 3u);
    for (double v : lns(s)) EXPECT_NEAR(v, std::log(1.0 / 3), 1e-6);
  }
  const auto last = lns(M().StateIndexOf(19, 33));
  ASSERT_EQ(last.size(), 2u);
  EXPECT_NEAR(last[0], std::log(1 / 1.001), 1e-6);
  EXPECT_NEAR(last[1], std::log(0.001 / 1.001), 1e-5);
  // Tone and silence dwell: out with 0.01, on with 0.99.
  for (int section : {21, 22, 23}) {
    const auto dwell = lns(M().StateIndexOf(section, 39));
    ASSERT_EQ(dwell.size(), 2u);
    EXPECT_NEAR(dwell[0], std::log(0.01), 1e-6) << section;
    EXPECT_NEAR(dwell[1], std::log(0.99), 1e-6) << section;
  }
}

// Each state's predecessors have larger flat indices than the state itself
// (previous step, read before being overwritten) unless they are exit states
// of other sections (this step, already updated) or the state itself.
TEST(RttyBitHmm, FlatOrderAllowsInPlaceUpdate) {
  for (int32_t s = 0; s < M().StateCount(); ++s) {
    const TBitHmmState& st = M().State(s);
    for (int32_t k = 0; k < st.PrevCount; ++k) {
      const int32_t p = M().PrevState()[static_cast<std::size_t>(st.PrevBegin + k)];
      if (s < 24) {
        EXPECT_GE(p, 24) << s;  // exits read real states only
      } else {
        EXPECT_TRUE(p < 24 || p >= s) << s << " <- " << p;
      }
    }
  }
}

// Run the stop chain as a Markov chain: the mass that leaves after t spectra
// gives the stop-length distribution of the table.
TEST(RttyBitHmm, StopLengthsRebuiltFromTheChain) {
  const auto out = Outgoing();
  for (int section : {19, 20}) {
    const int32_t exit = section;
    std::map<int32_t, double> dist{{M().StateIndexOf(section, 0), 1.0}};
    std::vector<double> leave(400, 0.0);
    for (int t = 1; t < 400; ++t) {
      std::map<int32_t, double> next;
      for (const auto& [s, mass] : dist)
        for (const auto& [to, ln] : out[static_cast<std::size_t>(s)]) {
          if (to == exit)
            leave[static_cast<std::size_t>(t)] += mass * std::exp(ln);
          else
            next[to] += mass * std::exp(ln);
        }
      dist.swap(next);
    }
    for (int len = 1; len < 7; ++len) EXPECT_EQ(leave[static_cast<std::size_t>(len)], 0.0);
    for (int len = 7; len <= 33; ++len)
      EXPECT_NEAR(leave[static_cast<std::size_t>(len)], TRttyBitHmm::StopLengthProb(len), 2e-6) << len;
    double rest = 0;
    for (int len = 34; len < 400; ++len) rest += leave[static_cast<std::size_t>(len)];
    EXPECT_NEAR(rest, 0.012569, 5e-6);
    EXPECT_NEAR(rest, TRttyBitHmm::StopLengthProb(34), 1e-5);
  }
  double sum = 0;
  for (int len = 7; len <= 34; ++len) sum += TRttyBitHmm::StopLengthProb(len);
  EXPECT_NEAR(sum, 1.0, 1e-5);
}

}  // namespace
}  // namespace brenvo

namespace brenvo {
namespace {

// One step across a section's exit: only from states that reach the exit,
// only into the entries the section table links it to.
TEST(RttyBitHmm, LeavesThroughExit) {
  const auto at = [](int32_t section, int32_t pos) { return BitHmm().StateIndexOf(section, pos); };
  struct Case {
    int fromSection, fromPos, toSection, toPos;
    bool leaves;
  } cases[] = {
      {19, 6, 0, 0, true},    // a stop of 7 spectra, then the next start bit
      {20, 6, 21, 0, true},   // ... or a steady tone
      {19, 6, 22, 0, true},   // ... or silence
      {19, 6, 19, 7, false},  // on to the labelled state: stays in the section
      {19, 5, 0, 0, false},   // 6 spectra are too short for a stop
      {19, 33, 0, 0, true},   {19, 6, 20, 0, false},  // no stop after a stop
      {19, 6, 0, 1, false},   {21, 39, 22, 0, true},  {21, 39, 0, 0, false},  // tone only to silence
      {0, 7, 1, 0, true},     {0, 7, 2, 0, true},     {0, 6, 1, 0, false},    // start bit lasts 8
      {0, 7, 3, 0, false},
      {15, 8, 19, 0, true},   {15, 8, 20, 0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BitHmm().LeavesThroughExit(at(c.fromSection, c.fromPos), at(c.toSection, c.toPos)), c.leaves)
        << c.fromSection << ":" << c.fromPos << " -> " << c.toSection << ":" << c.toPos;
  EXPECT_THROW(BitHmm().LeavesThroughExit(-1, 30), ERangeError);
}

}  // namespace
}  // namespace brenvo
