#include "decoder/rtty_bit_viterbi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "decoder/baudot_table.h"

namespace brenvo {
namespace {

// Plain two-array Viterbi over the same model: exit states take no time
// (their value in a step is the best of their section's previous values),
// full back-pointers for every step, full traceback from the best real state.
class TReferenceViterbi {
 public:
  TReferenceViterbi() : M(BitHmm()), Old(static_cast<std::size_t>(M.StateCount()), 0.0f) {}

  void Step(const TRttyBitViterbi::TEmissions& em) {
    const int32_t n = M.StateCount();
    std::vector<float> cur(static_cast<std::size_t>(n));
    std::vector<int32_t> bp(static_cast<std::size_t>(n));
    auto best = [&](int32_t s, auto value) {
      const TBitHmmState& st = M.State(s);
      int32_t from = -1;
      float v = 0;
      for (int32_t k = 0; k < st.PrevCount; ++k) {
        const auto j = static_cast<std::size_t>(st.PrevBegin + k);
        const float c = value(M.PrevState()[j]) + M.PrevLn()[j];
        if (from < 0 || c > v) {
          v = c;
          from = M.PrevState()[j];
        }
      }
      bp[static_cast<std::size_t>(s)] = from;
      return v;
    };
    for (int32_t e = 0; e < 24; ++e) cur[static_cast<std::size_t>(e)] = best(e, [&](int32_t p) { return Old[static_cast<std::size_t>(p)]; });
    for (int32_t s = 24; s < n; ++s) {
      const float v = best(s, [&](int32_t p) { return p < 24 ? cur[static_cast<std::size_t>(p)] : Old[static_cast<std::size_t>(p)]; });
      cur[static_cast<std::size_t>(s)] = v + em[static_cast<std::size_t>(M.State(s).ShapeIdx + 2)];
    }
    float top = -std::numeric_limits<float>::infinity();
    for (float v : cur) top = std::max(top, v);
    for (float& v : cur) v -= top;
    Old = cur;
    Back.push_back(bp);
  }

  // State on the best path at each step, oldest first.
  std::vector<int32_t> Path() const {
    int32_t cur = M.StateCount() - 1;
    for (int32_t s = cur - 1; s >= 24; --s)
      if (Old[static_cast<std::size_t>(s)] > Old[static_cast<std::size_t>(cur)]) cur = s;
    std::vector<int32_t> path(Back.size());
    for (std::size_t t = Back.size(); t-- > 0;) {
      path[t] = cur;
      do {
        cur = Back[t][static_cast<std::size_t>(cur)];
      } while (cur >= 0 && cur < 24);
    }
    return path;
  }

  const TRttyBitHmm& M;
  std::vector<float> Old;
  std::vector<std::vector<int32_t>> Back;
};

TEST(RttyBitViterbi, EqualsTwoArrayReferenceOnRandomEmissions) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<float> u(-9.0f, 0.0f);
  TRttyBitViterbi v;
  TReferenceViterbi ref;
  int tracebacks = 0;
  for (int step = 1; step <= 1500; ++step) {
    TRttyBitViterbi::TEmissions em{};
    // Favour one shape for a while so that the path has structure.
    const int favoured = (step / 40) % 10 - 1;
    for (int i = 1; i < 11; ++i) em[static_cast<std::size_t>(i)] = u(rng);
    em[static_cast<std::size_t>(favoured + 2)] += 4.0f;
    v.Step(em, 0.5f);
    ref.Step(em);
    for (int32_t s = 0; s < BitHmm().StateCount(); ++s)
      ASSERT_NEAR(v.Metric(s), ref.Old[static_cast<std::size_t>(s)], 1e-4) << "step " << step << " state " << s;
    if (step >= 128 && step % 32 == 0) {
      ++tracebacks;
      const auto path = ref.Path();
      for (int t = step - 128; t < step; ++t)
        ASSERT_EQ(v.BestPath()[static_cast<std::size_t>(t % 128)], path[static_cast<std::size_t>(t)]) << "step " << step << " t " << t;
      ASSERT_EQ(v.DebugStates().size(), 32u);
      for (int k = 0; k < 32; ++k)
        EXPECT_EQ(v.DebugStates()[static_cast<std::size_t>(k)].Kind, BitHmm().State(path[static_cast<std::size_t>(step - 128 + k)]).Kind);
    } else {
      ASSERT_TRUE(v.DebugStates().empty());
      ASSERT_TRUE(v.Chars().empty());
    }
  }
  EXPECT_EQ(tracebacks, (1500 - 128) / 32 + 1);
}

// Emissions from a few round values: equal candidates are common, so the
// tie rule (the first predecessor wins) decides many steps. The one-pass
// decoder must give the reference's metrics exactly and its paths.
TEST(RttyBitViterbi, EqualsTwoArrayReferenceExactlyWithTies) {
  std::mt19937 rng(77);
  std::uniform_int_distribution<int> pick(0, 3);
  const float values[4] = {0.0f, -0.5f, -1.0f, -4.0f};
  TRttyBitViterbi v;
  TReferenceViterbi ref;
  for (int step = 1; step <= 800; ++step) {
    TRttyBitViterbi::TEmissions em{};
    for (int i = 1; i < 11; ++i) em[static_cast<std::size_t>(i)] = values[pick(rng)];
    v.Step(em, 0.5f);
    ref.Step(em);
    for (int32_t s = 0; s < BitHmm().StateCount(); ++s)
      ASSERT_EQ(v.Metric(s), ref.Old[static_cast<std::size_t>(s)]) << "step " << step << " state " << s;
    if (step >= 128 && step % 32 == 0) {
      const auto path = ref.Path();
      for (int t = step - 128; t < step; ++t)
        ASSERT_EQ(v.BestPath()[static_cast<std::size_t>(t % 128)], path[static_cast<std::size_t>(t)]) << "step " << step << " t " << t;
    }
  }
}

TEST(RttyBitViterbi, ShapeTable) {
  TRttyBitViterbi v;
  EXPECT_EQ(v.Shp(-2), 0.0f);
  EXPECT_EQ(v.Shp(-1), 0.0f);
  EXPECT_EQ(v.Shp(0), 0.0f);
  EXPECT_FLOAT_EQ(v.Shp(4), 0.5f);
  EXPECT_EQ(v.Shp(8), 1.0f);
  for (int i = 0; i <= 8; ++i) EXPECT_FLOAT_EQ(v.Shp(i), static_cast<float>((1 - std::cos(i * M_PI / 8)) / 2));
}

}  // namespace
}  // namespace brenvo

namespace brenvo {
namespace {

// Emissions for an ideal signal: level 1 mark on, 0 space on, -1 neither.
// A fully wrong tone level costs `mismatch`.
TRttyBitViterbi::TEmissions IdealEmissions(const TRttyBitViterbi& v, int level, float mismatch) {
  TRttyBitViterbi::TEmissions em{};
  for (int i = 0; i <= 8; ++i) {
    const float shp = v.Shp(i);
    em[static_cast<std::size_t>(i + 2)] = level < 0 ? -25.0f : -mismatch * (level == 1 ? 1.0f - shp : shp);
  }
  em[1] = level < 0 ? 0.0f : -25.0f;
  return em;
}

struct TEmissionRun {
  std::vector<TCharInfo> Chars;
  std::vector<int64_t> At;
};

// One step per level; characters with the step count at which they came out.
TEmissionRun RunLevels(TRttyBitViterbi& v, const std::vector<int>& levels, float mismatch = 12.0f) {
  TEmissionRun r;
  for (int level : levels) {
    v.Step(IdealEmissions(v, level, mismatch), level == 1 ? 0.99f : level == 0 ? 0.01f : 0.5f);
    for (const TCharInfo& c : v.Chars()) {
      r.Chars.push_back(c);
      r.At.push_back(v.SampleCnt());
    }
  }
  return r;
}

void Append(std::vector<int>& levels, int level, int count) { levels.insert(levels.end(), static_cast<std::size_t>(count), level); }

// A character with the model's own section lengths and the given stop length.
void AppendCode(std::vector<int>& levels, int code, int stop) {
  static const int kLen[5] = {9, 8, 8, 8, 9};
  Append(levels, 0, 8);
  for (int i = 0; i < 5; ++i) Append(levels, (code >> i) & 1, kLen[i]);
  Append(levels, 1, stop);
}

TEST(RttyBitViterbiEvents, SilenceGivesF7BetweenSteadyTones) {
  TRttyBitViterbi v;
  std::vector<int> levels;
  Append(levels, 1, 300);
  Append(levels, -1, 200);
  Append(levels, 1, 300);
  const auto r = RunLevels(v, levels);
  std::string raw;
  for (const auto& c : r.Chars) raw.push_back(static_cast<char>(c.RawCh));
  const auto f7 = raw.find('\xF7');
  ASSERT_NE(f7, std::string::npos) << raw;
  EXPECT_NE(raw.find('\xA9'), std::string::npos) << raw;
  // The silence element lies inside the silent stretch.
  const int32_t n = r.Chars[f7].SampleNo;
  EXPECT_GE(n, 300);
  EXPECT_LT(n, 500);
  EXPECT_EQ(r.Chars[f7].BitProbs, TBitProbArray());
}

// Stops of exactly 7 spectra (what one stop bit needs every fourth
// character at 45.45 Bd) still give their characters.
TEST(RttyBitViterbiEvents, SevenSpectraStopStillGivesTheCharacter) {
  TRttyBitViterbi v;
  std::vector<int> levels;
  Append(levels, 1, 200);
  const int codes[] = {31, 16, 1, 5, 16, 7, 12};  // LTRS T E S T U N
  const int stops[] = {12, 7, 8, 7, 12, 7, 12};
  for (int i = 0; i < 7; ++i) AppendCode(levels, codes[i], stops[i]);
  Append(levels, 1, 300);
  const auto r = RunLevels(v, levels);
  std::string raw;
  std::vector<int32_t> stopLens;
  for (const auto& c : r.Chars) {
    raw.push_back(static_cast<char>(c.RawCh));
    stopLens.push_back(int32_t{c.StopLen});  // by value: packed field
  }
  const auto at = raw.find("\xBBTESTUN");
  ASSERT_NE(at, std::string::npos) << raw;
  EXPECT_EQ(raw.size(), at + 8) << raw;  // then only the steady tone
  // Hard level steps against the model's ramps: edges may settle one step off.
  for (int i = 1; i < 7; ++i) EXPECT_NEAR(stopLens[at + static_cast<std::size_t>(i)], stops[i - 1], 1) << i;
  // Each character is numbered at the stop's eighth spectrum, also the
  // 7-spectra stops (as if their label were the step after them). The start
  // section ramps the mark down over its first 8 states, so against hard
  // level edges the path runs about half a ramp (4 steps) early.
  int stopStart = 200;
  for (int i = 0; i < 7; ++i) {
    stopStart += 50;
    EXPECT_NEAR(int32_t{r.Chars[at + static_cast<std::size_t>(i)].SampleNo}, stopStart + 7 - 4, 1) << i;
    stopStart += stops[i];
  }
}

// A reset in the middle of a character: the stop comes after three bits.
TEST(RttyBitViterbiEvents, StopAfterFewerThanFiveBitsGivesAE) {
  TRttyBitViterbi v;
  std::vector<int> levels;
  Append(levels, 0, 8);  // bit 3 = 0 (the start and bits 1, 2 came before the reset)
  Append(levels, 1, 8);
  Append(levels, 0, 9);
  Append(levels, 1, 12);  // stop
  AppendCode(levels, 16, 12);
  Append(levels, 1, 300);
  const auto r = RunLevels(v, levels);
  ASSERT_GE(r.Chars.size(), 2u);
  EXPECT_EQ(r.Chars[0].RawCh, kChIncomplete);
  EXPECT_EQ(r.Chars[0].BitProbs, TBitProbArray());
  EXPECT_EQ(r.Chars[1].RawCh, 'T');
}

TEST(RttyBitViterbiEvents, StopHistogramClampsLongAndShortStops) {
  TRttyBitViterbi v;
  std::vector<int> levels;
  Append(levels, 1, 100);
  AppendCode(levels, 16, 12);
  Append(levels, 1, 40);  // a stop of 52 spectra
  AppendCode(levels, 1, 7);
  AppendCode(levels, 16, 12);
  Append(levels, 1, 300);
  // Sure levels, so that a long stop beats a phantom start bit.
  const auto r = RunLevels(v, levels, 25.0f);
  std::string raw;
  for (const auto& c : r.Chars) raw.push_back(static_cast<char>(c.RawCh));
  ASSERT_NE(raw.find("TET"), std::string::npos) << raw;
  EXPECT_GE(v.StopHisto()[34 - 7], 1);
  EXPECT_GE(v.StopHisto()[0] + v.StopHisto()[1], 1);  // the 7-spectra stop (one step either way)
  int total = 0;
  for (int c : v.StopHisto()) total += c;
  EXPECT_GE(total, 3);
}

TEST(RttyBitViterbiEvents, CharactersOnlyEvery32StepsFrom128) {
  TRttyBitViterbi v;
  std::vector<int> levels;
  Append(levels, 1, 100);
  for (int k = 0; k < 20; ++k) AppendCode(levels, k % 32, 12);
  const auto r = RunLevels(v, levels);
  ASSERT_GE(r.Chars.size(), 15u);
  for (int64_t at : r.At) {
    EXPECT_GE(at, 128);
    EXPECT_EQ(at % 32, 0);
  }
}

// A different combined probability at every step: the soft bits tell where
// they were read, at the bits' labelled states (the eighth spectrum of each
// bit section, 42, 33, 25, 17 and 9 spectra before the stop's).
TEST(RttyBitViterbiEvents, SoftBitsReadAtTheBitsLabels) {
  TRttyBitViterbi v;
  std::vector<int> levels;
  Append(levels, 1, 100);
  AppendCode(levels, 16, 12);  // T
  Append(levels, 1, 300);
  std::vector<float> prob;
  for (std::size_t i = 0; i < levels.size(); ++i) prob.push_back((levels[i] == 1 ? 0.9f : 0.1f) + 0.0001f * static_cast<float>(i % 100));
  std::vector<TCharInfo> t;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    v.Step(IdealEmissions(v, levels[i], 12.0f), prob[i]);
    for (const TCharInfo& c : v.Chars())
      if (c.RawCh == 'T') t.push_back(c);
  }
  ASSERT_EQ(t.size(), 1u);
  const int32_t n = t[0].SampleNo;
  const TBitProbArray p = t[0].BitProbs;
  const int before[5] = {42, 33, 25, 17, 9};
  for (int b = 0; b < 5; ++b) EXPECT_EQ(p[b], prob[static_cast<std::size_t>(n - before[b])]) << b;
}

// From the extractors: shape i expects the mark at Shp[i] and the space at
// Shp[8 - i]; silence expects both off and costs 20 more. One step after a
// reset, states of one-way chains differ by their emissions alone.
TEST(RttyBitViterbiEvents, EmissionsFromTheExtractors) {
  TRttyBitViterbi v;
  TSignalExtractor mark, space;
  mark.Amp = 1.5f;
  space.Amp = 1.2f;
  mark.Env = space.Env = 6.0f;
  v.ProcessSample(mark, space);
  const auto em = [&](int i) {
    const float m = i < 0 ? 0.0f : v.Shp(i), s = i < 0 ? 0.0f : v.Shp(8 - i);
    return BoundedLn(mark.Likelihood(m) * space.Likelihood(s)) - (i < 0 ? 20.0 : 0.0);
  };
  const auto metric = [&](int section, int pos) { return v.Metric(BitHmm().StateIndexOf(section, pos)); };
  EXPECT_NEAR(metric(22, 5) - metric(21, 5), em(-1) - em(8), 1e-4);  // silence against tone
  EXPECT_NEAR(metric(1, 5) - metric(21, 5), em(0) - em(8), 1e-4);     // space against mark
  EXPECT_NEAR(metric(2, 3) - metric(21, 5), em(4) - em(8), 1e-4);     // half way up
}

TEST(RttyBitViterbiEvents, CombinedProbabilityOfUndecidedTones) {
  TRttyBitViterbi v;
  TSignalExtractor mark, space;
  // Both tones certain: a + b = 0.
  mark.Prob = 1.0;
  space.Prob = 1.0;
  mark.Amp = space.Amp = 1.0f;
  mark.Env = space.Env = 2.0f;
  for (int i = 0; i < 200; ++i) v.ProcessSample(mark, space);
  // Soft bits of any decoded character are 0.499 throughout.
  int coded = 0;
  for (int i = 0; i < 3000; ++i) {
    v.ProcessSample(mark, space);
    for (const TCharInfo& c : v.Chars())
      if (CodeTable[c.RawCh] != kNoCode) {
        ++coded;
        const TBitProbArray p = c.BitProbs;
        for (int b = 0; b < 5; ++b) EXPECT_FLOAT_EQ(p[b], 0.499f);
      }
  }
  EXPECT_GT(coded, 0);
}

}  // namespace
}  // namespace brenvo
