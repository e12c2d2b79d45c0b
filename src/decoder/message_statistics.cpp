#include "decoder/message_statistics.h"

#include <charconv>
#include <cmath>
#include <mutex>
#include <utility>

#include "dsp/errors.h"
#include "files/data_folders.h"
#include "files/ini_file.h"

namespace brenvo {

TWordType WordTypeOf(TStateType t) {
  if (t <= ctCQ) return t;
  if (t >= ctCallStruC && t <= ctCallPort) return ctCall;
  if (t >= ctExchangePatt && t <= ctExchangeTxt) return ctExchange;
  return ctSquelch;  // ctWord, ctNone
}

void InitCallsignStatistics(TCallsignPatternStatistics& call) {
  call.Structs = {{"C", 0.806858f},  {"CS", 0.076643f},  {"CSS", 0.002267f}, {"PC", 0.075624f},
                  {"PCS", 0.011884f}, {"CP", 0.026237f}, {"CPS", 0.000485f}};
  call.PrefPatt = {{"@", 0.199743f}, {"@@", 0.74399f}, {"n@", 0.054979f}, {"n@@", 0.001288f}};
  call.Digits = {{"n", 0.939686f}, {"nn", 0.052986f}, {"nnn", 0.00501f}, {"nnnn", 0.002317f}};
  call.Letters = {{"@", 0.2f},          {"@@", 0.392918f},     {"@@@", 0.571806f},
                  {"@@@@", 0.0009582f}, {"@@@@@", 0.0002967f}, {"@@@@@@", 0.000134f}};
  call.PortPrefPatt = {{"n@@", 0.002199f}, {"@n@", 0.008175f}, {"@nn", 0.014827f}, {"@@n@", 0.018811f},
                       {"n@", 0.045966f},  {"n@n", 0.054554f}, {"@", 0.055701f},   {"@n", 0.08404f},
                       {"@@", 0.219683f},  {"@@n", 0.496044f}};
  call.SuffPatt = {{"FJL", 0.000367f}, {"QRPP", 0.001446f}, {"ANT", 0.001675f}, {"LGT", 0.005002f},
                   {"AM", 0.007022f},  {"A", 0.007f},       {"LH", 0.015627f},  {"MM", 0.049772f},
                   {"QRP", 0.067441f}, {"M", 0.117189f},    {"n", 0.272562f},   {"P", 0.439088f}};
  // The model takes the structure weights by position.
  BRENVO_ASSERT(call.Structs.size() == 7);
}

void InitMessageStatistics(TRttyMessageStatistics& stats) {
  stats.ContestName = "DX";
  InitCallsignStatistics(stats.Call);
  stats.Exchanges = {{"599", 0.77149f},
                     {"599<~599>", 0.20503f},
                     {"5n9<~5n9>", 0.01f},
                     {"{2,3,4}n9<~{2,3,4}n9>", 0.01f},
                     {"5NN", 0.01f},
                     {"5NN<~5NN>", 0.01f}};
  stats.CqWords = {{"CQ", 0.64622f}, {"CQCQ", 0.00459f}, {"CQDX", 0.01869f},
                   {"QRZ", 0.18419f}, {"TEST", 0.01706f}, {"UP", 0.07277f},
                   {"UP1", 0.05f},    {"UP2", 0.04f},      {"DN", 0.01f}};
  stats.WhiteSpaces = {{"_", 0.77f}, {"|", 0.028f}, {"\xA6", 0.17f}, {"\xB0", 0.03f}};
  stats.ExchangeSeparators = {{"_", 0.83085f},   {"__", 0.06319f},  {".", 0.00117f},   {"._", 0.00154f},
                              {"_._", 0.00019f}, {"_.", 0.00011f},  {"-", 0.09047f},   {"-_", 0.00271f},
                              {"_-_", 0.0087f},  {"_-", 0.00104f}};
  stats.WhiteSpaceTransitionProbs = {{0.2308f, 0.00095f, 0.09573f, 0.01201f, 0.66048f},
                                     {0.26746f, 0.04164f, 0.13001f, 0.04315f, 0.51771f},
                                     {0.19286f, 0.45003f, 0.13736f, 0.00493f, 0.2148f},
                                     {0.03011f, 0.00793f, 0.04826f, 0.7534f, 0.16027f}};
  stats.MessageTransitionProbs = {{
      {0.92f, 0.01f, 0.01f, 0.01f, 0.01f, 0.01f, 0.01f, 0.01f, 0.01f},
      {0.1198f, 0.10732f, 0.10258f, 0.10732f, 0.22909f, 0.04029f, 0.06193f, 0.00469f, 0.04293f},
      {0.12548f, 0.12476f, 0.6169f, 0.0341f, 0.29867f, 0.0f, 0.0f, 0.0f, 0.0f},
      {0.14772f, 0.12688f, 0.0642f, 0.1f, 0.09322f, 0.00008f, 0.0f, 0.0f, 0.0f},
      {0.11979f, 0.10802f, 0.20721f, 0.10219f, 0.0f, 0.2884f, 0.2095f, 0.04578f, 0.05719f},
      {0.05275f, 0.01792f, 0.0f, 0.0f, 0.92724f, 0.0f, 0.00065f, 0.0f, 0.0f},
      {0.15331f, 0.00296f, 0.00002f, 0.00001f, 0.84308f, 0.00056f, 0.0f, 0.0f, 0.0f},
      {0.01025f, 0.00041f, 0.0f, 0.0f, 0.98933f, 0.0f, 0.0f, 0.0f, 0.0f},
      {0.04074f, 0.03316f, 0.0f, 0.0f, 0.92609f, 0.0f, 0.0f, 0.0f, 0.0f},
  }};
  stats.ShiftTransitionProbs = {{
      {{{0.0f, 0.08657f, 0.91342f, 0.0f},  // skLTR
        {0.00977f, 0.99022f, 0.0f, 0.0f},
        {0.01985f, 0.98014f, 0.0f, 0.0f},
        {0.0f, 0.06071f, 0.93928f, 0.0f}}},
      {{{0.02506f, 0.97493f, 0.0f, 0.0f},  // skDIG
        {0.00274f, 0.01225f, 0.0f, 0.98499f},
        {0.52868f, 0.47131f, 0.0f, 0.0f},
        {0.0f, 0.01563f, 0.0f, 0.98436f}}},
      {{{0.0f, 0.1011f, 0.89889f, 0.0f},  // skSPC
        {0.01885f, 0.13968f, 0.84145f, 0.0f},
        {0.24904f, 0.03909f, 0.71185f, 0.0f},
        {0.0f, 0.3383f, 0.66169f, 0.0f}}},
  }};
  BRENVO_ASSERT(stats.WhiteSpaceTransitionProbs.size() == stats.WhiteSpaces.size());
  BRENVO_ASSERT(stats.WhiteSpaceTransitionProbs[0].size() == stats.WhiteSpaces.size() + 1);
}

std::string GetContestsIniFileName() { return GetAppDataFolder() + "Products/Holmcast/Contests.ini"; }

bool TryParseFloat(std::string_view text, float& value) {
  auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // from_chars would also take "inf" and "nan": only digits or "." may start.
  if (text.empty() || !((text.front() >= '0' && text.front() <= '9') || text.front() == '.')) return false;
  float v = 0.0f;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return false;
  value = negative ? -v : v;
  return true;
}

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != prefix[i]) return false;
  }
  return true;
}

float ParseProbability(std::string_view text) {
  float v = 0.0f;
  if (!TryParseFloat(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  // A negative weight would make the normalised link weights meaningless.
  if (v < 0.0f) throw EConvertError("'" + std::string(text) + "' is not a valid probability");
  return v;
}

}  // namespace

std::string ContestEntryPlace(const std::string& fileName, const std::string& section, const std::string& key) {
  return fileName + ", section [" + section + "], key " + key;
}

void LoadContestFromFile(TRttyMessageStatistics& stats, std::string name, const std::string& fileName,
                         TContestKeys* contestKeys) {
  if (name.empty()) name = "DX";
  // Collected apart and committed at the end: a bad number leaves Stats as it was.
  TPatternInfoArray cqWords;
  TPatternInfoArray exchanges;
  TContestKeys keys;
  // Entry by entry: a section of millions of lines is never copied whole.
  TIniFile(fileName).ForEachEntry(name, [&](std::string_view key, std::string_view value) {
    if (key.empty()) return;
    const std::size_t bar = value.find('|');
    if (bar == std::string_view::npos || bar == 0) return;
    const bool isCq = StartsWithNoCase(key, "CQ");
    if (!isCq && !StartsWithNoCase(key, "EXCHANGE")) return;
    float prob = 0.0f;
    try {
      // The model takes a byte 00 for no character at all.
      if (value.find('\0') < bar) throw EConvertError("a pattern cannot hold a NUL byte");
      prob = ParseProbability(value.substr(bar + 1));
    } catch (const EConvertError& e) {
      throw EConvertError(ContestEntryPlace(fileName, name, std::string(key)) + ": " + e.what());
    }
    if (contestKeys) (isCq ? keys.CqWords : keys.Exchanges).emplace_back(key);
    (isCq ? cqWords : exchanges).push_back(TPatternInfo{std::string(value.substr(0, bar)), prob});
  });
  stats.ContestName = std::move(name);
  stats.CqWords = std::move(cqWords);
  stats.Exchanges = std::move(exchanges);
  if (contestKeys) *contestKeys = std::move(keys);
}

void LoadContest(TRttyMessageStatistics& stats, std::string name) {
  LoadContestFromFile(stats, std::move(name), GetContestsIniFileName());
}

namespace {

std::mutex g_statsMutex;
std::shared_ptr<const TRttyMessageStatistics> g_stats;

}  // namespace

std::shared_ptr<const TRttyMessageStatistics> MessageStatistics() {
  std::lock_guard<std::mutex> lock(g_statsMutex);
  if (!g_stats) {
    auto s = std::make_shared<TRttyMessageStatistics>();
    InitMessageStatistics(*s);
    g_stats = std::move(s);
  }
  return g_stats;
}

void PublishMessageStatistics(std::shared_ptr<const TRttyMessageStatistics> stats) {
  BRENVO_ASSERT(stats != nullptr);
  std::lock_guard<std::mutex> lock(g_statsMutex);
  g_stats = std::move(stats);
}

}  // namespace brenvo
