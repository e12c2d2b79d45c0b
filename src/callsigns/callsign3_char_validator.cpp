#include "callsigns/callsign3_char_validator.h"

#include <filesystem>
#include <system_error>

#include "dsp/errors.h"
#include "files/data_file.h"
#include "files/data_folders.h"

namespace brenvo {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The rating a line's first character stands for; false for an unknown marker.
bool MarkerResult(char Marker, TValdResult& Result) {
  switch (Marker) {
    case ' ':
      Result = vrGood;
      return true;
    case '+':
      Result = vrPerfect;
      return true;
    case '-':
      Result = vrWarning;
      return true;
    case 'x':
      Result = vrError;
      return true;
    default:
      return false;
  }
}

// Fills Patterns from the file; false when the file is unreadable or holds an
// empty line or an unknown marker.
bool LoadPatterns(const std::string& FileName, TVuqStringList& Patterns) {
  std::string bytes;
  if (!ReadFileBytes(FileName, bytes)) return false;
  Patterns.SetText(bytes);
  for (int32_t i = 0; i < Patterns.Count(); ++i) {
    const std::string& line = Patterns.Strings(i);
    TValdResult result = vrWarning;
    if (line.empty() || !MarkerResult(line[0], result)) return false;
    Patterns.SetObjects(i, result);
    Patterns.SetStrings(i, line.size() > 2 ? line.substr(2) : std::string());
  }
  return true;
}

}  // namespace

void TCallsign3CharValidator::LoadFromFile(const std::string& FileName) {
  FInitialized = false;
  FPatterns.Clear();
  FPatterns.SetSorted(false);
  const std::string path =
      ResolveFileNoCase(FileName.empty() ? GetReferenceFolder() + kPatt3ChFileName : FileName);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return;
  if (!LoadPatterns(path, FPatterns)) {
    FPatterns.Clear();
    return;
  }
  // A stable sort keeps file order among equal patterns, and Find returns the
  // first of them: the first line of a pattern counts.
  FPatterns.SetSorted(true);
  FInitialized = true;
}

TValdResult TCallsign3CharValidator::Validate(std::string_view Call) const {
  int32_t index = 0;
  if (!FPatterns.Find(CallToPattern(Call), index)) return vrWarning;
  return static_cast<TValdResult>(FPatterns.Objects(index));
}

std::string TCallsign3CharValidator::CallToPattern(std::string_view Call) {
  if (Call.size() < 3) return std::string(Call);
  char mask[3];
  for (std::size_t i = 0; i < 3; ++i) mask[i] = IsDigit(Call[i]) ? '#' : '@';
  const std::string_view m(mask, 3);
  const std::size_t kept = m == "@#@" ? 2 : m == "#@@" ? 4 : 3;
  std::string p(Call);
  for (std::size_t i = kept; i < p.size(); ++i) p[i] = IsDigit(p[i]) ? '#' : '@';
  return p;
}

}  // namespace brenvo
