// Callsign extractor: the worst update (a full storage window of call words,
// every candidate re-estimated) against the 1 ms budget, and the average
// per-character cost of a receiver's steady stream, side by side.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "callsigns/call_extractor.h"
#include "callsigns/callsign_validator.h"
#include "callsigns/master_dta.h"
#include "decoder/message_storage.h"
#include "decoder/message_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace brenvo;

// A validator on a small database and pattern table in a temporary folder;
// most generated calls are in neither, so they take the slower structural
// rating.
const TCallsignValidator& BenchValidator() {
  static const std::unique_ptr<TCallsignValidator> v = [] {
    std::string tmpl = (fs::temp_directory_path() / "brenvo-bench-cx-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    const fs::path root = tmpl;
    std::ofstream(root / "MASTER.DTA", std::ios::binary)
        << BuildMasterDta({"DL1ABC", "G4XYZ", "F5ABC", "OK1XYZ", "UA3XYZ", "K1ABC"});
    std::ofstream(root / "Patt3Ch.lst", std::ios::binary) << "+ DL1@@@\r\n  K1@@@\r\n- JA1@@@\r\n";
    auto made = std::make_unique<TCallsignValidator>(root.string(), root.string());
    std::error_code ec;
    fs::remove_all(root, ec);
    return made;
  }();
  return *v;
}

TCharInfo Rec(uint8_t code, uint8_t ch, TWordType type) {
  TCharInfo r = testing::CodeRecord(code, 0.99f);
  r.CorrCh = ch;
  r.ChType = type;
  return r;
}

enum TWindowKind { wkRepeated, wkDistinct, wkShortest };

// Calls of one shape, so that every pair of equal length is compared: one
// call over and over; distinct calls of two letters, a digit and three
// letters; or distinct calls of the shortest shape (letter, digit, letter),
// which fit the most candidates into the window.
std::vector<std::string> Calls(TWindowKind kind, int n) {
  std::vector<std::string> out;
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int k = 0; k < n; ++k) {
    if (kind == wkRepeated) {
      out.push_back("DL1ABC");
      continue;
    }
    std::string c;
    c += static_cast<char>('A' + next() % 26);
    if (kind == wkDistinct) c += static_cast<char>('A' + next() % 26);
    c += static_cast<char>('0' + next() % 10);
    for (int j = 0; j < (kind == wkDistinct ? 3 : 1); ++j) c += static_cast<char>('A' + next() % 26);
    out.push_back(c);
  }
  return out;
}

// A storage whose whole window (1080 records) is call words and blanks.
void FillWithCalls(TMessageStorage& ms, TWindowKind kind) {
  TCharInfoArray msg;
  for (const std::string& call : Calls(kind, TMessageStorage::kCapacity)) {
    auto put = [&](const TCharInfo& r) {
      if (ms.HiChar() + 1 >= TMessageStorage::kCapacity) return;
      ms.PutRawChar(r);
      msg.assign(1, r);
      ms.PutCorrChars(msg);
    };
    for (const auto& c : testing::EncodeBaudot(call)) put(Rec(c.Code, c.Ch, ctCall));
    put(Rec(4, kChSpace, ctWhiteSpace));
  }
}

// The worst single update: the corrector rewrote its whole reach (25
// records), so the tail is cut again and every candidate re-estimated.
void BM_CallExtractorWorstUpdate(benchmark::State& state) {
  const auto kind = static_cast<TWindowKind>(state.range(0));
  TMessageStorage ms;
  FillWithCalls(ms, kind);
  TCallExtractor cx(&ms, &BenchValidator());
  cx.Update(ms.HiChar() + 1);
  for (auto _ : state) benchmark::DoNotOptimize(cx.Update(25));
  state.counters["words"] = cx.WordCount();
  state.counters["calls"] = cx.CallCount();
  static const char* const labels[] = {"one call repeated", "distinct calls", "distinct shortest calls"};
  state.SetLabel(labels[kind]);
}
BENCHMARK(BM_CallExtractorWorstUpdate)->Arg(wkShortest)->Arg(wkDistinct)->Arg(wkRepeated)->Unit(benchmark::kMicrosecond);

// A receiver's stream: storage and extractor per character, with text of
// calls, CQ and DE words, reports and rewrites of the corrector's reach.
void BM_CallExtractorStream(benchmark::State& state) {
  const bool withExtractor = state.range(0) != 0;
  TCharInfoArray text;
  const std::pair<const char*, TWordType> tokens[] = {
      {"CQ", ctCQ},     {"TEST", ctCQ},    {"DE", ctDe},       {"DL1ABC", ctCall}, {"DL1ABC", ctCall},
      {"K", ctLetter},  {"G4XYZ", ctCall}, {"599", ctDigit},   {"JA1XYZ", ctCall}, {"TU", ctLetter}};
  for (const auto& [txt, type] : tokens) {
    for (const auto& c : testing::EncodeBaudot(txt)) text.push_back(Rec(c.Code, c.Ch, type));
    text.push_back(Rec(4, kChSpace, ctWhiteSpace));
  }
  TMessageStorage ms;
  TCallExtractor cx(&ms, &BenchValidator());
  TCharInfoArray msg;
  msg.reserve(32);
  std::size_t k = 0;
  for (auto _ : state) {
    const TCharInfo& r = text[k % text.size()];
    ms.PutRawChar(r);
    if (k % 8 == 0 && ms.HiChar() >= 24)
      msg.assign(ms.Chars().begin() + (ms.HiChar() - 24), ms.Chars().begin() + ms.HiChar() + 1);
    else
      msg.assign(1, r);
    ms.PutCorrChars(msg);
    if (withExtractor) benchmark::DoNotOptimize(cx.Update(static_cast<int>(ms.ChangedChars().size())));
    ++k;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetLabel(withExtractor ? "storage + extractor" : "storage alone");
}
BENCHMARK(BM_CallExtractorStream)->Arg(0)->Arg(1);

}  // namespace
