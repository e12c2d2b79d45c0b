#include "callsigns/callsign_pattern_splitter.h"

namespace brenvo {
namespace {

// Vocabularies: ":" separates and bounds the entries, a lookup searches for
// ":" + text + ":".
constexpr std::string_view kModifiers = ":A:B:M:P:MM:AM:QRP:QRPP:LH:LGT:ANT:WAP:AAW:FJL:";
constexpr std::string_view kPrefixPatterns = ":@:@@:@@#:@@#@:@#:@#@:@##:#@:#@@:#@#:#@@#:";
constexpr std::string_view kStructures = ":C:C#:C#M:C#T:CM:CM#:CMM:CMP:CMT:CP:CPM:CT:PC:PCM:PCT:";
constexpr std::string_view kOrdinaryCallPatterns =
    ":@#@@:@#@@@:@##@:@##@@:@##@@@:@@#@:@@#@@:@@#@@@:#@#@:#@#@@:#@#@@@:";
// Single letters that are whole country prefixes when they stand first.
constexpr std::string_view kOneLetterPrefixes = "FGIMRW";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return c >= 'A' && c <= 'Z';
}

bool InVocabulary(std::string_view List, std::string_view Entry) {
  // No entry holds ":", and an empty entry is never listed.
  if (Entry.empty() || Entry.find(':') != std::string_view::npos) return false;
  for (std::size_t p = List.find(Entry); p != std::string_view::npos; p = List.find(Entry, p + 1))
    if (List[p - 1] == ':' && p + Entry.size() < List.size() && List[p + Entry.size()] == ':')
      return true;
  return false;
}

// Replaces every non-overlapping occurrence, scanning left to right; the
// replacement text is not scanned again.
void ReplaceAll(std::string& S, std::string_view From, std::string_view To) {
  std::size_t p = S.find(From);
  if (p == std::string::npos) return;
  std::string r;
  std::size_t done = 0;
  for (; p != std::string::npos; p = S.find(From, done)) {
    r.append(S, done, p - done).append(To);
    done = p + From.size();
  }
  r.append(S, done);
  S.swap(r);
}

// Length of the run of Ch at Pattern[Pos...].
std::size_t RunOf(std::string_view Pattern, std::size_t Pos, char Ch) {
  std::size_t n = 0;
  while (Pos + n < Pattern.size() && Pattern[Pos + n] == Ch) ++n;
  return n;
}

}  // namespace

TCallsignPatternSplitter::TCallsignPatternSplitter() {
  Pieces.SetDelimiter('/');
}

std::string TCallsignPatternSplitter::PieceToPattern(std::string_view Piece) {
  std::string p(Piece);
  for (char& c : p) {
    if (IsDigit(c))
      c = '#';
    else if (IsLetter(c))
      c = '@';
    else if (c != '/')
      c = '*';
  }
  return p;
}

bool TCallsignPatternSplitter::IsKnownPrefix(int32_t) const {
  return true;
}

bool TCallsignPatternSplitter::IsModifierPiece(int32_t i) const {
  return InVocabulary(kModifiers, Pieces.Strings(i));
}

bool TCallsignPatternSplitter::IsUniformPiece(int32_t i) const {
  const std::string& s = Pieces.Strings(i);
  if (s.size() == 2) return true;
  if (s.empty()) return false;
  bool letters = true;
  bool digits = true;
  for (char c : s) {
    letters = letters && IsLetter(c);
    digits = digits && IsDigit(c);
  }
  return letters || digits;
}

bool TCallsignPatternSplitter::IsPrefixPiece(int32_t i) const {
  return InVocabulary(kPrefixPatterns, Patterns[static_cast<std::size_t>(i)]) && IsKnownPrefix(i);
}

bool TCallsignPatternSplitter::IsAmbiguousPiece(int32_t i) const {
  const std::string& p = Patterns[static_cast<std::size_t>(i)];
  return p == "@@#@" || p == "@#@";
}

bool TCallsignPatternSplitter::IsCallPiece(int32_t i) const {
  const std::string_view p = Patterns[static_cast<std::size_t>(i)];
  // Prefix part: the first of @@, @, #@@, #@ that matches; no other is tried.
  std::size_t pos;
  if (p.starts_with("@@"))
    pos = 2;
  else if (p.starts_with("@"))
    pos = 1;
  else if (p.starts_with("#@@"))
    pos = 3;
  else if (p.starts_with("#@"))
    pos = 2;
  else
    return false;
  const std::size_t digits = RunOf(p, pos, '#');
  if (digits < 1 || digits > 4) return false;
  pos += digits;
  const std::size_t letters = RunOf(p, pos, '@');
  if (letters < 1 || letters > 6) return false;
  return pos + letters == p.size();
}

char TCallsignPatternSplitter::RoleOf(int32_t i) const {
  const std::string& s = Pieces.Strings(i);
  if (s.empty()) return '_';
  if (i == 0 && s == "MM") return 'P';
  if (i == 0 && s.size() == 1 && kOneLetterPrefixes.find(s[0]) != std::string_view::npos)
    return 'P';
  if (IsModifierPiece(i)) return 'M';
  if (s.size() == 1) return IsDigit(s[0]) ? '#' : 'T';
  if (IsUniformPiece(i)) return s.size() < 3 && IsPrefixPiece(i) ? 'P' : 'T';
  if (IsAmbiguousPiece(i)) {
    if (!IsPrefixPiece(i)) return 'C';
    return IsCallPiece(i) ? 'U' : 'P';
  }
  if (IsPrefixPiece(i)) return 'P';
  if (IsCallPiece(i)) return 'C';
  return '?';
}

bool TCallsignPatternSplitter::Split(std::string_view Call) {
  FStructure.clear();
  FCall.assign(Call);
  FOk = false;
  for (char c : Call) {
    if (!IsDigit(c) && !IsLetter(c) && c != '/') {
      Pieces.Clear();
      return false;
    }
  }
  Pieces.SetDelimText(Call);
  const int32_t n = Pieces.Count();
  if (n < 1 || n > static_cast<int32_t>(Patterns.size())) return false;
  for (std::size_t i = 0; i < Patterns.size(); ++i)
    Patterns[i] = static_cast<int32_t>(i) < n
                      ? PieceToPattern(Pieces.Strings(static_cast<int32_t>(i)))
                      : std::string();
  if (n == 1) {
    FStructure.assign(1, 'C');  // not = "C": GCC 12 warns falsely (-Wrestrict)
    FOk = IsCallPiece(0);
    return FOk;
  }
  FStructure.assign(static_cast<std::size_t>(n), ' ');
  for (int32_t i = 0; i < n; ++i) FStructure[static_cast<std::size_t>(i)] = RoleOf(i);

  // Decide the pieces that could be a prefix or a call by their neighbours.
  ReplaceAll(FStructure, "UU", "PC");
  ReplaceAll(FStructure, "CU", "CP");
  ReplaceAll(FStructure, "UC", "PC");
  ReplaceAll(FStructure, "UP", "CP");
  ReplaceAll(FStructure, "PU", "PC");
  ReplaceAll(FStructure, "U", "C");

  // Two calls in a row: a second one starting with B (Chinese prefixes) or a
  // first one starting with VU4/VU7 (Andaman, Lakshadweep) is the prefix.
  const std::size_t cc = FStructure.find("CC");
  if (cc != std::string::npos) {
    const int32_t first = static_cast<int32_t>(cc);
    const std::string_view firstPiece = Pieces.Strings(first);
    if (Pieces.Strings(first + 1).starts_with('B'))
      FStructure[cc + 1] = 'P';
    else if (firstPiece.starts_with("VU4") || firstPiece.starts_with("VU7"))
      FStructure[cc] = 'P';
  }
  FOk = InVocabulary(kStructures, FStructure);
  return FOk;
}

std::string TCallsignPatternSplitter::PieceOfRole(char Role) const {
  const std::size_t p = FStructure.find(Role);
  if (p == std::string::npos || static_cast<int32_t>(p) >= Pieces.Count()) return std::string();
  return Pieces.Strings(static_cast<int32_t>(p));
}

std::string TCallsignPatternSplitter::StripModifiers() const {
  std::string s;
  for (std::size_t i = FStructure.size(); i-- > 0;) {
    const char r = FStructure[i];
    if ((r != '#' && r != 'C' && r != 'P') || static_cast<int32_t>(i) >= Pieces.Count()) continue;
    if (!s.empty()) s += '/';
    s += Pieces.Strings(static_cast<int32_t>(i));
  }
  return s;
}

bool TCallsignPatternSplitter::IsSpecialEvent() const {
  const std::size_t p = FStructure.find('C');
  if (p == std::string::npos || p >= Patterns.size()) return false;
  return !InVocabulary(kOrdinaryCallPatterns, Patterns[p]);
}

bool IsItuPrefix(std::string_view Call) {
  if (Call.size() < 2) return false;
  const char c = Call[1];
  const auto in = [c](std::string_view set) { return set.find(c) != std::string_view::npos; };
  switch (Call[0]) {
    case '0':
    case 'Q':
      return false;
    case '1':
      return c == 'A' || c == 'B';
    case '4':
      return !(IsDigit(c) || c == 'N');
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
    case 'O':
    case 'X':
      return !IsDigit(c);
    case 'A':
    case 'C':
    case 'D':
    case 'L':
    case 'P':
    case 'V':
      return !in("01");
    case 'E':
      return !in("0189");
    case 'H':
      return !in("015");
    case 'J':
    case 'T':
      return !in("019");
    case 'S':
      return !in("14");
    case 'Y':
      return !in("01Z");
    case 'Z':
      return !in("0145679");
    default:
      return true;
  }
}

}  // namespace brenvo
