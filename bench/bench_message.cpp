// The message corrector's cost per character (the target is 20 us) with the
// built-in model, the largest shipped contest and all contests at once, its
// memory, and the time to rebuild the model on a contest change.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "decoder/baudot_table.h"
#include "decoder/message_corrector.h"
#include "decoder/message_hmm.h"
#include "decoder/message_storage.h"
#include "files/ini_file.h"

namespace {

using namespace brenvo;

TRttyMessageStatistics BuiltIn() {
  TRttyMessageStatistics s;
  InitMessageStatistics(s);
  return s;
}

const std::string kContestFile = std::string(BRENVO_SOURCE_DIR) + "/data/Contests.ini";

// The shipped contest with the largest model.
TRttyMessageStatistics LargestContest() {
  TRttyMessageStatistics s = BuiltIn();
  LoadContestFromFile(s, "BARTG HF RTTY", kContestFile);
  return s;
}

// Every CQ word and exchange of every contest in the shipped file, as one
// contest: a stress case far larger than any real one.
TRttyMessageStatistics AllContests() {
  TRttyMessageStatistics s = BuiltIn();
  const std::string& file = kContestFile;
  TPatternInfoArray cq, ex;
  for (const auto& name : TIniFile(file).ReadSectionNames()) {
    TRttyMessageStatistics c = BuiltIn();
    LoadContestFromFile(c, name, file);
    cq.insert(cq.end(), c.CqWords.begin(), c.CqWords.end());
    ex.insert(ex.end(), c.Exchanges.begin(), c.Exchanges.end());
  }
  s.CqWords = cq;
  s.Exchanges = ex;
  s.ContestName = "all";
  return s;
}

// A realistic stream: contest text with sure bits, some unsure records and markers.
std::vector<TCharInfo> Stream(int n) {
  const std::string text = "CQ TEST DL1ABC DL1ABC K UA3XYZ 599 014 DE DL1ABC TU 599 123 123 ";
  std::vector<TCharInfo> out;
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  int mode = 0;
  while (static_cast<int>(out.size()) < n) {
    for (char raw : text) {
      const uint8_t ch = raw == ' ' ? kChSpace : static_cast<uint8_t>(raw);
      const uint8_t code = CodeTable[ch];
      const int want = BaudotTable[0][code] == ch ? 0 : 1;
      std::vector<uint8_t> codes;
      if (ch != kChSpace && want != mode) {
        codes.push_back(want ? 27 : 31);
        mode = want;
      }
      codes.push_back(code);
      if (ch == kChSpace) mode = 0;
      for (uint8_t c : codes) {
        TCharInfo r;
        const float roll = u(rng);
        if (roll < 0.03f) {
          r.RawCh = kChSteadyTone;
        } else {
          const float sure = roll < 0.15f ? 0.7f : 0.995f;
          for (int i = 0; i < 5; ++i) r.BitProbs.Set(i, ((c >> i) & 1) ? sure : 1.0f - sure);
          r.RawCh = BaudotTable[mode][c];
        }
        out.push_back(r);
      }
    }
  }
  out.resize(static_cast<std::size_t>(n));
  return out;
}

void CorrectorStep(benchmark::State& state, const std::shared_ptr<const TRttyMessageHmm>& model,
                   TRttyMessageCorrector::TKernel kernel = TRttyMessageCorrector::Fastest()) {
  const auto stream = Stream(4096);
  TRttyMessageCorrector corr(model, kernel);
  std::size_t k = 0;
  for (auto _ : state) {
    corr.ProcessChar(stream[k]);
    benchmark::DoNotOptimize(corr.Msg().data());
    k = (k + 1) & 4095;
  }
  state.counters["states"] = model->StateCount();
  state.counters["links"] = model->LinkCount();
  state.counters["corrector_KiB"] = static_cast<double>(corr.MemoryBytes()) / 1024.0;
  state.SetLabel("time = one character");
}

void BM_CorrectorStep_BuiltIn(benchmark::State& state) {
  CorrectorStep(state, std::make_shared<const TRttyMessageHmm>(BuiltIn()));
}
BENCHMARK(BM_CorrectorStep_BuiltIn);

// The same with the states one by one in list order, the plain version.
void BM_CorrectorStep_BuiltInReference(benchmark::State& state) {
  CorrectorStep(state, std::make_shared<const TRttyMessageHmm>(BuiltIn()), TRttyMessageCorrector::TKernel::Reference);
}
BENCHMARK(BM_CorrectorStep_BuiltInReference);

// The runs a state at a time, as on a processor without AVX2.
void BM_CorrectorStep_BuiltInRuns(benchmark::State& state) {
  CorrectorStep(state, std::make_shared<const TRttyMessageHmm>(BuiltIn()),
                TRttyMessageCorrector::TKernel::Runs);
}
BENCHMARK(BM_CorrectorStep_BuiltInRuns);

void BM_CorrectorStep_LargestContest(benchmark::State& state) {
  CorrectorStep(state, std::make_shared<const TRttyMessageHmm>(LargestContest()));
}
BENCHMARK(BM_CorrectorStep_LargestContest);

void BM_CorrectorStep_AllContests(benchmark::State& state) {
  CorrectorStep(state, std::make_shared<const TRttyMessageHmm>(AllContests()));
}
BENCHMARK(BM_CorrectorStep_AllContests);

// What a receiver does per character: storage, corrector, storage.
void BM_StorageAndCorrector_BuiltIn(benchmark::State& state) {
  const auto stream = Stream(4096);
  TRttyMessageCorrector corr(std::make_shared<const TRttyMessageHmm>(BuiltIn()));
  TMessageStorage storage;
  std::size_t k = 0;
  for (auto _ : state) {
    storage.PutRawChar(stream[k]);
    corr.ProcessChar(stream[k]);
    storage.PutCorrChars(corr.Msg());
    k = (k + 1) & 4095;
  }
  state.SetLabel("time = one character");
}
BENCHMARK(BM_StorageAndCorrector_BuiltIn);

void ModelBuild(benchmark::State& state, const TRttyMessageStatistics& stats) {
  int states = 0;
  for (auto _ : state) {
    TRttyMessageHmm m(stats);
    states = m.StateCount();
    benchmark::DoNotOptimize(states);
  }
  state.counters["states"] = states;
  state.SetLabel(stats.ContestName);
}

void BM_ModelBuild_BuiltIn(benchmark::State& state) { ModelBuild(state, BuiltIn()); }
BENCHMARK(BM_ModelBuild_BuiltIn)->Unit(benchmark::kMillisecond);

void BM_ModelBuild_LargestContest(benchmark::State& state) { ModelBuild(state, LargestContest()); }
BENCHMARK(BM_ModelBuild_LargestContest)->Unit(benchmark::kMillisecond);

void BM_ModelBuild_AllContests(benchmark::State& state) { ModelBuild(state, AllContests()); }
BENCHMARK(BM_ModelBuild_AllContests)->Unit(benchmark::kMillisecond);

}  // namespace
