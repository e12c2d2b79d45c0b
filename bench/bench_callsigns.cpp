// Callsign validator: start-up load of the real call database and rating
// speed for the kinds of candidates the extractor passes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "callsigns/callsign_validator.h"
#include "callsigns/master_dta.h"
#include "files/data_file.h"

namespace {

namespace fs = std::filesystem;
using namespace brenvo;

// The real list converted once into a temporary reference folder, with a
// small pattern table and watch and black lists beside it.
struct TRealData {
  fs::path root;
  std::vector<std::string> calls;
  std::string error;

  TRealData() {
    std::string text;
    if (!ReadFileBytes(kDebianMasterScpPath, text)) {
      error = std::string(kDebianMasterScpPath) + " missing: install hamradio-files";
      return;
    }
    calls = ParseScpCalls(text);
    std::string tmpl = (fs::temp_directory_path() / "brenvo-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
      error = "cannot create a temporary folder";
      return;
    }
    root = tmpl;
    fs::create_directories(Ref());
    fs::create_directories(User());
    ConvertScpToDta(kDebianMasterScpPath, (Ref() / "MASTER.DTA").string());
    std::ofstream(Ref() / "Patt3Ch.lst", std::ios::binary)
        << "+ DL1@@@\r\n  K1@@@\r\n- JA1@@@\r\nx 9A1@@\r\n+ 3DA0@@\r\n";
    std::ofstream(User() / "Watch.lst", std::ios::binary) << "K1ABC\r\nDL1XYZ\r\n";
    std::ofstream(Ref() / "Black.lst", std::ios::binary) << "W1AW\r\n";
  }
  ~TRealData() {
    std::error_code ec;
    if (!root.empty()) fs::remove_all(root, ec);
  }
  fs::path Ref() const { return root / "Reference"; }
  fs::path User() const { return root / "UserData"; }
};

const TRealData& RealData() {
  static const TRealData data;
  return data;
}

const TCallsignValidator& LoadedValidator() {
  static const auto v =
      std::make_unique<TCallsignValidator>(RealData().Ref().string(), RealData().User().string());
  return *v;
}

// Candidates of one kind, 4096 of them, drawn with a fixed seed.
std::vector<std::string> Candidates(int kind) {
  const auto& calls = RealData().calls;
  const std::unordered_set<std::string> listed(calls.begin(), calls.end());
  std::vector<std::string> out;
  uint32_t seed = 4711;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  const char* prefixes[] = {"DL1", "K1", "JA1", "W7", "VK2", "G4", "9A1", "3DA0"};
  const char* malformed[] = {"CQ",          "TEST", "5NN",    "QRZ1ABC",
                             "K1ABC/W1ABC", "599",  "ABCDEF", "E91AB"};
  while (out.size() < 4096) {
    switch (kind) {
      case 0:  // in the database
        out.push_back(calls[next() % calls.size()]);
        break;
      case 1: {  // well formed, not listed, sometimes with a portable part
        std::string c = prefixes[next() % 8];
        for (int k = 0; k < 3; ++k) c += static_cast<char>('A' + next() % 26);
        if (next() % 4 == 0) c = "F/" + c + "/P";
        if (!listed.count(c)) out.push_back(c);
        break;
      }
      default:  // rejected
        out.push_back(malformed[next() % 8]);
    }
  }
  return out;
}

void BM_ValidatorLoadRealList(benchmark::State& state) {
  if (!RealData().error.empty()) return state.SkipWithError(RealData().error.c_str());
  std::size_t n = 0;
  for (auto _ : state) {
    TCallsignValidator v(RealData().Ref().string(), RealData().User().string());
    n = v.ListCount();
    benchmark::DoNotOptimize(n);
  }
  state.counters["calls"] = static_cast<double>(n);
}
BENCHMARK(BM_ValidatorLoadRealList)->Unit(benchmark::kMillisecond);

void BM_Validate(benchmark::State& state) {
  if (!RealData().error.empty()) return state.SkipWithError(RealData().error.c_str());
  const TCallsignValidator& v = LoadedValidator();
  const std::vector<std::string> candidates = Candidates(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v.Validate(candidates[i]));
    i = (i + 1) & 4095;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  static const char* const kinds[] = {"database hit", "rated by structure", "rejected"};
  state.SetLabel(kinds[state.range(0)]);
}
BENCHMARK(BM_Validate)->Arg(0)->Arg(1)->Arg(2);

}  // namespace
