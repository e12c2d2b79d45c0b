// From audio to characters: the synthesiser's 6000 Hz audio through the
// real-to-complex converter and the spectrum engine; the mark and space bins
// of each spectrum through the signal extractors and the bit decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <span>

#include "bit_decoder_harness.h"
#include "dsp/dsp_engine.h"
#include "dsp/re_to_complex_converter.h"
#include "support/rtty_synth.h"

namespace brenvo {
namespace {

// The sanitizer builds run the long transmission shorter.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSmall = true;
#else
constexpr bool kSmall = false;
#endif

using testing::EncodeText;
using testing::RttySignal;
using testing::RttySynthParams;
using testing::TBitDecoderHarness;

// Bin of an audio frequency: round(f * 256 / 3000).
int BinOf(double hz) { return static_cast<int>(std::nearbyint(hz * 256.0 / 3000.0)); }

struct TAudioRun {
  TBitDecoderHarness H;
  int64_t Spectra = 0;
};

// Feeds whole 128-sample blocks (a shorter tail is not played, as in the program).
void DecodeAudio(const RttySignal& sig, const RttySynthParams& p, TAudioRun& run) {
  TReToComplexConverter conv(128);
  TDspEngine engine(8, 3000.0f);
  const int markBin = BinOf(p.MarkHz), spaceBin = BinOf(p.SpaceHz);
  TSingleArray block(128);
  TComplexArray iq;
  for (std::size_t at = 0; at + 128 <= sig.Samples.size(); at += 128) {
    std::copy_n(sig.Samples.begin() + static_cast<std::ptrdiff_t>(at), 128, block.begin());
    conv.Convert(block, iq);
    for (std::size_t k = 0; k + 8 <= iq.size(); k += 8) {
      engine.ProcessIqBlock(std::span<const TComplex>(iq.data() + k, 8));
      const auto pwr = engine.FastPwr();
      run.H.Step(pwr[static_cast<std::size_t>(markBin)], pwr[static_cast<std::size_t>(spaceBin)]);
      ++run.Spectra;
    }
  }
}

RttySynthParams Params(double snrDb, uint64_t seed) {
  RttySynthParams p;
  p.SnrDb = snrDb;
  p.Seed = seed;
  p.LeadSilenceSec = 0.5;
  p.IdleBeforeSec = 1.0;
  p.IdleAfterSec = 1.0;
  return p;
}

std::vector<uint8_t> Codes(std::string_view text) {
  std::vector<uint8_t> c;
  for (int code : EncodeText(text)) c.push_back(static_cast<uint8_t>(code));
  return c;
}

const std::string kText = "CQ_CQ_DE_K1ABC/P_599_001_RST?";
// As the decoder reports it: shifts included, the figures shift again after
// each space (the sender assumes unshift-on-space).
const std::string kExpectedRaw =
    "\xBB" "CQ_CQ_DE_K\xAB" "1\xBB" "ABC\xAB/\xBBP_\xAB" "599_\xAB" "001_RST\xAB?";

TEST(EndToEnd, ExactTextWithEachStopLength) {
  for (double stop : {1.0, 1.5, 2.0}) {
    RttySynthParams p = Params(15, 11);
    p.StopBits = stop;
    TAudioRun run;
    DecodeAudio(testing::SynthesizeCodes(p, Codes(kText)), p, run);
    EXPECT_NE(run.H.Raw.find(kExpectedRaw), std::string::npos) << "stop " << stop << ": " << run.H.Raw;
  }
}

TEST(EndToEnd, ExactTextWithBaudRateOffByOnePercentAndUpperSideband) {
  for (double baud : {45.45 * 0.99, 45.45 * 1.01}) {
    RttySynthParams p = Params(15, 12);
    p.Baud = baud;
    TAudioRun run;
    DecodeAudio(testing::SynthesizeCodes(p, Codes(kText)), p, run);
    EXPECT_NE(run.H.Raw.find(kExpectedRaw), std::string::npos) << "baud " << baud << ": " << run.H.Raw;
  }
  // Mark above space.
  RttySynthParams p = Params(15, 13);
  std::swap(p.MarkHz, p.SpaceHz);
  TAudioRun run;
  DecodeAudio(testing::SynthesizeCodes(p, Codes(kText)), p, run);
  EXPECT_NE(run.H.Raw.find(kExpectedRaw), std::string::npos) << run.H.Raw;
}

TEST(EndToEnd, CharactersOnlyAtDecodeStepsAndA9ForALongMark) {
  RttySynthParams p = Params(15, 14);
  p.IdleAfterSec = 3.0;
  TAudioRun run;
  const RttySignal sig = testing::SynthesizeCodes(p, Codes("RYRY_TEST"));
  DecodeAudio(sig, p, run);
  ASSERT_FALSE(run.H.Chars.empty());
  for (std::size_t i = 0; i < run.H.Chars.size(); ++i) {
    const int64_t at = run.H.EmitSteps[i];
    EXPECT_GE(at, 128);
    EXPECT_EQ((at - 128) % 32, 0) << at;
  }
  const auto msg = run.H.Raw.find("\xBBRYRY_TEST");
  ASSERT_NE(msg, std::string::npos) << run.H.Raw;
  EXPECT_EQ(run.H.Raw.substr(msg + 10), "\xA9");
  // The stop of the last character lies where the synthesiser sent it
  // (the converter, the engine window and the extractors' delay line add a
  // fixed lag).
  // Spectrum n ends at 3000 Hz sample 8 (n + 1) and is centred 512 samples
  // earlier; the converter delays by 76 samples at 6000 Hz; Amp lags 43 spectra.
  const TCharInfo& last = run.H.Chars[msg + 9];
  const double n = int32_t{last.SampleNo};
  const double labelSec = ((n - 43 + 1) * 8 - 512) / 3000.0 - 76 / 6000.0;
  const double stopStartSec = sig.Codes.back().EndSec - 1.5 / 45.45;
  // The labelled state is the eighth spectrum of the stop.
  EXPECT_NEAR(labelSec, stopStartSec + 7.5 / 375, 4 / 375.0);
}

// Where the settled path of a new traceback does not continue the previous
// one, every label still counts once: a clean transmission of a few thousand
// characters decodes without a single error. In the short message the path
// jumps over the start label of the letters shift after the 1 (which came
// out as a second 1, the call's letters then in figures).
TEST(EndToEnd, CleanTransmissionWithoutAnyError) {
  for (const std::string& text : {testing::RandomText(kSmall ? 300 : 2000, 7), std::string("CQ_CQ_DE_DL1ABC_PSE_K")}) {
    RttySynthParams p = Params(std::numeric_limits<double>::infinity(), 1);
    p.Baud = 45.45 * 1.01;
    TAudioRun run;
    DecodeAudio(testing::SynthesizeCodes(p, Codes(text)), p, run);
    const std::string expected = testing::RawOf(EncodeText(text));
    EXPECT_NE(run.H.Raw.find(expected), std::string::npos)
        << text.size() << " characters, edit distance " << testing::EditDistance(run.H.Raw, expected) << ": "
        << run.H.Raw.substr(0, 80);
    EXPECT_FALSE(run.H.Path.Rejoins.empty()) << text.size() << " characters";
  }
}

double MeasureCer(double snrDb, uint64_t seed, const std::string& text) {
  RttySynthParams p = Params(snrDb, seed);
  const auto codes = Codes(text);
  const RttySignal sig = testing::SynthesizeCodes(p, codes);
  TAudioRun run;
  DecodeAudio(sig, p, run);
  // Characters whose stop lies within the message; spectrum n shows the audio
  // of about (n - 111) / 375 s (see the lag test above).
  const double lag = 111;
  const double from = sig.Codes.front().StartSec * 375 + lag, to = sig.Codes.back().EndSec * 375 + lag + 10;
  return testing::MessageCer(run.H.Chars, from, to, codes);
}

// SNR in 3000 Hz; the decoder's bin is about 12 Hz wide, so 0 dB here is
// roughly 24 dB in the bin.
TEST(EndToEnd, NoiseRampCharacterErrorRate) {
  struct Step {
    double snrDb, minCer, maxCer;
  } steps[] = {
      {-21, 0.80, 1.50}, {-18, 0.75, 1.30}, {-15, 0.60, 1.10}, {-12, 0.35, 0.85},
      {-9, 0.08, 0.40},  {-6, 0.0, 0.10},   {0, 0.0, 0.01},   {10, 0.0, 0.0},
  };
  const std::string text = testing::RandomText(120, 5);
  for (const Step& st : steps) {
    const double cer = (MeasureCer(st.snrDb, 21, text) + MeasureCer(st.snrDb, 22, text)) / 2;
    std::printf("end-to-end noise ramp: SNR %5.1f dB in 3 kHz  CER %.4f\n", st.snrDb, cer);
    EXPECT_GE(cer, st.minCer) << st.snrDb;
    EXPECT_LE(cer, st.maxCer) << st.snrDb;
  }
}

}  // namespace
}  // namespace brenvo
