// What RTTY operators send, as weights the message model is built from:
// call-sign structure, CQ words, contest exchanges, white space, word-kind
// and shift transitions. The built-in tables were measured once; a contest
// from the contest file replaces only the CQ words and the exchanges.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/state_type.h"
#include "dsp/types.h"

namespace brenvo {

// Shift class of a model character: letters, figures, or spacing (keeps the mode).
enum TShiftKind : uint8_t { skLTR, skDIG, skSPC };
inline constexpr int kShiftKindCount = 3;

// One pattern with its weight. Patt is 8-bit text of the internal character
// set: "@" any letter, "n" any digit, "p" any punctuation, "~" separator or no
// character, "_" blank, "|" line feed; exchanges add "<...>" repeat, "[...]"
// optional, "{a,b}" equally weighted literal alternatives. Prob is a weight
// >= 0 (the model normalises; 0 means the entry is unused).
struct TPatternInfo {
  std::string Patt;
  float Prob = 0.0f;
  bool operator==(const TPatternInfo&) const = default;
};
using TPatternInfoArray = std::vector<TPatternInfo>;

struct TCallsignPatternStatistics {
  TPatternInfoArray Structs;       // 7 call-sign structures, weights taken by position
  TPatternInfoArray PrefPatt;      // prefix patterns
  TPatternInfoArray Digits;        // digit group
  TPatternInfoArray Letters;       // letter group after the digits
  TPatternInfoArray PortPrefPatt;  // portable designators
  TPatternInfoArray SuffPatt;      // suffixes after "/"
  bool operator==(const TCallsignPatternStatistics&) const = default;
};

struct TRttyMessageStatistics {
  TCallsignPatternStatistics Call;
  TPatternInfoArray CqWords;             // replaced by LoadContest
  TPatternInfoArray Exchanges;           // replaced by LoadContest
  TPatternInfoArray WhiteSpaces;         // one character per entry
  TPatternInfoArray ExchangeSeparators;  // separators inside exchanges
  // n rows by n + 1 columns, n = WhiteSpaces.size(): row = current white
  // space, columns 0..n-1 = next white space, column n = end of the run.
  TSingleArray2D WhiteSpaceTransitionProbs;
  // [from][to] in TWordType order.
  std::array<std::array<float, kWordTypeCount>, kWordTypeCount> MessageTransitionProbs{};
  // [kind][from][to]; from: 0 entry in letters mode, 1 entry in figures mode,
  // 2 first shift state, 3 second shift state; to: 0 first shift state,
  // 1 second shift state, 2 character in letters mode, 3 character in figures mode.
  std::array<std::array<std::array<float, 4>, 4>, kShiftKindCount> ShiftTransitionProbs{};
  std::string ContestName;
  bool operator==(const TRttyMessageStatistics&) const = default;
};

// The word type a corrected character of a state of this type carries.
TWordType WordTypeOf(TStateType t);

// Fills the six call-sign arrays with the built-in tables.
void InitCallsignStatistics(TCallsignPatternStatistics& call);
// Fills the whole record with the built-in tables; ContestName "DX".
void InitMessageStatistics(TRttyMessageStatistics& stats);

// GetAppDataFolder() + "Products/Holmcast/Contests.ini".
std::string GetContestsIniFileName();

// Loads the CQ words and exchanges of the contest Name (empty = "DX") from
// the contest file into Stats and sets Stats.ContestName. A missing file or
// section, or a file the reader refuses (TIniFile::ReadError, which the main
// window reports once), leaves both lists empty (no error). A probability
// that is not a finite number >= 0 written with ".", or a pattern holding a
// NUL byte, raises EConvertError naming the file, the section and the key;
// Stats is then left exactly as it was before the call.
void LoadContest(TRttyMessageStatistics& stats, std::string name);
// The keys the loaded entries stand under, parallel to CqWords and Exchanges.
struct TContestKeys {
  std::vector<std::string> CqWords;
  std::vector<std::string> Exchanges;
};
// The same with an explicit contest file (tests, tools). Keys, when given,
// receives the key of each loaded entry.
void LoadContestFromFile(TRttyMessageStatistics& stats, std::string name, const std::string& fileName,
                         TContestKeys* keys = nullptr);
// Where an entry of the contest file stands, for messages:
// "FILE, section [NAME], key KEY".
std::string ContestEntryPlace(const std::string& fileName, const std::string& section, const std::string& key);

// Reads a decimal number with "." whatever the locale: optional blanks and
// sign, digits, ".", exponent. False for anything else, also inf and NaN.
bool TryParseFloat(std::string_view text, float& value);

// The process-wide statistics: an immutable snapshot, replaced whole, so the
// JSON server's threads can read the contest name and lists while the user
// interface changes the contest. The first call without a published record
// publishes the built-in statistics. Never null.
std::shared_ptr<const TRttyMessageStatistics> MessageStatistics();
void PublishMessageStatistics(std::shared_ptr<const TRttyMessageStatistics> stats);

}  // namespace brenvo
